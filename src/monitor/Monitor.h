#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Protocol.h"

namespace monitor {

inline constexpr size_t kMaxLogLines = 500;

// The words around the bytes in the log, in the window's own language unless
// a front end gives them in another.
struct LogWords {
    std::string sent = "Wysłane: ";
    std::string received = "Odebrane: ";
    std::string echo = " - echo wysłanego rozkazu";
};

// A chunk is text when every byte passes: STX at position 0, ETX at the last
// position, CR immediately followed by LF, or printable 0x20..0x7E.
bool IsTextChunk(const uint8_t* bytes, size_t count);

// One text line with the control bytes named (<STX>, <ETX>, <CR>, <LF>).
std::string TextLine(const uint8_t* bytes, size_t count);

// "Odebrane: " and the bytes as upper-case hex separated by commas, with
// " - echo wysłanego rozkazu" for the M and T request frames.
std::string BinaryLine(const uint8_t* bytes, size_t count, const LogWords& words = {});

// Where a binary chunk's frames lie, as (offset, length), by their length
// bytes; a length of 0, or one that runs past the chunk, leaves the rest as one
// piece.
std::vector<std::pair<size_t, size_t>> BinaryPieces(const uint8_t* bytes, size_t count);

// The log lines of one received chunk (1..256 bytes), in order: binary chunks
// split by their length bytes, text chunks at the terminator and at '*'.
std::vector<std::string> ChunkToLines(const uint8_t* bytes, size_t count,
                                      const LogWords& words = {});

// The text shown for an L frame: "08,00,4C,..." (the frame comes from
// protocol::BuildLFrame).
std::string LFrameText(const protocol::LFrame& frame);

// The line logged before a request without payload is sent:
// "Wysłane: 05,00,54,60,3E" for T.
std::string SentLine(uint8_t command, const LogWords& words = {});

}  // namespace monitor
