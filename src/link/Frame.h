#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Frame layout, both directions: 16-bit little-endian total length L (every
// byte counted), command byte, payload of L - 5 bytes, CRC-16 little-endian.
inline constexpr size_t kFrameOverhead = 5;
inline constexpr size_t kMaxRequestPayload = 536;
inline constexpr size_t kMinReplyLength = 5;
inline constexpr size_t kMaxReplyLength = 32;

// Builds a complete frame around the payload.
std::vector<uint8_t> BuildFrame(uint8_t command, const uint8_t* payload, size_t size);

// Writes a frame into out (at least size + 5 bytes); returns its length.
size_t BuildFrameInto(uint8_t command, const uint8_t* payload, size_t size, uint8_t* out);

// True when bytes[0..length) is one whole frame: its length field says length
// and its CRC-16 checks.
bool IsWholeFrame(const uint8_t* bytes, size_t length);
