// Feeds arbitrary chunks (1 to 256 bytes, as one poll delivers them) through the
// receive monitor's classification and splitting: the text/binary decision must
// follow the byte rules, and the log lines must show every byte of the chunk
// exactly once, in order, cut where the rules cut.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "Monitor.h"

namespace {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kLf = 0x0A;
constexpr uint8_t kCr = 0x0D;
const std::string kPrefix = "Odebrane: ";
const std::string kEcho = " - echo wysłanego rozkazu";

void Check(bool condition) {
    if (!condition) std::abort();
}

// The classification stated byte by byte: a byte passes on its own, or as STX
// first, ETX last, or one half of a CR LF pair.
bool PassesAsText(const uint8_t* bytes, size_t count, size_t i) {
    const uint8_t byte = bytes[i];
    if (byte >= 0x20 && byte <= 0x7E) return true;
    if (byte == kStx && i == 0) return true;
    if (byte == kEtx && i == count - 1) return true;
    if (byte == kCr) return i + 1 < count && bytes[i + 1] == kLf;
    return byte == kLf && i > 0 && bytes[i - 1] == kCr;
}

int HexDigit(char ch) {
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    std::abort();
}

// The bytes of one "Odebrane: " line, and whether it carries the echo suffix.
std::vector<uint8_t> ParseBinaryLine(std::string line, bool& echo) {
    Check(line.compare(0, kPrefix.size(), kPrefix) == 0);
    echo = line.size() >= kEcho.size() &&
           line.compare(line.size() - kEcho.size(), kEcho.size(), kEcho) == 0;
    if (echo) line.resize(line.size() - kEcho.size());
    std::vector<uint8_t> bytes;
    for (size_t i = kPrefix.size(); i < line.size(); i += 3) {
        Check(i + 2 <= line.size());
        bytes.push_back(static_cast<uint8_t>(HexDigit(line[i]) * 16 + HexDigit(line[i + 1])));
        Check(i + 2 == line.size() || line[i + 2] == ',');
    }
    Check(!bytes.empty());
    return bytes;
}

bool IsEchoPattern(const std::vector<uint8_t>& piece) {
    return piece == std::vector<uint8_t>{0x05, 0x00, 0x4D, 0xA1, 0xF4} ||
           piece == std::vector<uint8_t>{0x05, 0x00, 0x54, 0x60, 0x3E};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 256) return 0;
    const std::vector<std::string> lines = monitor::ChunkToLines(data, size);
    Check(!lines.empty() && lines.size() <= size);

    bool text = true;
    for (size_t i = 0; i < size; ++i) text = text && PassesAsText(data, size, i);
    Check(monitor::IsTextChunk(data, size) == text);

    if (text) {
        std::string all;
        for (const std::string& line : lines) {
            Check(!line.empty());
            all += line;
        }
        Check(all == monitor::TextLine(data, size));
        return 0;
    }
    // Binary: each piece but the last is as long as its first byte says; the
    // last one either is too or holds what is left.
    size_t at = 0;
    for (size_t k = 0; k < lines.size(); ++k) {
        bool echo = false;
        const std::vector<uint8_t> piece = ParseBinaryLine(lines[k], echo);
        Check(echo == IsEchoPattern(piece));
        Check(at + piece.size() <= size);
        for (size_t i = 0; i < piece.size(); ++i) Check(piece[i] == data[at + i]);
        const bool framed = piece[0] == piece.size();
        const bool rest = at + piece.size() == size && (data[at] == 0 || at + data[at] > size);
        Check(k + 1 < lines.size() ? framed : framed || rest);
        at += piece.size();
    }
    Check(at == size);
    return 0;
}
