#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Monitor.h"
#include "ReaderConfig.h"

namespace monitor {
namespace {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;
using protocol::BuildLFrame;

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

const Bytes kStx = {0x02};
const Bytes kEtx = {0x03};
const Bytes kCr = {0x0D};
const Bytes kCrLf = {0x0D, 0x0A};

// ---- One received chunk to log lines -------------------------------------

struct ChunkRow {
    const char* name;
    Bytes chunk;
    Lines lines;
};

class ChunkToLinesTest : public testing::TestWithParam<ChunkRow> {};

TEST_P(ChunkToLinesTest, LogsTheChunk) {
    const ChunkRow& row = GetParam();
    EXPECT_EQ(ChunkToLines(row.chunk.data(), row.chunk.size()), row.lines);
}

INSTANTIATE_TEST_SUITE_P(
    TextChunks, ChunkToLinesTest,
    testing::Values(
        ChunkRow{"NumberWithCrLf", Concat({Text("1234567890"), kCrLf}), {"1234567890<CR><LF>"}},
        ChunkRow{"NumberInStxEtx", Concat({kStx, Text("12345678"), kEtx}), {"<STX>12345678<ETX>"}},
        ChunkRow{"TwoNumbersCutAtLf",
                 Concat({Text("1111"), kCrLf, Text("2222"), kCrLf}),
                 {"1111<CR><LF>", "2222<CR><LF>"}},
        ChunkRow{"StarStartsNextLine", Concat({Text("12*34"), kCrLf}), {"12", "*34<CR><LF>"}},
        ChunkRow{"StarAtStartNoEmptyLine", Text("*12"), {"*12"}},
        ChunkRow{"TwoStars", Text("**"), {"*", "*"}},
        ChunkRow{
            "StarsInStxEtx", Concat({kStx, Text("*12*34"), kEtx}), {"<STX>", "*12", "*34<ETX>"}},
        ChunkRow{"NoTerminator", Text("1234"), {"1234"}}, ChunkRow{"LoneEtx", kEtx, {"<ETX>"}},
        ChunkRow{"LoneStx", kStx, {"<STX>"}},
        ChunkRow{
            "RestAfterLastLf", Concat({Text("1234"), kCrLf, Text("56")}), {"1234<CR><LF>", "56"}},
        ChunkRow{"AfterStxOnlyEtxCuts",
                 Concat({kStx, Text("12"), kCrLf, Text("34"), kEtx}),
                 {"<STX>12<CR><LF>34<ETX>"}},
        ChunkRow{"EtxWithoutStxDoesNotCut", Concat({Text("12"), kEtx}), {"12<ETX>"}}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    BinaryChunks, ChunkToLinesTest,
    testing::Values(
        ChunkRow{"CrAsLastByte", Concat({Text("1234"), kCr}), {"Odebrane: 31,32,33,34,0D"}},
        ChunkRow{"LoneLf", Bytes{0x0A}, {"Odebrane: 0A"}},
        ChunkRow{"EchoOfM",
                 Bytes{0x05, 0x00, 0x4D, 0xA1, 0xF4},
                 {"Odebrane: 05,00,4D,A1,F4 - echo wysłanego rozkazu"}},
        ChunkRow{"EchoOfT",
                 Bytes{0x05, 0x00, 0x54, 0x60, 0x3E},
                 {"Odebrane: 05,00,54,60,3E - echo wysłanego rozkazu"}},
        ChunkRow{"EchoThenOneByte",
                 Bytes{0x05, 0x00, 0x4D, 0xA1, 0xF4, 0x07},
                 {"Odebrane: 05,00,4D,A1,F4 - echo wysłanego rozkazu", "Odebrane: 07"}},
        ChunkRow{"FiveByteThenElevenByteFrame",
                 Bytes{0x05, 0x00, 0x54, 0x60, 0x3E, 0x0B, 0x00, 0xCD, 0x28, 0x04, 0x39, 0x01, 0x07,
                       0x00, 0x12, 0x34},
                 {"Odebrane: 05,00,54,60,3E - echo wysłanego rozkazu",
                  "Odebrane: 0B,00,CD,28,04,39,01,07,00,12,34"}},
        ChunkRow{"FiveBytesOtherThanEcho",
                 Bytes{0x05, 0x00, 0x4D, 0xA1, 0xF5},
                 {"Odebrane: 05,00,4D,A1,F5"}},
        ChunkRow{"FourBytesOfEcho", Bytes{0x05, 0x00, 0x4D, 0xA1}, {"Odebrane: 05,00,4D,A1"}},
        ChunkRow{"LengthPastEnd", Bytes{0x05, 0x00, 0x4D}, {"Odebrane: 05,00,4D"}},
        ChunkRow{"ZeroLength", Bytes{0x00, 0x01, 0x02}, {"Odebrane: 00,01,02"}},
        ChunkRow{"SecondLengthPastEnd",
                 Bytes{0x03, 0x01, 0x02, 0x05, 0x00},
                 {"Odebrane: 03,01,02", "Odebrane: 05,00"}},
        ChunkRow{"ZeroLengthAfterFrame",
                 Bytes{0x02, 0xFF, 0x00, 0x09},
                 {"Odebrane: 02,FF", "Odebrane: 00,09"}},
        ChunkRow{"OneByteFrames", Bytes{0x01, 0x01}, {"Odebrane: 01", "Odebrane: 01"}},
        ChunkRow{"StxNotFirst", Concat({Text("1"), kStx}), {"Odebrane: 31,02"}},
        ChunkRow{"EtxNotLast", Concat({kEtx, Text("1")}), {"Odebrane: 03,31"}},
        ChunkRow{"Tab", Text("12\t"), {"Odebrane: 31,32,09"}},
        ChunkRow{"Delete", Text("1\x7F"), {"Odebrane: 31,7F"}},
        ChunkRow{"HighByte", Bytes{0x80}, {"Odebrane: 80"}},
        ChunkRow{"LfBeforeCr", Concat({Text("1"), Bytes{0x0A, 0x0D}}), {"Odebrane: 31,0A,0D"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ChunkToLinesTest, EmptyChunkLogsNothing) {
    const uint8_t none[1] = {0};
    EXPECT_TRUE(ChunkToLines(none, 0).empty());
}

TEST(ChunkToLinesTest, FullChunkOfFramesIsSplitWholly) {
    // 51 echoes of T and one byte: the largest chunk a poll returns.
    Bytes chunk;
    for (int i = 0; i < 51; ++i) chunk.insert(chunk.end(), {0x05, 0x00, 0x54, 0x60, 0x3E});
    chunk.push_back(0x01);
    ASSERT_EQ(chunk.size(), 256u);
    const Lines lines = ChunkToLines(chunk.data(), chunk.size());
    ASSERT_EQ(lines.size(), 52u);
    EXPECT_EQ(lines[50], "Odebrane: 05,00,54,60,3E - echo wysłanego rozkazu");
    EXPECT_EQ(lines[51], "Odebrane: 01");
}

// ---- The L test command -------------------------------------------------

struct LFrameRow {
    const char* name;
    bool green;
    bool red;
    const char* timeText;
    uint8_t buzzer;
    std::array<uint8_t, 8> frame;
    const char* text;
};

class LFrameTest : public testing::TestWithParam<LFrameRow> {};

TEST_P(LFrameTest, BuildsFrameAndItsText) {
    const LFrameRow& row = GetParam();
    const uint8_t time = config::ParseClampedByte(row.timeText);
    const std::array<uint8_t, 8> frame = BuildLFrame(row.green, row.red, time, row.buzzer);
    EXPECT_EQ(frame, row.frame);
    EXPECT_EQ(LFrameText(frame), row.text);
}

INSTANTIATE_TEST_SUITE_P(Controls, LFrameTest,
                         testing::Values(LFrameRow{"InitialControls",
                                                   true,
                                                   false,
                                                   "5",
                                                   0x03,
                                                   {0x08, 0x00, 0x4C, 0x02, 0x05, 0x03, 0xF5, 0x52},
                                                   "08,00,4C,02,05,03,F5,52"},
                                         LFrameRow{"RedTickedAsWell",
                                                   true,
                                                   true,
                                                   "5",
                                                   0x03,
                                                   {0x08, 0x00, 0x4C, 0x03, 0x05, 0x03, 0xA4, 0x92},
                                                   "08,00,4C,03,05,03,A4,92"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LFrameTest, TimeByteFollowsTheNormalisedEdit) {
    EXPECT_EQ(BuildLFrame(true, false, config::ParseClampedByte("300"), 0x03)[4], 0xFF);
    EXPECT_EQ(BuildLFrame(true, false, config::ParseClampedByte(""), 0x03)[4], 0x00);
    EXPECT_EQ(BuildLFrame(true, false, config::ParseClampedByte("-"), 0x03)[4], 0x00);
    EXPECT_EQ(BuildLFrame(true, false, config::ParseClampedByte("12"), 0x03)[4], 12);
}

}  // namespace
}  // namespace monitor
