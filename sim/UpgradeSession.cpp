#include "UpgradeSession.h"

#include <algorithm>
#include <utility>

namespace {

// The image layout is read here on its own, not with the program's image code,
// so that a fault there is not mirrored by the program's test partner.
constexpr size_t kHeaderSize = 16;
constexpr size_t kBlockSize = 520;
constexpr size_t kRecordSize = 8;
constexpr size_t kGroupSize = 65 * kRecordSize;
constexpr size_t kTableSize = 4 * kGroupSize;

uint16_t Le16(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] | bytes[1] << 8); }

}  // namespace

bool IsImageLayout(const std::vector<uint8_t>& bytes) {
    return bytes.size() >= kHeaderSize && Le16(bytes.data() + 6) == 0 &&
           bytes.size() == kHeaderSize + kBlockSize * Le16(bytes.data() + 4) + kTableSize;
}

UpgradeSession::UpgradeSession(uint16_t typeCode, uint16_t serialNumber,
                               std::vector<uint8_t> expectedImage)
    : typeCode(typeCode), serialNumber(serialNumber), image(std::move(expectedImage)) {}

const uint8_t* UpgradeSession::Expected(size_t offset) const {
    return image.empty() ? nullptr : image.data() + offset;
}

uint8_t UpgradeSession::Refuse(uint8_t status, const std::string& why, std::string& note) {
    phase = Phase::kIdle;
    note = why + ": upgrade dropped";
    return status;
}

uint8_t UpgradeSession::Begin(const uint8_t* header, std::string& note) {
    // The type code travels most significant byte first.
    const uint16_t imageType = static_cast<uint16_t>(header[0] << 8 | header[1]);
    if (imageType != typeCode) {
        return Refuse(kUpgradeOutOfOrder, "header for type code " + std::to_string(imageType),
                      note);
    }
    if (const uint8_t* expected = Expected(0);
        expected && !std::equal(header, header + kHeaderSize, expected)) {
        return Refuse(kUpgradeNotTheImage, "header not the image's", note);
    }
    phase = Phase::kBlocks;
    version = Le16(header + 2);
    blockCount = Le16(header + 4);
    nextBlock = 0;
    note = "upgrade to version " + std::to_string(version) + ", " + std::to_string(blockCount) +
           " blocks";
    return kUpgradeTaken;
}

uint8_t UpgradeSession::Block(const uint8_t* payload, std::string& note) {
    const uint16_t index = Le16(payload);
    const uint8_t* bytes = payload + 2;
    const std::string name = "block " + std::to_string(index);
    if (phase != Phase::kBlocks) return Refuse(kUpgradeOutOfOrder, name + " out of place", note);
    if (nextBlock > 0 && index == nextBlock - 1) {
        if (!std::equal(bytes, bytes + kBlockSize, lastBlock.begin())) {
            return Refuse(kUpgradeOutOfOrder, name + " again, with other bytes", note);
        }
        note = name + " again";
        return kUpgradeTaken;
    }
    if (index != nextBlock || index >= blockCount) {
        return Refuse(kUpgradeOutOfOrder,
                      name + " where block " + std::to_string(nextBlock) + " of " +
                          std::to_string(blockCount) + " was due",
                      note);
    }
    if (const uint8_t* expected = Expected(kHeaderSize + kBlockSize * index);
        expected && !std::equal(bytes, bytes + kBlockSize, expected)) {
        return Refuse(kUpgradeNotTheImage, name + " not the image's", note);
    }
    lastBlock.assign(bytes, bytes + kBlockSize);
    ++nextBlock;
    note = name;
    return kUpgradeTaken;
}

uint8_t UpgradeSession::Seal(const uint8_t* bytes, std::string& note) {
    if (phase == Phase::kSealed && std::equal(bytes, bytes + kRecordSize, record.begin())) {
        note = "record again";
        return kUpgradeTaken;
    }
    if (phase != Phase::kBlocks || nextBlock != blockCount) {
        return Refuse(kUpgradeOutOfOrder, "record out of place", note);
    }
    // Only the low byte of the serial number chooses the record: group s >> 6,
    // record s & 0x3F of the table that follows the blocks.
    const size_t low = serialNumber & 0xFF;
    const size_t offset = kHeaderSize + kBlockSize * blockCount + (low >> 6) * kGroupSize +
                          (low & 0x3F) * kRecordSize;
    if (const uint8_t* expected = Expected(offset);
        expected && !std::equal(bytes, bytes + kRecordSize, expected)) {
        return Refuse(kUpgradeNotTheImage,
                      "record not the image's for serial " + std::to_string(serialNumber), note);
    }
    std::copy(bytes, bytes + kRecordSize, record.begin());
    phase = Phase::kSealed;
    note = "record taken";
    return kUpgradeTaken;
}

uint8_t UpgradeSession::Finish(std::optional<uint16_t>& newVersion, std::string& note) {
    if (phase == Phase::kFinished) {
        note = "finish again";
        return kUpgradeTaken;
    }
    if (phase != Phase::kSealed) return Refuse(kUpgradeOutOfOrder, "finish out of place", note);
    phase = Phase::kFinished;
    newVersion = version;
    note = "firmware now " + std::to_string(version);
    return kUpgradeTaken;
}
