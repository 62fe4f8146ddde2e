#include "LinkFixture.h"

namespace {

TEST_F(LinkTest, SelectPortOpensAtTheReadersLineSettingsAndPauses) {
    fake.AddPort(3);
    ASSERT_TRUE(link.SelectPort(3));

    EXPECT_EQ(link.OpenPortNumber(), 3);
    EXPECT_NE(link.Handle(), kInvalidPortHandle);
    EXPECT_EQ(link.ByteTimeMs(), 1);
    const auto states = fake.CallsOf(Op::SetState);
    ASSERT_EQ(states.size(), 1u);
    const LineSettings& dcb = states[0].settings;
    EXPECT_EQ(dcb.dcbLength, 28u);
    EXPECT_EQ(dcb.baudRate, 19200u);
    EXPECT_EQ(dcb.byteSize, 8);
    EXPECT_EQ(dcb.parity, kNoParity);
    EXPECT_EQ(dcb.stopBits, kOneStopBit);
    EXPECT_EQ(dcb.dtrControl, kDtrControlEnable);
    EXPECT_EQ(dcb.rtsControl, kRtsControlEnable);
    EXPECT_TRUE(dcb.binary);
    EXPECT_FALSE(dcb.parityCheck);
    EXPECT_FALSE(dcb.outX);
    EXPECT_FALSE(dcb.inX);
    // Fields the link does not own stay as the driver delivered them.
    EXPECT_TRUE(dcb.txContinueOnXoff);
    EXPECT_EQ(dcb.xonChar, 0x11);
    EXPECT_EQ(dcb.xonLim, 2048);

    const auto queues = fake.CallsOf(Op::SetupQueues);
    ASSERT_EQ(queues.size(), 1u);
    EXPECT_EQ(queues[0].count, 256u);
    const auto timeouts = fake.CallsOf(Op::SetTimeouts);
    ASSERT_EQ(timeouts.size(), 1u);
    EXPECT_EQ(timeouts[0].timeouts, (CommTimeouts{0, 1, 61, 1, 61}));
    const auto sleeps = fake.CallsOf(Op::Sleep);
    ASSERT_EQ(sleeps.size(), 1u);
    EXPECT_EQ(sleeps[0].count, 100u);
}

TEST_F(LinkTest, SelectingTheOpenPortDoesNothingAtAll) {
    OpenQuietly(3);
    EXPECT_TRUE(link.SelectPort(3));
    EXPECT_TRUE(fake.Calls().empty());
}

TEST_F(LinkTest, NumbersOutsideOneToThirtyTwoNeverReachTheSystemAndKeepTheOpenPort) {
    OpenQuietly(3);
    EXPECT_FALSE(link.SelectPort(33));
    EXPECT_FALSE(link.SelectPort(48));
    EXPECT_FALSE(link.OpenPort(0, 19200, 3, 3, 256, 256));
    EXPECT_FALSE(link.OpenPort(-1, 19200, 3, 3, 256, 256));
    EXPECT_TRUE(fake.Calls().empty());
    EXPECT_EQ(link.OpenPortNumber(), 3);
}

TEST_F(LinkTest, OpeningAnotherPortClosesTheFirstEvenWhenTheNewOneIsMissing) {
    OpenQuietly(3);
    EXPECT_FALSE(link.OpenPort(5, 19200, 3, 3, 256, 256));
    EXPECT_FALSE(fake.IsOpen(3));
    EXPECT_EQ(link.OpenPortNumber(), 0);
    EXPECT_EQ(link.Handle(), kInvalidPortHandle);
    ASSERT_EQ(fake.Calls().size(), 2u);
    EXPECT_EQ(fake.Calls()[0].op, Op::Close);
    EXPECT_EQ(fake.Calls()[1].op, Op::Open);
}

TEST_F(LinkTest, OpeningTheOpenPortReconfiguresWithoutReopening) {
    OpenQuietly(3);
    ASSERT_TRUE(link.OpenPort(3, 9600, 3, 3, 256, 256));
    EXPECT_EQ(link.ByteTimeMs(), 2);
    EXPECT_TRUE(fake.CallsOf(Op::Open).empty());
    EXPECT_TRUE(fake.CallsOf(Op::Close).empty());
    EXPECT_EQ(fake.CallsOf(Op::SetState).size(), 1u);
    EXPECT_EQ(fake.CallsOf(Op::SetupQueues).size(), 1u);
    const auto timeouts = fake.CallsOf(Op::SetTimeouts);
    ASSERT_EQ(timeouts.size(), 1u);
    EXPECT_EQ(timeouts[0].timeouts, (CommTimeouts{0, 2, 61, 2, 61}));
}

struct BaudCase {
    uint32_t baud;
    uint16_t byteTimeMs;
};

class ByteTime : public LinkTest, public testing::WithParamInterface<BaudCase> {};

TEST_P(ByteTime, IsAnElevenBitCharacterInWholeMillisecondsPlusOne) {
    fake.AddPort(1);
    ASSERT_TRUE(link.OpenPort(1, GetParam().baud, 3, 3, 256, 256));
    EXPECT_EQ(link.ByteTimeMs(), GetParam().byteTimeMs);
}

INSTANTIATE_TEST_SUITE_P(Bauds, ByteTime,
                         testing::Values(BaudCase{19200, 1}, BaudCase{9600, 2}, BaudCase{1200, 10},
                                         BaudCase{110, 101}));

struct FormatCase {
    uint8_t lineFormat;
    uint8_t modemControl;
    uint8_t byteSize;
    uint8_t parity;
    uint8_t stopBits;
    uint8_t dtr;
    uint8_t rts;
};

class LineFormat : public LinkTest, public testing::WithParamInterface<FormatCase> {};

TEST_P(LineFormat, MapsOntoTheLineSettings) {
    const FormatCase& c = GetParam();
    fake.AddPort(1);
    ASSERT_TRUE(link.OpenPort(1, 19200, c.lineFormat, c.modemControl, 256, 256));
    const LineSettings dcb = fake.CallsOf(Op::SetState).at(0).settings;
    EXPECT_EQ(dcb.byteSize, c.byteSize);
    EXPECT_EQ(dcb.parity, c.parity);
    EXPECT_EQ(dcb.stopBits, c.stopBits);
    EXPECT_EQ(dcb.dtrControl, c.dtr);
    EXPECT_EQ(dcb.rtsControl, c.rts);
    EXPECT_FALSE(dcb.parityCheck);  // a parity bit is sent but never checked
}

INSTANTIATE_TEST_SUITE_P(Formats, LineFormat,
                         testing::Values(FormatCase{0x03, 3, 8, kNoParity, kOneStopBit, 1, 1},
                                         FormatCase{0x1F, 0, 8, kEvenParity, kTwoStopBits, 0, 0},
                                         FormatCase{0x0A, 1, 7, kOddParity, kOneStopBit, 1, 0},
                                         FormatCase{0x10, 2, 5, kNoParity, kOneStopBit, 0,
                                                    1},  // bit 4 alone means nothing
                                         FormatCase{0xE3, 0xFC, 8, kNoParity, kOneStopBit, 0, 0}));

class ConfigurationFailure : public LinkTest, public testing::WithParamInterface<Op> {};

TEST_P(ConfigurationFailure, ClosesThePortAndFails) {
    fake.AddPort(2);
    fake.FailNext(2, GetParam());
    EXPECT_FALSE(link.SelectPort(2));
    EXPECT_EQ(link.OpenPortNumber(), 0);
    EXPECT_EQ(link.Handle(), kInvalidPortHandle);
    EXPECT_FALSE(fake.IsOpen(2));
    EXPECT_TRUE(fake.CallsOf(Op::Sleep).empty());
}

INSTANTIATE_TEST_SUITE_P(Steps, ConfigurationFailure,
                         testing::Values(Op::GetState, Op::SetState, Op::SetupQueues,
                                         Op::SetTimeouts));

TEST_F(LinkTest, APortHeldByAnotherProgramFailsLikeAMissingOne) {
    fake.HoldPort(4);
    EXPECT_FALSE(link.SelectPort(4));
    EXPECT_EQ(link.Handle(), kInvalidPortHandle);
    EXPECT_EQ(fake.CallsOf(Op::Open).size(), 1u);
    EXPECT_TRUE(fake.CallsOf(Op::Sleep).empty());
}

TEST_F(LinkTest, AShortWriteClosesThePortAndLaterReadsReturnAtOnce) {
    OpenQuietly(1);
    fake.ShortWriteNext(1, 3);
    const uint8_t bytes[5] = {1, 2, 3, 4, 5};
    link.WriteBytes(5, bytes);
    EXPECT_EQ(link.OpenPortNumber(), 0);
    EXPECT_FALSE(fake.IsOpen(1));

    const uint64_t before = fake.now;
    uint8_t buffer[2];
    EXPECT_EQ(link.ReadBytes(2, buffer), 0u);
    EXPECT_EQ(fake.now, before);
    EXPECT_TRUE(fake.CallsOf(Op::Read).empty());
}

TEST_F(LinkTest, TransfersWithNoPortOpenDoNothing) {
    const uint8_t bytes[1] = {0x55};
    link.WriteBytes(1, bytes);
    uint8_t buffer[4];
    EXPECT_EQ(link.ReadBytes(4, buffer), 0u);
    EXPECT_TRUE(fake.Calls().empty());
}

struct SilentRead {
    uint32_t extraMs;
    size_t count;
    uint64_t waitedMs;
};

class SilentReader : public LinkTest, public testing::WithParamInterface<SilentRead> {};

TEST_P(SilentReader, WaitsTheTotalTimeoutAndReturnsNothing) {
    OpenQuietly(1);
    ASSERT_TRUE(link.SetReadTimeout(GetParam().extraMs));
    uint8_t buffer[32];
    const uint64_t before = fake.now;
    EXPECT_EQ(link.ReadBytes(GetParam().count, buffer), 0u);
    EXPECT_EQ(fake.now - before, GetParam().waitedMs);
}

INSTANTIATE_TEST_SUITE_P(At19200, SilentReader,
                         testing::Values(SilentRead{0, 2, 63}, SilentRead{0, 1, 62},
                                         SilentRead{100, 2, 163}, SilentRead{0, 20, 81}));

TEST_F(LinkTest, ClosePortForgetsThePortAndASecondCloseDoesNothing) {
    OpenQuietly(1);
    link.ClosePort();
    EXPECT_EQ(link.OpenPortNumber(), 0);
    EXPECT_EQ(link.Handle(), kInvalidPortHandle);
    link.ClosePort();
    EXPECT_EQ(fake.CallsOf(Op::Close).size(), 1u);
}

TEST_F(LinkTest, DestructionClosesTheOpenPort) {
    fake.AddPort(2);
    {
        Zantor50 other(fake);
        ASSERT_TRUE(other.SelectPort(2));
    }
    EXPECT_FALSE(fake.IsOpen(2));
}

}  // namespace
