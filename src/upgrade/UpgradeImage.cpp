#include "UpgradeImage.h"

#include <algorithm>
#include <string_view>

// Defined in the source generated at build time from firmware/zantor40.bin and
// firmware/zantor50.bin.
extern const unsigned char kImageZantor40[];
extern const unsigned long kImageZantor40Size;
extern const unsigned char kImageZantor50[];
extern const unsigned long kImageZantor50Size;

namespace upgrade {

namespace {

constexpr size_t kVersionOffset = 2;
constexpr size_t kBlockCountOffset = 4;
constexpr size_t kReservedOffset = 6;
constexpr size_t kMarkOffset = 8;
constexpr std::string_view kStandInMark = "STAND-IN";
constexpr size_t kRecordsPerGroup = 65;
constexpr size_t kGroupSize = kRecordsPerGroup * kRecordSize;

// The reader types that the program carries an image for.
constexpr uint16_t kTypeZantor40 = 1064;
constexpr uint16_t kTypeZantor50 = 2098;

uint16_t WordAt(Image image, size_t offset) {
    if (image.size() < offset + 2) return 0;
    return static_cast<uint16_t>(image[offset] | (image[offset + 1] << 8));
}

size_t TableOffset(uint16_t blockCount) { return kHeaderSize + kBlockSize * blockCount; }

// The bytes [offset, offset + size) of the image, or nullptr when the image
// does not hold them all.
const uint8_t* Slice(Image image, size_t offset, size_t size) {
    if (offset > image.size() || image.size() - offset < size) return nullptr;
    return image.data() + offset;
}

}  // namespace

uint16_t TypeCode(Image image) {
    if (image.size() < 2) return 0;
    return static_cast<uint16_t>(image[0] << 8 | image[1]);
}

uint16_t Version(Image image) { return WordAt(image, kVersionOffset); }

uint16_t BlockCount(Image image) { return WordAt(image, kBlockCountOffset); }

bool IsIntact(Image image) {
    if (image.size() < kHeaderSize) return false;
    return WordAt(image, kReservedOffset) == 0 &&
           image.size() == TableOffset(BlockCount(image)) + kTableSize;
}

const uint8_t* Header(Image image) { return Slice(image, 0, kHeaderSize); }

const uint8_t* Block(Image image, uint16_t index) {
    if (index >= BlockCount(image)) return nullptr;
    return Slice(image, kHeaderSize + kBlockSize * index, kBlockSize);
}

size_t SerialRecordOffset(uint16_t serialNumber) {
    // Only the low byte of the serial number chooses the record; the 65th
    // record of each group is never chosen.
    const size_t low = serialNumber & 0xFF;
    return (low >> 6) * kGroupSize + (low & 0x3F) * kRecordSize;
}

const uint8_t* SerialRecord(Image image, uint16_t serialNumber) {
    return Slice(image, TableOffset(BlockCount(image)) + SerialRecordOffset(serialNumber),
                 kRecordSize);
}

std::optional<Offer> BuiltInImageFor(uint16_t typeCode) {
    switch (typeCode) {
        case kTypeZantor40:
            return Offer{Image(kImageZantor40, kImageZantor40Size), "Upgrade ZANTOR-40"};
        case kTypeZantor50:
            return Offer{Image(kImageZantor50, kImageZantor50Size), "Upgrade ZANTOR-50"};
        default:
            return std::nullopt;
    }
}

bool IsStandIn(Image image) {
    const uint8_t* mark = Slice(image, kMarkOffset, kStandInMark.size());
    return mark != nullptr && std::equal(kStandInMark.begin(), kStandInMark.end(), mark);
}

}  // namespace upgrade
