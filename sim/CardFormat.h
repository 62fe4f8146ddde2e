#pragma once

#include <array>
#include <cstdint>
#include <vector>

// Command byte of the frame that carries a card number in binary output.
inline constexpr uint8_t kCardFrameCommand = 0xC1;

// The frame 0xC1 whose payload is the card number.
std::vector<uint8_t> CardFrame(const std::vector<uint8_t>& card);

// What the reader sends on its serial line when the card (1 to 8 bytes, most
// significant first) comes into the field, as its configuration says: a card
// frame in binary mode, text in ASCII mode, nothing in Wiegand or invalid mode.
std::vector<uint8_t> FormatCard(const std::array<uint8_t, 8>& config,
                                const std::vector<uint8_t>& card);
