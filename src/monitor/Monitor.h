#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace monitor {

inline constexpr size_t kMaxLogLines = 500;

// A chunk is text when every byte passes: STX at position 0, ETX at the last
// position, CR immediately followed by LF, or printable 0x20..0x7E.
bool IsTextChunk(const uint8_t* bytes, size_t count);

// One text line with the control bytes named (<STX>, <ETX>, <CR>, <LF>).
std::string TextLine(const uint8_t* bytes, size_t count);

// "Odebrane: " and the bytes as upper-case hex separated by commas, with
// " - echo wysłanego rozkazu" for the M and T request frames.
std::string BinaryLine(const uint8_t* bytes, size_t count);

// The log lines of one received chunk (1..256 bytes), in order: binary chunks
// split by their length bytes, text chunks at the terminator and at '*'.
std::vector<std::string> ChunkToLines(const uint8_t* bytes, size_t count);

// The L test command frame and the text shown for it.
std::array<uint8_t, 8> BuildLFrame(bool green, bool red, uint8_t time, uint8_t buzzer);
std::string LFrameText(const std::array<uint8_t, 8>& frame);  // "08,00,4C,..."

}  // namespace monitor
