#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace upgrade {

inline constexpr size_t kHeaderSize = 16;
inline constexpr size_t kBlockSize = 520;
inline constexpr size_t kTableSize = 2080;
inline constexpr size_t kRecordSize = 8;

// One firmware upgrade image as it lies in memory.
using Image = std::span<const uint8_t>;

// Header fields (callers check the image first; these read the header bytes).
uint16_t TypeCode(Image image);    // offset 0, most significant byte first
uint16_t Version(Image image);     // offset 2, little-endian
uint16_t BlockCount(Image image);  // offset 4, little-endian

// Integrity check: the word at offset 6 is 0 and the length is 520 * N + 2096.
bool IsIntact(Image image);

const uint8_t* Header(Image image);                 // 16 bytes
const uint8_t* Block(Image image, uint16_t index);  // 520 bytes
// The 8-byte record for a reader's serial number: low byte s, group s >> 6,
// record s & 0x3F within the table after the blocks.
const uint8_t* SerialRecord(Image image, uint16_t serialNumber);
size_t SerialRecordOffset(uint16_t serialNumber);  // offset within the table

// The built-in image for a reader type and its question caption.
struct Offer {
    Image image;
    const char* caption;  // "Upgrade ZANTOR-40" / "Upgrade ZANTOR-50"
};
std::optional<Offer> BuiltInImageFor(uint16_t typeCode);

// A stand-in image has the layout of a real one but filler for its blocks and
// records; it is marked by the text STAND-IN in header bytes 8 to 15.
bool IsStandIn(Image image);

// Progress bar maximum during the blocks: N * 100 / 60.
inline int BlocksBarMaximum(uint16_t blockCount) { return blockCount * 100 / 60; }

}  // namespace upgrade
