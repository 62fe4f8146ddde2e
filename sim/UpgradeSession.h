#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Status answers of the upgrade commands.
inline constexpr uint8_t kUpgradeTaken = 0;
inline constexpr uint8_t kUpgradeOutOfOrder = 1;   // not the step that was due
inline constexpr uint8_t kUpgradeNotTheImage = 2;  // not the bytes of the expected image

// The reader's side of a firmware upgrade, as a careful reader keeps it: the
// header ('Z'), then the blocks 0 to N-1 in rising order ('Y'), then the
// per-serial record ('y'), then the switch to the new version ('z'). A step out
// of place is refused and drops the upgrade, so that only a complete, ordered
// transfer changes the version; a new header starts again. The step just taken
// may come a second time unchanged (the program sends a frame again when its
// reply was lost) and is answered alike. Given the image that the program
// should send, every header, block and record must also be that image's, the
// record the one for the reader's serial number.
class UpgradeSession {
public:
    // expectedImage: empty, or an image of the upgrade layout (IsImageLayout).
    UpgradeSession(uint16_t typeCode, uint16_t serialNumber, std::vector<uint8_t> expectedImage);

    // Each takes a request payload of the command's size and returns the status
    // to answer; note says what happened, for the trace.
    uint8_t Begin(const uint8_t* header, std::string& note);
    uint8_t Block(const uint8_t* payload, std::string& note);
    uint8_t Seal(const uint8_t* record, std::string& note);
    // newVersion is set when the reader switches to the version of the header.
    uint8_t Finish(std::optional<uint16_t>& newVersion, std::string& note);

private:
    enum class Phase { kIdle, kBlocks, kSealed, kFinished };

    uint8_t Refuse(uint8_t status, const std::string& why, std::string& note);
    const uint8_t* Expected(size_t offset) const;

    uint16_t typeCode;
    uint16_t serialNumber;
    std::vector<uint8_t> image;
    Phase phase = Phase::kIdle;
    uint16_t version = 0;
    uint16_t blockCount = 0;
    uint16_t nextBlock = 0;
    std::vector<uint8_t> lastBlock;
    std::array<uint8_t, 8> record{};
};

// Whether bytes have the layout of an upgrade image: a 16-byte header whose
// word at offset 6 is 0, the N blocks of 520 bytes that the word at offset 4
// counts, and the 2080-byte per-serial table.
bool IsImageLayout(const std::vector<uint8_t>& bytes);
