// The reader emulator on its line, seen from a plain client of the
// pseudo-terminal: card output, the test commands, pacing, garbage and faults.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Frame.h"
#include "SimProcess.h"

namespace {

using Clock = std::chrono::steady_clock;
using simtest::Bytes;

constexpr int kReady = 10000;
const std::vector<uint8_t> kIdentifyRequest = Bytes("05 00 4D A1 F4");
const std::vector<uint8_t> kIdentifyReply = Bytes("0B 00 CD 28 04 39 01 07 00 CD 88");
const std::vector<uint8_t> kCardInFieldRequest = Bytes("05 00 54 60 3E");

std::vector<uint8_t> Text(const std::string& text) { return {text.begin(), text.end()}; }

class SimLineTest : public ::testing::Test {
protected:
    void StartSim(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args = {"--port", "3", "--folder", folder.Path()};
        args.insert(args.end(), extra.begin(), extra.end());
        ASSERT_TRUE(sim.Start(args));
        ASSERT_TRUE(sim.WaitReady(kReady)) << sim.Transcript();
        client = std::make_unique<simtest::PortClient>(sim.Device());
        ASSERT_TRUE(client->IsOpen());
    }
    bool Identifies() {
        return client->Write(kIdentifyRequest) && client->Read(11, 2000) == kIdentifyReply;
    }

