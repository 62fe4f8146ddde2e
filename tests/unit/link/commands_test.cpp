#include "Crc.h"
#include "Frame.h"
#include "LinkFixture.h"

namespace {

const Bytes kIdentifyRequest{0x05, 0x00, 0x4D, 0xA1, 0xF4};

Bytes Frame(uint8_t command, const Bytes& payload) {
    return BuildFrame(command, payload.data(), payload.size());
}

TEST_F(LinkTest, IdentifyReadsTypeSerialAndFirmware) {
    OpenQuietly(1);
    fake.Feed(1, {0x0B, 0x00, 0xCD, 0x28, 0x04, 0x39, 0x01, 0x07, 0x00, 0xCD, 0x88});
    ASSERT_TRUE(link.Identify());
    EXPECT_EQ(link.typeCode, 1064);
    EXPECT_EQ(link.serialNumber, 313);
    EXPECT_EQ(link.firmwareVersion, 7);
    EXPECT_EQ(link.ModelNumber(), 40);
    EXPECT_EQ(FramesWrittenTo(1), std::vector<Bytes>{kIdentifyRequest});
}

struct ModelCase {
    uint16_t typeCode;
    int model;
};

class ModelNumber : public LinkTest, public testing::WithParamInterface<ModelCase> {};

TEST_P(ModelNumber, UsesTheLowTenBitsModuloAHundred) {
    link.typeCode = GetParam().typeCode;
    EXPECT_EQ(link.ModelNumber(), GetParam().model);
}

INSTANTIATE_TEST_SUITE_P(Types, ModelNumber,
                         testing::Values(ModelCase{1064, 40}, ModelCase{2098, 50},
                                         ModelCase{0x03FF, 23}, ModelCase{0xFFFF, 23},
                                         ModelCase{0, 0}));

TEST_F(LinkTest, IdentifyRefusesAReplyOfTheWrongLengthAndAsksOnceMore) {
    OpenQuietly(1);
    link.typeCode = 11;
    fake.Feed(1, Frame(0xCD, {0x32, 0x08, 1, 0, 1, 0, 9}));
    EXPECT_FALSE(link.Identify());
    EXPECT_EQ(link.typeCode, 11);
    EXPECT_EQ(FramesWrittenTo(1), (std::vector<Bytes>{kIdentifyRequest, kIdentifyRequest}));
}

TEST_F(LinkTest, IdentifyWithASilentReaderSendsExactlyTwoRequests) {
    OpenQuietly(1);
    EXPECT_FALSE(link.Identify());
    EXPECT_EQ(FramesWrittenTo(1).size(), 2u);
    EXPECT_EQ(link.OpenPortNumber(), 1);  // identification never closes the port
}

TEST_F(LinkTest, IdentifyPassesOverAStaleFrameOfAnotherCommand) {
    OpenQuietly(1);
    fake.Feed(1, Frame(0xD4, {0x01}));
    fake.Feed(1, Frame(0xCD, {0x32, 0x08, 0x10, 0x00, 0x08, 0x00}));
    ASSERT_TRUE(link.Identify());
    EXPECT_EQ(link.typeCode, 2098);
    EXPECT_EQ(link.ModelNumber(), 50);
    EXPECT_EQ(link.serialNumber, 16);
}

const Bytes kCardText{'0', '0', '0', '4', '8', '8', '6', '7', '1', '8', '3', '4', '5', '\r', '\n'};

// What else a reader may send around an identification reply.
struct Interleaving {
    const char* name;
    Bytes beforeRequest;    // arrived while the port settled after opening
    Bytes beforeReply;      // sent by the reader just before the reply it answers
    int ignored;            // requests the reader ignores first
    Bytes afterReply = {};  // sent right after the reply
};

class IdentifyAmid : public LinkTest, public testing::WithParamInterface<Interleaving> {};

TEST_P(IdentifyAmid, FindsTheReplyAndLeavesTheRestToThePoll) {
    FakeReader reader;
    reader.ignoreRequests = GetParam().ignored;
    reader.script = [&](const Bytes& request) {
        return std::optional<Bytes>(
            Concat({GetParam().beforeReply, reader.Answer(request), GetParam().afterReply}));
    };
    fake.AttachReader(1, reader);
    fake.Feed(1, GetParam().beforeRequest, 40);
    ASSERT_TRUE(link.SelectPort(1));
    ASSERT_TRUE(link.Identify());
    EXPECT_EQ(link.serialNumber, 313);
    EXPECT_EQ(reader.requests.size(), 1u + GetParam().ignored);
    uint8_t polled[256];
    const size_t count = link.PollBytes(polled);
    EXPECT_EQ(Bytes(polled, polled + count),
              Concat({GetParam().beforeRequest, GetParam().beforeReply, GetParam().afterReply}));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, IdentifyAmid,
    testing::Values(Interleaving{"cardBeforeTheRequest", kCardText, {}, 0},
                    Interleaving{"cardBeforeTheReply", {}, kCardText, 0},
                    Interleaving{"cardBetweenTwoAttempts", {}, kCardText, 1},
                    Interleaving{
                        "threeCardsQueued", Concat({kCardText, kCardText, kCardText}), {}, 0},
                    Interleaving{"lengthFour", {}, {0x04, 0x00}, 0},
                    Interleaving{"lengthThirtyThree", {}, {0x21, 0x00}, 0},
                    Interleaving{"highByteSet", {}, {0x0B, 0x01}, 0},
                    Interleaving{"strayLength", {}, {0x20, 0x00}, 0},
                    // Read with the reply, as the stray length asked for more.
                    Interleaving{"strayLengthThenCard", {}, {0x20, 0x00}, 0, kCardText},
                    Interleaving{"badChecksum", {}, {0x06, 0x00, 0xC3, 0x00, 0x50, 0x5D}, 0},
                    Interleaving{"endOfAReply", {0x07, 0x00, 0xCD, 0x88}, {}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// Ports 1 and 2 present without a reader, the reader on port 3.
class FindReaderTest : public LinkTest {
protected:
    FakeReader reader;
    void SetUp() override {
        fake.AddPort(1);
        fake.AddPort(2);
        fake.AttachReader(3, reader);
    }
};

TEST_F(FindReaderTest, ScansUpwardsAndLeavesTheReadersPortOpen) {
    std::vector<int> openBetweenPorts;
    link.betweenPorts = [&] { openBetweenPorts.push_back(link.OpenPortNumber()); };
    fake.Feed(1, kCardText);  // port 1's: never polled as the reader's
    ASSERT_TRUE(link.FindReader(48));
    uint8_t polled[256];
    EXPECT_EQ(link.PollBytes(polled), 0u);
    EXPECT_EQ(fake.AttemptedPorts(), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(openBetweenPorts, (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(FramesWrittenTo(1).size(), 2u);
    EXPECT_EQ(FramesWrittenTo(2).size(), 2u);
    EXPECT_FALSE(fake.IsOpen(1));
    EXPECT_FALSE(fake.IsOpen(2));
    EXPECT_TRUE(fake.IsOpen(3));
    EXPECT_EQ(link.lastFoundPort, 3);
    EXPECT_EQ(link.serialNumber, 313);
}

TEST_F(FindReaderTest, IdentifiesOnTheOpenPortWithoutTouchingAnyOther) {
    ASSERT_TRUE(link.FindReader(48));
    fake.ClearCalls();
    ASSERT_TRUE(link.FindReader(48));
    EXPECT_TRUE(fake.CallsOf(Op::Open).empty());
    EXPECT_TRUE(fake.CallsOf(Op::Sleep).empty());
    EXPECT_EQ(FramesWrittenTo(3), std::vector<Bytes>{kIdentifyRequest});
}

TEST_F(FindReaderTest, TriesTheLastPortFirstThenScansPastIt) {
    ASSERT_TRUE(link.FindReader(48));
    link.ClosePort();
    // The reader has moved from 3 to 5; port 3 is still there but silent.
    FakeReader silent;
    silent.ignoreRequests = 1000;
    fake.AttachReader(3, silent);
    fake.AttachReader(5, reader);
    fake.ClearCalls();
    ASSERT_TRUE(link.FindReader(48));
    EXPECT_EQ(fake.AttemptedPorts(), (std::vector<int>{3, 1, 2, 4, 5}));
    EXPECT_EQ(link.lastFoundPort, 5);
}

TEST_F(FindReaderTest, AReaderGoneQuietOnItsPortIsTriedOnceThenPassedBy) {
    ASSERT_TRUE(link.FindReader(48));
    reader.script = [](const Bytes&) { return std::optional<Bytes>(Bytes{}); };
    fake.ClearCalls();
    EXPECT_FALSE(link.FindReader(48));
    // Identified twice on the open port, closed, then 1..32 without 3.
    EXPECT_EQ(FramesWrittenTo(3).size(), 2u);
    const auto attempted = fake.AttemptedPorts();
    EXPECT_EQ(std::count(attempted.begin(), attempted.end(), 3), 0);
    EXPECT_EQ(attempted.size(), 31u);
    EXPECT_EQ(attempted.front(), 1);
    EXPECT_EQ(attempted.back(), 32);
    EXPECT_EQ(link.OpenPortNumber(), 0);
    EXPECT_EQ(link.lastFoundPort, 3);
}

TEST_F(LinkTest, FindReaderWithNoReaderAnywhereLeavesNothingOpen) {
    fake.AddPort(1);
    EXPECT_FALSE(link.FindReader(48));
    EXPECT_EQ(link.OpenPortNumber(), 0);
    EXPECT_EQ(link.lastFoundPort, 0);
    for (const int port : fake.AttemptedPorts())
        EXPECT_LE(port, 32);  // 33..48 never reach the system
    EXPECT_EQ(fake.AttemptedPorts().size(), 32u);
}

TEST_F(LinkTest, FindReaderSkipsAPortHeldByAnotherProgram) {
    FakeReader reader;
    fake.HoldPort(1);
    fake.AttachReader(2, reader);
    ASSERT_TRUE(link.FindReader(48));
    EXPECT_EQ(link.lastFoundPort, 2);
    EXPECT_TRUE(fake.WrittenTo(1).empty());
}

class CommandTest : public LinkTest {
protected:
    FakeReader reader;
    void SetUp() override {
        fake.AttachReader(1, reader);
        ASSERT_TRUE(link.SelectPort(1));
        fake.ClearCalls();
    }
};

TEST_F(CommandTest, ReadConfigFillsTheRecord) {
    reader.config = {0x80, 0xC0, 0x05, 0x03, 0x00, 0x00, 0x03, 0x00};
    std::array<uint8_t, 8> record{};
    link.ReadConfig(record);
    EXPECT_EQ(record, reader.config);
    EXPECT_EQ(FramesWrittenTo(1), std::vector<Bytes>{Bytes({0x05, 0x00, 0x63, 0x21, 0xE8})});
}

TEST_F(CommandTest, ReadConfigRefusesAReplyOfSevenBytesWithoutAskingAgain) {
    reader.script = [](const Bytes&) {
        return std::optional<Bytes>(Frame(0xE3, {1, 2, 3, 4, 5, 6, 7}));
    };
    std::array<uint8_t, 8> record{};
    EXPECT_THROW(link.ReadConfig(record), CommErr);
    EXPECT_EQ(reader.requests.size(), 1u);
}

TEST_F(CommandTest, WriteConfigSealsTheRecordWithItsCrc32) {
    const std::array<uint8_t, 8> zeros{};
    link.WriteConfig(zeros);
    const Bytes expected{0x11, 0x00, 0x43, 0,    0,    0,    0,    0,   0,
                         0,    0,    0x59, 0xBB, 0x04, 0x69, 0xCA, 0xE7};
    EXPECT_EQ(FramesWrittenTo(1), std::vector<Bytes>{expected});
    EXPECT_EQ(reader.config, zeros);
    // The confirmation is awaited with 100 ms more on the length field.
    EXPECT_EQ(fake.CallsOf(Op::Read).front().timeouts.readTotalTimeoutConstant, 161u);
}

TEST_F(CommandTest, WriteConfigRefusedByTheReaderThrows) {
    reader.statusFor['C'] = 1;
    EXPECT_THROW(link.WriteConfig({1, 2, 3, 4, 5, 6, 7, 8}), CommErr);
    EXPECT_EQ(reader.requests.size(), 1u);
}

TEST_F(CommandTest, UpgradeCommandsCarryTheirPayloadsAndAllowances) {
    Bytes header(16), block(520), record(8);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7);
    header[0] = 0x04;
    record[7] = 0x99;
    link.UpgradeBegin(header.data(), 500);
    link.UpgradeBlock(13, block.data(), 500);
    link.UpgradeSeal(record.data(), 1000);
    link.UpgradeFinish(200);

    ASSERT_EQ(reader.requests.size(), 4u);
    EXPECT_EQ(reader.requests[0].size(), 21u);
    EXPECT_EQ(reader.requests[0][2], 'Z');
    EXPECT_EQ(Bytes(reader.requests[0].begin() + 3, reader.requests[0].end() - 2), header);
    const Bytes& y = reader.requests[1];
    EXPECT_EQ(y.size(), 527u);
    EXPECT_EQ(Bytes(y.begin(), y.begin() + 5), Bytes({0x0F, 0x02, 'Y', 0x0D, 0x00}));
    EXPECT_EQ(Bytes(y.begin() + 5, y.end() - 2), block);
    EXPECT_EQ(reader.requests[2].size(), 13u);
    EXPECT_EQ(Bytes(reader.requests[2].begin() + 3, reader.requests[2].end() - 2), record);
    EXPECT_EQ(reader.requests[3], Bytes({0x05, 0x00, 0x7A, 0xE0, 0x22}));

    std::vector<uint32_t> allowances;
    for (const auto& call : fake.CallsOf(Op::SetTimeouts)) {
        if (call.timeouts.readTotalTimeoutConstant != 61) {
            allowances.push_back(call.timeouts.readTotalTimeoutConstant - 61);
        }
    }
    EXPECT_EQ(allowances, (std::vector<uint32_t>{500, 500, 1000, 200}));
}

TEST_F(CommandTest, RequestsSentWithoutWaitingReadNothing) {
    link.SendIdentifyRequest();
    link.SendCardInFieldRequest();
    link.SendRaw({0x08, 0x00, 0x4C, 0x02, 0x05, 0x03, 0xF5, 0x52});
    EXPECT_EQ(FramesWrittenTo(1),
              (std::vector<Bytes>{{0x05, 0x00, 0x4D, 0xA1, 0xF4},
                                  {0x05, 0x00, 0x54, 0x60, 0x3E},
                                  {0x08, 0x00, 0x4C, 0x02, 0x05, 0x03, 0xF5, 0x52}}));
    EXPECT_TRUE(fake.CallsOf(Op::Read).empty());
}

TEST_F(LinkTest, PollBytesTakesAtMost256AndLeavesTheRest) {
    OpenQuietly(1);
    Bytes incoming(300);
    for (size_t i = 0; i < incoming.size(); ++i) incoming[i] = static_cast<uint8_t>(i);
    fake.Feed(1, incoming);
    uint8_t buffer[256];
    EXPECT_EQ(link.PollBytes(buffer), 256u);
    EXPECT_EQ(buffer[255], 255);
    EXPECT_EQ(link.PollBytes(buffer), 44u);
    EXPECT_EQ(buffer[0], 0);  // 300 wraps to 0 at byte 256
    EXPECT_EQ(buffer[43], 43);
}

TEST_F(LinkTest, BytesAReceptionPassesOverAreKeptOnlyUpToOnePoll) {
    OpenQuietly(1);
    Bytes junk(400);  // every length field in it is impossible
    for (size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<uint8_t>(0x80 + i % 100);
    fake.Feed(1, junk);
    uint8_t unused[1];
    EXPECT_EQ(link.ReceiveFrame(0xCD, 1, unused, 0), 0u);
    Bytes polled;
    uint8_t buffer[256];
    for (size_t count = 0; (count = link.PollBytes(buffer)) > 0;) {
        polled.insert(polled.end(), buffer, buffer + count);
    }
    // The latest bytes, up to where the port takes over; the oldest are gone.
    ASSERT_LT(polled.size(), junk.size());
    EXPECT_EQ(polled, Bytes(junk.end() - static_cast<ptrdiff_t>(polled.size()), junk.end()));
}

TEST_F(LinkTest, PollBytesStopsAtTheFirstPauseLongerThanAByteTimeout) {
    OpenQuietly(1);
    const uint64_t start = fake.now;
    fake.Feed(1, {'1', '2'}, start);
    fake.Feed(1, {'3'}, start + 200);
    uint8_t buffer[256];
    EXPECT_EQ(link.PollBytes(buffer), 2u);
    EXPECT_EQ(fake.now - start, 62u);  // one silent single-byte read
}

TEST_F(LinkTest, PollBytesWithNoPortReturnsAtOnce) {
    uint8_t buffer[256];
    EXPECT_EQ(link.PollBytes(buffer), 0u);
    EXPECT_EQ(fake.now, 0u);
}

}  // namespace
