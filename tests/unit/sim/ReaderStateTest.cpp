// The emulator's reader as a careful upgrade partner: only a complete, ordered
// transfer of the expected image changes its firmware version.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "Frame.h"
#include "ReaderState.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t kBlocks = 2;

// An image for type 1064, version 9, two blocks; every byte tells where it lies.
Bytes TestImage() {
    Bytes image = {0x04, 0x28, 0x09, 0x00, kBlocks, 0x00, 0x00, 0x00,
                   'H',  'E',  'A',  'D',  'E',     'R',  '-',  '9'};
    for (size_t i = 0; image.size() < 16 + 520 * kBlocks + 2080; ++i) {
        image.push_back(static_cast<uint8_t>(i * 7 + i / 251));
    }
    return image;
}

// One step of a script: "Z" the header, "Z2098" a header for type 2098, "Yn"
// block n, "y" the record for serial 313, "z" the switch; a trailing "!" spoils
// the bytes (another header byte, another block byte, the record of serial 0).
Bytes Request(const std::string& step, const Bytes& image) {
    const bool spoilt = step.back() == '!';
    const size_t table = 16 + 520 * kBlocks;
    Bytes payload;
    switch (step[0]) {
        case 'Z':
            payload.assign(image.begin(), image.begin() + 16);
            if (step == "Z2098") {
                payload[0] = 0x08;
                payload[1] = 0x32;
            }
            if (spoilt) payload[15] ^= 1;
            break;
        case 'Y': {
            const int index = std::stoi(step.substr(1));
            payload = {static_cast<uint8_t>(index), 0};
            const size_t at = 16 + 520 * static_cast<size_t>(index % kBlocks);
            payload.insert(payload.end(), image.begin() + at, image.begin() + at + 520);
            if (spoilt) payload[100] ^= 1;
            break;
        }
        case 'y': {
            const size_t at = table + (spoilt ? 0 : 456);  // 313: group 0, record 57
            payload.assign(image.begin() + at, image.begin() + at + 8);
            break;
        }
        default:
            break;
    }
    return BuildFrame(static_cast<uint8_t>(step[0]), payload.data(), payload.size());
}

struct SessionRow {
    const char* name;
    bool expectImage;
    const char* script;
    const char* statuses;
    uint16_t versionAfter;
};

class UpgradeSessionTest : public testing::TestWithParam<SessionRow> {};

TEST_P(UpgradeSessionTest, OnlyAWholeOrderedTransferSwitchesTheVersion) {
    const SessionRow& row = GetParam();
    const Bytes image = TestImage();
    SimOptions options;  // type 1064, serial 313, firmware 7
    if (row.expectImage) options.image = image;
    ReaderState reader(options);

    std::istringstream script(row.script);
    std::string statuses;
    for (std::string step; script >> step;) {
        const Response response = reader.OnFrame(Request(step, image), 0);
        ASSERT_EQ(response.sends.size(), 1u) << step;
        const Bytes& reply = response.sends[0].bytes;
        ASSERT_EQ(reply.size(), 6u) << step;
        statuses += std::to_string(reply[3]);
    }
    EXPECT_EQ(statuses, row.statuses);
    EXPECT_EQ(reader.FirmwareVersion(), row.versionAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, UpgradeSessionTest,
    testing::Values(SessionRow{"Whole", false, "Z Y0 Y1 y z", "00000", 9},
                    SessionRow{"EachStepSentTwice", false, "Z Z Y0 Y0 Y1 Y1 y y z z", "0000000000",
                               9},
                    SessionRow{"NewHeaderStartsAgain", false, "Z Y0 Z Y0 Y1 y z", "0000000", 9},
                    SessionRow{"HeaderOfAnotherType", false, "Z2098 Y0 Y1 y z", "11111", 7},
                    SessionRow{"BlockBeforeHeader", false, "Y0 Z Y1 y z", "10111", 7},
                    SessionRow{"BlockMissing", false, "Z Y1 y z", "0111", 7},
                    SessionRow{"IndexPastBlockCount", false, "Z Y0 Y1 Y2 y z", "000111", 7},
                    SessionRow{"EarlierBlockRepeated", false, "Z Y0 Y1 Y0 y z", "000111", 7},
                    SessionRow{"ResentBlockChanged", false, "Z Y0 Y0! Y1 y z", "001111", 7},
                    SessionRow{"RecordBeforeLastBlock", false, "Z Y0 y Y1 z", "00111", 7},
                    SessionRow{"FinishBeforeRecord", false, "Z Y0 Y1 z y", "00011", 7},
                    SessionRow{"WholeExpectedImage", true, "Z Y0 Y1 y z", "00000", 9},
                    SessionRow{"HeaderNotTheImages", true, "Z! Y0 Y1 y z", "21111", 7},
                    SessionRow{"BlockNotTheImages", true, "Z Y0 Y1! y z", "00211", 7},
                    SessionRow{"RecordOfAnotherSerial", true, "Z Y0 Y1 y! z", "00021", 7},
                    SessionRow{"AnyRecordWithoutImage", false, "Z Y0 Y1 y! z", "00000", 9}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