    simtest::TempPortFolder folder;
    simtest::SimProcess sim;
    std::unique_ptr<simtest::PortClient> client;
};

struct CardRow {
    const char* name;
    const char* config;
    const char* key;  // line typed on the emulator's terminal
    std::vector<uint8_t> expected;
};

class SimCardTest : public SimLineTest, public ::testing::WithParamInterface<CardRow> {};

// The card number 01 23 45 67 89 is 4886718345 in decimal.
TEST_P(SimCardTest, CardIsSentAsTheConfigurationSays) {
    StartSim({"--config", GetParam().config, "--card", "0123456789"});
    sim.SendLine(GetParam().key);
    EXPECT_EQ(client->ReadUntilQuiet(300, 3000), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, SimCardTest,
    ::testing::Values(
        CardRow{"DefaultDecimalWithCrLf", "01 C0 05 03 60 00 03 00", "c",
                Text("0004886718345\r\n")},
        CardRow{"HexOwnLength", "01 00 00 00 00 00 03 00", "c", Text("0123456789")},
        CardRow{"HexFourBytesInStxEtx", "01 00 00 00 81 00 03 00", "c",
                Text("\x02"
                     "23456789"
                     "\x03")},
        CardRow{"HexEightBytesWidened", "01 00 00 00 05 00 03 00", "c", Text("0000000123456789")},
        CardRow{"SizeSevenCountsAsEight", "01 00 00 00 07 00 03 00", "c", Text("0000000123456789")},
        CardRow{"BitFourAloneIsHex", "01 00 00 00 10 00 03 00", "c", Text("0123456789")},
        CardRow{"DecimalPerByteSixBytesCrLf", "01 00 00 00 73 00 03 00", "c",
                Text("000001035069103137\r\n")},
        CardRow{"DecimalWholeEightBytes", "01 00 00 00 25 00 03 00", "c",
                Text("00000000004886718345")},
        CardRow{"DecimalWholeFourBytesEverything", "01 00 00 00 E1 00 03 00", "c",
                Text("\x02"
                     "0591751049\r\n\x03")},
        CardRow{"NumberTypedWithTheKey", "01 00 00 00 00 00 03 00", "c 00 0A", Text("000A")},
        CardRow{"WiegandSendsNothing", "02 00 00 00 00 00 03 00", "c", {}},
        CardRow{"InvalidModeSendsNothing", "03 00 00 00 00 00 03 00", "c", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimLineTest, BinaryModeSendsTheCardInAFrame) {
    StartSim({"--config", "00 C0 05 03 00 00 03 00", "--card", "0123456789"});
    sim.SendLine("c");
    const std::vector<uint8_t> frame = client->ReadUntilQuiet(300, 3000);
    ASSERT_EQ(frame.size(), 10u);
    EXPECT_TRUE(IsWholeFrame(frame.data(), frame.size()));
    EXPECT_EQ(std::vector<uint8_t>(frame.begin(), frame.begin() + 8),
              Bytes("0A 00 C1 01 23 45 67 89"));
}

TEST_F(SimLineTest, CardFollowsAWrittenConfiguration) {
    StartSim({"--card", "0123456789"});
    // The zero record (binary output) with its seal, as the program writes it.
    ASSERT_TRUE(client->Write(Bytes("11 00 43 00 00 00 00 00 00 00 00 59 BB 04 69 CA E7")));
    ASSERT_EQ(client->Read(6, 2000), Bytes("06 00 C3 00 50 5C"));
    sim.SendLine("c");
    const std::vector<uint8_t> frame = client->ReadUntilQuiet(300, 3000);
    ASSERT_GE(frame.size(), 3u);
    EXPECT_EQ(frame[2], 0xC1);
}

TEST_F(SimLineTest, PeriodicCardsKeepComing) {
    StartSim({"--card-every", "0.1"});
    const std::vector<uint8_t> cards = client->Read(3 * 15, 5000);
    EXPECT_EQ(cards.size(), 45u);
    EXPECT_EQ(std::vector<uint8_t>(cards.begin(), cards.begin() + 15), Text("0004886718345\r\n"));
}

TEST_F(SimLineTest, NothingPilesUpWhileNobodyHasThePortOpen) {
    StartSim({"--card-every", "0.1"});
    client.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    simtest::PortClient late(sim.Device());
    // About ten cards went out meanwhile; at most the one under way may show.
    EXPECT_LE(late.Read(1000, 50).size(), 15u);
}

TEST_F(SimLineTest, CardInFieldReportsACardOfTheLastSecond) {
    StartSim();
    ASSERT_TRUE(client->Write(kCardInFieldRequest));
    const std::vector<uint8_t> before = client->Read(6, 2000);
    sim.SendLine("c");
    client->ReadUntilQuiet(300, 3000);
    ASSERT_TRUE(client->Write(kCardInFieldRequest));
    const std::vector<uint8_t> after = client->Read(6, 2000);
    ASSERT_EQ(before.size(), 6u);
    ASSERT_EQ(after.size(), 6u);
    EXPECT_TRUE(IsWholeFrame(before.data(), 6));
    EXPECT_TRUE(IsWholeFrame(after.data(), 6));
    EXPECT_EQ(before[2], 0xD4);
    EXPECT_EQ(before[3], 0);
    EXPECT_EQ(after[3], 1);
}

TEST_F(SimLineTest, LedCommandIsConfirmed) {
    StartSim();
    // The Test page's L frame for green, 0.5 s, buzzer steps 0 and 1.
    ASSERT_TRUE(client->Write(Bytes("08 00 4C 02 05 03 F5 52")));
    const std::vector<uint8_t> reply = client->Read(6, 2000);
    ASSERT_EQ(reply.size(), 6u);
    EXPECT_TRUE(IsWholeFrame(reply.data(), 6));
    EXPECT_EQ(reply[2], 0xCC);
    EXPECT_EQ(reply[3], 0);
}

struct IgnoredRow {
    const char* name;
    std::vector<uint8_t> request;
};

class SimIgnoredTest : public SimLineTest, public ::testing::WithParamInterface<IgnoredRow> {};

TEST_P(SimIgnoredTest, ReaderStaysSilentAndInStep) {
    StartSim();
    ASSERT_TRUE(client->Write(GetParam().request));
    EXPECT_TRUE(client->Read(1, 300).empty());
    EXPECT_TRUE(Identifies());
}

std::vector<uint8_t> FrameOf(uint8_t command, const std::vector<uint8_t>& payload) {
    return BuildFrame(command, payload.data(), payload.size());
}

INSTANTIATE_TEST_SUITE_P(
    Malformed, SimIgnoredTest,
    ::testing::Values(IgnoredRow{"BadCrc", Bytes("05 00 4D A1 F5")},
                      IgnoredRow{"LengthBelowFive", Bytes("04 00 4D A1")},
                      IgnoredRow{"UnknownCommand", FrameOf('Q', {})},
                      IgnoredRow{"IdentifyWithPayload", FrameOf('M', {0x00})},
                      IgnoredRow{"ShortConfigWrite", FrameOf('C', std::vector<uint8_t>(8, 0))},
                      IgnoredRow{"ReplyCommand", Bytes("0B 00 CD 28 04 39 01 07 00 CD 88")},
                      IgnoredRow{"HalfAFrame", Bytes("11 00 43 00 00")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimLineTest, RequestAfterGarbageInOneWriteIsStillAnswered) {
    StartSim();
    std::vector<uint8_t> bytes = Bytes("01 02 03");
    bytes.insert(bytes.end(), kIdentifyRequest.begin(), kIdentifyRequest.end());
    ASSERT_TRUE(client->Write(bytes));
    EXPECT_EQ(client->Read(11, 2000), kIdentifyReply);
}

TEST_F(SimLineTest, RandomBytesNeitherCrashNorDerailTheReader) {
    StartSim();
    std::mt19937 random(20240613);
    std::vector<uint8_t> noise(2000);
    for (uint8_t& byte : noise) byte = static_cast<uint8_t>(random());
    ASSERT_TRUE(client->Write(noise));
    // 2000 bytes take about 1.04 s on the line; let them all arrive first.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    client->ReadUntilQuiet(100, 1000);
    EXPECT_FALSE(sim.WaitExit(0).has_value()) << sim.Transcript();
    EXPECT_TRUE(Identifies());
}

TEST_F(SimLineTest, ReplyWaitsForTheRequestAndItselfOnTheLine) {
    StartSim();
    const auto start = Clock::now();
    ASSERT_TRUE(Identifies());
    // 16 bytes of 0.52 ms each plus the 2 ms reply delay: never sooner.
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(10));
}

TEST_F(SimLineTest, LongRequestTakesItsWireTimeBeforeTheReply) {
    StartSim();
    std::vector<uint8_t> payload(522, 0);
    const std::vector<uint8_t> block = FrameOf('Y', payload);
    const auto start = Clock::now();
    ASSERT_TRUE(client->Write(block));
    const std::vector<uint8_t> reply = client->Read(6, 3000);
    ASSERT_EQ(reply.size(), 6u);
    EXPECT_EQ(reply[2], 0xD9);
    // 527 bytes at 19200 baud take about 274 ms.
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(260));
}

TEST_F(SimLineTest, FloodGoesOnAtTheLineRateAndRepliesStillGetThrough) {
    StartSim({"--flood"});
    const auto start = Clock::now();
    const std::vector<uint8_t> first = client->Read(960, 5000);
    ASSERT_EQ(first.size(), 960u);
    // 960 bytes are half a second of the line.
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(400));

    ASSERT_TRUE(client->Write(kIdentifyRequest));
    const std::vector<uint8_t> stream = client->Read(4000, 1500);
    EXPECT_NE(
        std::search(stream.begin(), stream.end(), kIdentifyReply.begin(), kIdentifyReply.end()),
        stream.end());
}

TEST_F(SimLineTest, PortCanBeClosedAndOpenedAgain) {
    StartSim();
    for (int round = 0; round < 5; ++round) {
        client = std::make_unique<simtest::PortClient>(folder.Entry("com3"));
        ASSERT_TRUE(Identifies()) << "round " << round;
    }
}

}  // namespace
