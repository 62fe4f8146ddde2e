#include <algorithm>

#include "Frame.h"
#include "LinkFixture.h"

namespace {

const Bytes kStatusOk{0x06, 0x00, 0xC3, 0x00, 0x50, 0x5C};
const Bytes kStatusRefused{0x06, 0x00, 0xC3, 0x01, 0x91, 0x9C};
const Bytes kIdentifyReply{0x0B, 0x00, 0xCD, 0x28, 0x04, 0x39, 0x01, 0x07, 0x00, 0xCD, 0x88};
const Bytes kConfigRequest{0x05, 0x00, 0x63, 0x21, 0xE8};

Bytes Frame(uint8_t command, const Bytes& payload) {
    return BuildFrame(command, payload.data(), payload.size());
}

class ReceiveFrameTest : public LinkTest {
protected:
    void SetUp() override { OpenQuietly(1); }
    uint8_t destination[27];
    ReceiveFrameTest() { std::fill(std::begin(destination), std::end(destination), 0xEE); }
    bool DestinationUntouched() const {
        return std::all_of(std::begin(destination), std::end(destination),
                           [](uint8_t b) { return b == 0xEE; });
    }
};

TEST_F(ReceiveFrameTest, AcceptsTheExpectedReplyAndCopiesItsPayload) {
    fake.Feed(1, kIdentifyReply);
    EXPECT_EQ(link.ReceiveFrame(0xCD, 6, destination, 0), 11u);
    EXPECT_EQ(Bytes(destination, destination + 6), Bytes({0x28, 0x04, 0x39, 0x01, 0x07, 0x00}));
    EXPECT_EQ(destination[6], 0xEE);
}

// The shortest and the longest reply that a reader may send.
class BoundaryLength : public ReceiveFrameTest, public testing::WithParamInterface<size_t> {};

TEST_P(BoundaryLength, IsAcceptedAsTheExpectedReply) {
    const Bytes payload(GetParam() - 5, 0x3C);
    fake.Feed(1, Frame(0xCD, payload));
    EXPECT_EQ(link.ReceiveFrame(0xCD, 27, destination, 0), GetParam());
    EXPECT_EQ(Bytes(destination, destination + payload.size()), payload);
}

TEST_P(BoundaryLength, IsPassedOverAsAnotherCommandsFrame) {
    fake.Feed(1, Concat({Frame(0xC3, Bytes(GetParam() - 5, 0x3C)), kIdentifyReply}));
    EXPECT_EQ(link.ReceiveFrame(0xCD, 6, destination, 0), 11u);
    EXPECT_EQ(destination[0], 0x28);
}

INSTANTIATE_TEST_SUITE_P(Lengths, BoundaryLength, testing::Values(size_t{5}, size_t{32}));

TEST_F(ReceiveFrameTest, AFrameCutShortGivesNothingWithoutDraining) {
    fake.Feed(1, {0x0A, 0x00, 0xCD, 0x01, 0x02, 0x03});  // says 10, only 6 arrive
    EXPECT_EQ(link.ReceiveFrame(0xCD, 6, destination, 0), 0u);
    const auto reads = fake.CallsOf(Op::Read);
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[1].count, 8u);
    EXPECT_TRUE(DestinationUntouched());
}

TEST_F(ReceiveFrameTest, PassesOverAFrameOfAnotherCommand) {
    fake.Feed(1, Concat({kStatusOk, kIdentifyReply}));
    EXPECT_EQ(link.ReceiveFrame(0xCD, 6, destination, 0), 11u);
    EXPECT_EQ(destination[0], 0x28);
}

TEST_F(ReceiveFrameTest, ExtraAllowanceCoversOnlyTheLengthField) {
    fake.Feed(1, kStatusOk, fake.now + 400);
    uint8_t status = 0xFF;
    EXPECT_EQ(link.ReceiveFrame(0xC3, 1, &status, 500), 6u);
    EXPECT_EQ(status, 0);
    const auto reads = fake.CallsOf(Op::Read);
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[0].timeouts.readTotalTimeoutConstant, 561u);
    EXPECT_EQ(reads[1].timeouts.readTotalTimeoutConstant, 61u);
    EXPECT_EQ(fake.CallsOf(Op::SetTimeouts).size(), 2u);
}

TEST_F(ReceiveFrameTest, ARefusedTimeoutChangeClosesThePort) {
    fake.FailNext(1, Op::SetTimeouts);
    uint8_t status = 0xFF;
    EXPECT_EQ(link.ReceiveFrame(0xC3, 1, &status, 500), 0u);
    EXPECT_EQ(link.OpenPortNumber(), 0);
    EXPECT_TRUE(fake.CallsOf(Op::Read).empty());
}

// A device chattering in frames of other commands, or in bytes that begin no frame.
class Chatter : public ReceiveFrameTest, public testing::WithParamInterface<Bytes> {};

TEST_P(Chatter, CannotHoldTheReceptionForEver) {
    // Every 40 ms, for a minute.
    for (uint64_t at = 0; at < 60000; at += 40) fake.Feed(1, GetParam(), at);
    const uint64_t before = fake.now;
    EXPECT_EQ(link.ReceiveFrame(0xCD, 6, destination, 0), 0u);
    const uint64_t spent = fake.now - before;
    EXPECT_GE(spent, Zantor50::kReceiveLimitMs);
    EXPECT_LT(spent, Zantor50::kReceiveLimitMs + 200);
    EXPECT_TRUE(DestinationUntouched());
}

INSTANTIATE_TEST_SUITE_P(Devices, Chatter, testing::Values(kStatusOk, Bytes{0x77}));

