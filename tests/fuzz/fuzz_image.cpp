// Feeds arbitrary bytes as an upgrade image through the image checks and the
// look-ups that the transfer makes: nothing may reach outside the image, an
// intact image must yield its header, every block and a record for any serial
// number, and an image must never be due to a reader whose firmware is as new.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>

#include "UpgradeImage.h"

namespace {

volatile unsigned sink;

void Check(bool condition) {
    if (!condition) std::abort();
}

// Reads every byte of [part, part + size) so that the sanitizer sees any that
// lie outside the image, and checks that they lie inside.
unsigned Touch(upgrade::Image image, const uint8_t* part, size_t size) {
    if (part == nullptr) return 0;
    Check(part >= image.data() && part + size <= image.data() + image.size());
    unsigned sum = 0;
    for (size_t i = 0; i < size; ++i) sum += part[i];
    return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Two bytes of serial number and two that are not read (the seeds keep
    // their layout), then the image.
    if (size < 4) return 0;
    const uint16_t serialNumber = static_cast<uint16_t>(data[0] | data[1] << 8);
    const upgrade::Image image(data + 4, size - 4);

    const bool intact = upgrade::IsIntact(image);
    const uint16_t blocks = upgrade::BlockCount(image);
    unsigned sum = Touch(image, upgrade::Header(image), upgrade::kHeaderSize);
    sum += Touch(image, upgrade::SerialRecord(image, serialNumber), upgrade::kRecordSize);
    Check(upgrade::SerialRecordOffset(serialNumber) + upgrade::kRecordSize <= upgrade::kTableSize);
    for (uint32_t index = 0; index <= blocks; ++index) {
        const uint8_t* block = upgrade::Block(image, static_cast<uint16_t>(index));
        if (index == blocks) Check(block == nullptr);
        if (intact && index < blocks) Check(block != nullptr);
        sum += Touch(image, block, upgrade::kBlockSize);
        // Past what the image can hold nothing more can be found.
        if (block == nullptr) break;
    }
    if (intact) {
        Check(upgrade::Header(image) != nullptr);
        Check(upgrade::SerialRecord(image, serialNumber) != nullptr);
        Check(image.size() ==
              upgrade::kHeaderSize + upgrade::kBlockSize * blocks + upgrade::kTableSize);
    }

    sum += upgrade::IsStandIn(image) ? 1 : 0;
    sink = sum;
    return 0;
}
