#include "Crc.h"

#include <gtest/gtest.h>

#include <string>

#include "FakeSerialServices.h"
#include "Frame.h"

namespace {

const std::string kCheckText = "123456789";
const uint8_t* CheckBytes() { return reinterpret_cast<const uint8_t*>(kCheckText.data()); }

TEST(Crc16, CheckValueOfTheNineDigits) { EXPECT_EQ(Crc16(CheckBytes(), 9, 0xFFFF), 0x4B37); }

TEST(Crc16, EmptyInputGivesTheInitialValue) { EXPECT_EQ(Crc16(nullptr, 0, 0xFFFF), 0xFFFF); }

TEST(Crc32, CheckValueOfTheNineDigits) {
    EXPECT_EQ(Crc32(CheckBytes(), 9, 0xFFFFFFFFu), 0x0376E6E7u);
}

TEST(Crc32, SealOfEightZeroBytes) {
    const uint8_t zeros[8] = {};
    EXPECT_EQ(Crc32(zeros, 8, 0xFFFFFFFFu), 0x6904BB59u);  // sent as 59 BB 04 69
}

// Frames as the reader protocol lists them, byte for byte.
struct KnownFrame {
    const char* name;
    uint8_t command;
    Bytes payload;
    Bytes wire;
};

class KnownFrames : public testing::TestWithParam<KnownFrame> {};

TEST_P(KnownFrames, BuildsTheListedBytes) {
    const KnownFrame& f = GetParam();
    EXPECT_EQ(BuildFrame(f.command, f.payload.data(), f.payload.size()), f.wire);
}

TEST_P(KnownFrames, ChecksumOverTheWholeFrameIsZero) {
    const Bytes& wire = GetParam().wire;
    EXPECT_EQ(Crc16(wire.data(), wire.size(), 0xFFFF), 0);
    EXPECT_TRUE(IsWholeFrame(wire.data(), wire.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Protocol, KnownFrames,
    testing::Values(
        KnownFrame{"identify", 'M', {}, {0x05, 0x00, 0x4D, 0xA1, 0xF4}},
        KnownFrame{"cardInField", 'T', {}, {0x05, 0x00, 0x54, 0x60, 0x3E}},
        KnownFrame{"readConfig", 'c', {}, {0x05, 0x00, 0x63, 0x21, 0xE8}},
        KnownFrame{"upgradeFinish", 'z', {}, {0x05, 0x00, 0x7A, 0xE0, 0x22}},
        KnownFrame{"writeStatusOk", 0xC3, {0x00}, {0x06, 0x00, 0xC3, 0x00, 0x50, 0x5C}},
        KnownFrame{"writeStatusRefused", 0xC3, {0x01}, {0x06, 0x00, 0xC3, 0x01, 0x91, 0x9C}},
        KnownFrame{"identifyReply",
                   0xCD,
                   {0x28, 0x04, 0x39, 0x01, 0x07, 0x00},
                   {0x0B, 0x00, 0xCD, 0x28, 0x04, 0x39, 0x01, 0x07, 0x00, 0xCD, 0x88}},
        KnownFrame{"writeZeroRecord",
                   'C',
                   {0, 0, 0, 0, 0, 0, 0, 0, 0x59, 0xBB, 0x04, 0x69},
                   {0x11, 0x00, 0x43, 0, 0, 0, 0, 0, 0, 0, 0, 0x59, 0xBB, 0x04, 0x69, 0xCA, 0xE7}},
        KnownFrame{"lCommandAtStart",
                   'L',
                   {0x02, 0x05, 0x03},
                   {0x08, 0x00, 0x4C, 0x02, 0x05, 0x03, 0xF5, 0x52}},
        KnownFrame{"lCommandRedToo",
                   'L',
                   {0x03, 0x05, 0x03},
                   {0x08, 0x00, 0x4C, 0x03, 0x05, 0x03, 0xA4, 0x92}}),
    [](const testing::TestParamInfo<KnownFrame>& info) { return std::string(info.param.name); });

TEST(Frame, WholeFrameRejectsAWrongLengthFieldOrChecksum) {
    Bytes frame{0x05, 0x00, 0x4D, 0xA1, 0xF4};
    EXPECT_FALSE(IsWholeFrame(frame.data(), 4));
    Bytes corrupted = frame;
    corrupted[2] = 0x4E;
    EXPECT_FALSE(IsWholeFrame(corrupted.data(), corrupted.size()));
    Bytes lengthLies{0x06, 0x00, 0x4D, 0xA1, 0xF4};
    EXPECT_FALSE(IsWholeFrame(lengthLies.data(), lengthLies.size()));
}

}  // namespace