TEST_F(LinkTest, TransactSendsTheSameFrameThreeTimesThenThrows) {
    OpenQuietly(1);
    uint8_t destination[8];
    EXPECT_EQ(CommErrText([&] { link.Transact('c', 0, nullptr, 8, destination, 0); }),
              "the reader did not answer the configuration read ('c') after 3 attempts");
    const auto frames = FramesWrittenTo(1);
    ASSERT_EQ(frames.size(), 3u);
    for (const Bytes& frame : frames) EXPECT_EQ(frame, kConfigRequest);
    EXPECT_TRUE(fake.CallsOf(Op::Sleep).empty());
}

// What the attempts met decides what the failure says.
TEST_F(LinkTest, TransactTellsDamagedRepliesAndAShortWriteApart) {
    OpenQuietly(1);
    Bytes damaged = kStatusOk;
    damaged[3] ^= 0x01;
    for (int attempt = 0; attempt < 3; ++attempt) fake.Feed(1, damaged, attempt * 150);
    const uint8_t payload[12] = {};
    EXPECT_EQ(CommErrText([&] { link.TransactStatus('C', sizeof payload, payload, 0); }),
              "no valid reply to the configuration write ('C') after 3 attempts: what came back "
              "was not a whole frame");
    OpenQuietly(1);
    fake.ShortWriteNext(1, 3);
    EXPECT_EQ(CommErrText([&] { link.TransactStatus('C', sizeof payload, payload, 0); }),
              "the configuration write ('C') could not be written whole; the port was closed");
}

TEST_F(LinkTest, TransactRetriesAfterAnImpossibleLengthAndTakesTheNextReply) {
    FakeReader reader;
    fake.AttachReader(1, reader);
    ASSERT_TRUE(link.SelectPort(1));
    int asked = 0;
    reader.script = [&](const Bytes&) -> std::optional<Bytes> {
        if (++asked == 1) return Bytes{0x04, 0x00, 0x01, 0x02};
        return std::nullopt;
    };
    std::array<uint8_t, 8> record{};
    link.ReadConfig(record);
    EXPECT_EQ(reader.requests.size(), 2u);
    EXPECT_EQ(record, reader.config);
}

TEST_F(LinkTest, TransactReturnsAnUnexpectedPayloadLengthWithoutRetrying) {
    OpenQuietly(1);
    fake.Feed(1, Frame(0xE3, {1, 2, 3, 4, 5, 6}));
    uint8_t destination[8];
    EXPECT_EQ(link.Transact('c', 0, nullptr, 8, destination, 0), 6u);
    EXPECT_EQ(FramesWrittenTo(1).size(), 1u);
}

TEST_F(LinkTest, TransactSendsTheLongestPayloadAndRefusesALongerOne) {
    OpenQuietly(1);
    Bytes payload(536, 0xA5);
    fake.Feed(1, {0x06, 0x00, 0xDA, 0x00});  // any reply; only the request matters here
    uint8_t status;
    try {
        link.Transact('Z', payload.size(), payload.data(), 1, &status, 0);
    } catch (const CommErr&) {
    }
    const auto frames = FramesWrittenTo(1);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0].size(), 541u);
    EXPECT_EQ(frames[0][0], 0x1D);
    EXPECT_EQ(frames[0][1], 0x02);

    fake.ClearCalls();
    payload.push_back(0xA5);
    EXPECT_EQ(link.Transact('Z', payload.size(), payload.data(), 1, &status, 0), 0u);
    EXPECT_EQ(CommErrText([&] { link.TransactStatus('Z', payload.size(), payload.data(), 0); }),
              "the upgrade start ('Z') with 537 bytes of payload does not fit a frame; nothing "
              "was sent");
    EXPECT_TRUE(fake.CallsOf(Op::Write).empty());
}

TEST_F(LinkTest, TransactWithNoPortOpenThrowsAtOnce) {
    uint8_t destination[8];
    EXPECT_EQ(CommErrText([&] { link.Transact('c', 0, nullptr, 8, destination, 0); }),
              "the port was lost or closed during the configuration read ('c')");
    EXPECT_TRUE(fake.Calls().empty());
    EXPECT_EQ(fake.now, 0u);
}

struct StatusCase {
    const char* name;
    Bytes reply;
    const char* error;  // nullptr: accepted
};

class StatusReply : public LinkTest, public testing::WithParamInterface<StatusCase> {};

TEST_P(StatusReply, OnlyASingleZeroByteCompletesTheCommand) {
    OpenQuietly(1);
    fake.Feed(1, GetParam().reply);
    const uint8_t payload[12] = {};
    if (GetParam().error == nullptr) {
        EXPECT_NO_THROW(link.TransactStatus('C', sizeof payload, payload, 100));
    } else {
        EXPECT_EQ(CommErrText([&] { link.TransactStatus('C', sizeof payload, payload, 100); }),
                  GetParam().error);
    }
    EXPECT_EQ(FramesWrittenTo(1).size(), 1u);  // a refusal is not asked again
}

INSTANTIATE_TEST_SUITE_P(Replies, StatusReply,
                         testing::Values(StatusCase{"zero", kStatusOk, nullptr},
                                         StatusCase{"one", kStatusRefused,
                                                    "the reader refused the configuration write "
                                                    "('C') with status 1"},
                                         StatusCase{"empty", Frame(0xC3, {}),
                                                    "the reader answered the configuration write "
                                                    "('C') with 0 bytes instead of 1"},
                                         StatusCase{"twoBytes", Frame(0xC3, {0x00, 0x00}),
                                                    "the reader answered the configuration write "
                                                    "('C') with 2 bytes instead of 1"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
