#include "Monitor.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace monitor {

namespace {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kLf = 0x0A;
constexpr uint8_t kCr = 0x0D;
constexpr uint8_t kStar = '*';

// The M and T requests: the reader's line may hand them back as an echo.
const protocol::FixedRequest kIdentifyRequest =
    protocol::RequestWithoutPayload(protocol::kIdentify);
const protocol::FixedRequest kCardInFieldRequest =
    protocol::RequestWithoutPayload(protocol::kCardInField);

bool IsPrintable(uint8_t byte) { return byte >= 0x20 && byte <= 0x7E; }

bool Equals(const uint8_t* bytes, size_t count, const std::array<uint8_t, 5>& pattern) {
    return count == pattern.size() && std::equal(pattern.begin(), pattern.end(), bytes);
}

void AppendHex(std::string& line, uint8_t byte) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", byte);
    line += digits;
}

void AppendBinaryLines(const uint8_t* bytes, size_t count, std::vector<std::string>& lines,
                       const LogWords& words) {
    for (const auto& [at, length] : BinaryPieces(bytes, count)) {
        lines.push_back(BinaryLine(bytes + at, length, words));
    }
}

void AppendTextLines(const uint8_t* bytes, size_t count, std::vector<std::string>& lines) {
    // A card number framed by STX ends at ETX, any other at LF; a '*' starts a
    // line of its own.
    uint8_t terminator = kLf;
    size_t pos = 0;
    for (size_t i = 0; i < count; ++i) {
        if (bytes[i] == kStx) terminator = kEtx;
        if (bytes[i] == terminator) {
            lines.push_back(TextLine(bytes + pos, i + 1 - pos));
            pos = i + 1;
        } else if (bytes[i] == kStar && pos != i) {
            lines.push_back(TextLine(bytes + pos, i - pos));
            pos = i;
        }
    }
    if (pos < count) lines.push_back(TextLine(bytes + pos, count - pos));
}

}  // namespace

bool IsTextChunk(const uint8_t* bytes, size_t count) {
    size_t i = 0;
    while (i < count) {
        const uint8_t byte = bytes[i];
        if (byte == kCr && i + 1 < count && bytes[i + 1] == kLf) {
            i += 2;
            continue;
        }
        const bool passes =
            IsPrintable(byte) || (byte == kStx && i == 0) || (byte == kEtx && i == count - 1);
        if (!passes) return false;
        ++i;
    }
    return true;
}

// Each frame starts with the low byte of its length; a length of 0 or one that
// runs past the chunk cannot be followed, so the rest goes as one piece.
std::vector<std::pair<size_t, size_t>> BinaryPieces(const uint8_t* bytes, size_t count) {
    std::vector<std::pair<size_t, size_t>> pieces;
    size_t i = 0;
    while (i < count) {
        const size_t length = bytes[i];
        if (length == 0 || i + length > count) {
            pieces.emplace_back(i, count - i);
            break;
        }
        pieces.emplace_back(i, length);
        i += length;
    }
    return pieces;
}

std::string TextLine(const uint8_t* bytes, size_t count) {
    std::string line;
    for (size_t i = 0; i < count; ++i) {
        switch (bytes[i]) {
            case kStx:
                line += "<STX>";
                break;
            case kEtx:
                line += "<ETX>";
                break;
            case kCr:
                line += "<CR>";
                break;
            case kLf:
                line += "<LF>";
                break;
            default:
                line += static_cast<char>(bytes[i]);
                break;
        }
    }
    return line;
}

std::string BinaryLine(const uint8_t* bytes, size_t count, const LogWords& words) {
    std::string line = words.received;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) line += ',';
        AppendHex(line, bytes[i]);
    }
    if (Equals(bytes, count, kIdentifyRequest) || Equals(bytes, count, kCardInFieldRequest)) {
        line += words.echo;
    }
    return line;
}

std::vector<std::string> ChunkToLines(const uint8_t* bytes, size_t count, const LogWords& words) {
    std::vector<std::string> lines;
    if (count == 0) return lines;
    if (IsTextChunk(bytes, count)) {
        AppendTextLines(bytes, count, lines);
    } else {
        AppendBinaryLines(bytes, count, lines, words);
    }
    return lines;
}

std::string LFrameText(const protocol::LFrame& frame) {
    std::string text = "08,00,4C";
    for (size_t i = 3; i < frame.size(); ++i) {
        text += ',';
        AppendHex(text, frame[i]);
    }
    return text;
}

std::string SentLine(uint8_t command, const LogWords& words) {
    std::string line = words.sent;
    bool first = true;
    for (uint8_t byte : protocol::RequestWithoutPayload(command)) {
        if (!std::exchange(first, false)) line += ',';
        AppendHex(line, byte);
    }
    return line;
}

}  // namespace monitor
