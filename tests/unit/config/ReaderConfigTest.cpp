#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>

#include "ReaderConfig.h"

namespace config {

// Readable failure output: every field of the settings.
void PrintTo(const Settings& s, std::ostream* os) {
    *os << "{page " << s.page << ", bin " << s.binSignalling << ", format " << s.format << ", size "
        << s.numberSize << ", crLf " << s.crLf << ", stxEtx " << s.stxEtx << ", wieg " << s.wiegSize
        << '/' << s.wiegOrder << '/' << s.wiegBegBit << '/' << s.wiegEndBit << '/' << s.wiegNoParity
        << ", ledStable " << s.ledStable << ", ledRead " << s.ledReadSignalling << ", ledTime "
        << s.ledTime << ", buzzer " << s.buzzerActive << ", pattern " << int{s.buzzerPattern}
        << '}';
}

namespace {

std::string Hex(const ReaderConfig& record) {
    std::string text;
    for (uint8_t byte : record) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02X ", byte);
        text += digits;
    }
    text.pop_back();
    return text;
}

// ---- Controls to record -------------------------------------------------

struct ToRecordRow {
    const char* name;
    Settings settings;
    ReaderConfig expected;
};

class SettingsToRecordTest : public testing::TestWithParam<ToRecordRow> {};

TEST_P(SettingsToRecordTest, BuildsAllEightBytes) {
    EXPECT_EQ(Hex(SettingsToRecord(GetParam().settings)), Hex(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Controls, SettingsToRecordTest,
    testing::Values(ToRecordRow{"InitialControlsOnAsciiPage",
                                Settings{},
                                {0x01, 0xC0, 0x05, 0x03, 0x60, 0x00, 0x03, 0x00}},
                    ToRecordRow{"BinaryPageReportingPresentCard",
                                Settings{.page = kBinaryPage, .binSignalling = 2},
                                {0x80, 0xC0, 0x05, 0x03, 0x00, 0x00, 0x03, 0x00}},
                    ToRecordRow{"BinaryPageAlsoCardRemoval",
                                Settings{.page = kBinaryPage, .binSignalling = 1},
                                {0x40, 0xC0, 0x05, 0x03, 0x00, 0x00, 0x03, 0x00}},
                    ToRecordRow{
                        "AsciiDecimalPerByteEightBytesFramed",
                        Settings{.format = 2, .numberSize = 5, .crLf = true, .stxEtx = true},
                        {0x01, 0xC0, 0x05, 0x03, 0xF5, 0x00, 0x03, 0x00}},
                    ToRecordRow{"AsciiHexByCardNoEnding",
                                Settings{.format = 0, .numberSize = 0, .crLf = false},
                                {0x01, 0xC0, 0x05, 0x03, 0x00, 0x00, 0x03, 0x00}},
                    ToRecordRow{"WiegandInitialStates",
                                Settings{.page = kWiegandPage},
                                {0x02, 0xC0, 0x05, 0x03, 0x40, 0x00, 0x03, 0x00}},
                    ToRecordRow{"WiegandEveryOptionSet",
                                Settings{.page = kWiegandPage,
                                         .wiegSize = 5,
                                         .wiegOrder = 1,
                                         .wiegBegBit = 1,
                                         .wiegEndBit = 1,
                                         .wiegNoParity = true},
                                {0x02, 0xC0, 0x05, 0x03, 0xED, 0x00, 0x03, 0x00}},
                    ToRecordRow{"WiegandEvenEndBitFortyBits",
                                Settings{.page = kWiegandPage, .wiegSize = 2, .wiegEndBit = 0},
                                {0x02, 0xC0, 0x05, 0x03, 0x02, 0x00, 0x03, 0x00}},
                    ToRecordRow{"SignallingOffStableGreen",
                                Settings{.ledStable = 1,
                                         .ledReadSignalling = false,
                                         .ledTime = 0,
                                         .buzzerActive = false,
                                         .buzzerPattern = 0x00},
                                {0x01, 0x01, 0x00, 0x00, 0x60, 0x00, 0x03, 0x00}},
                    ToRecordRow{"FirstAndLastBuzzerBoxes",
                                Settings{.ledTime = 255, .buzzerPattern = 0x81},
                                {0x01, 0xC0, 0xFF, 0x81, 0x60, 0x00, 0x03, 0x00}},
                    ToRecordRow{"LedTimeAboveByteClamped",
                                Settings{.ledTime = 300},
                                {0x01, 0xC0, 0xFF, 0x03, 0x60, 0x00, 0x03, 0x00}},
                    ToRecordRow{"LedTimeNegativeClamped",
                                Settings{.ledTime = -7},
                                {0x01, 0xC0, 0x00, 0x03, 0x60, 0x00, 0x03, 0x00}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Record to controls -------------------------------------------------

struct ToSettingsRow {
    const char* name;
    ReaderConfig record;
    bool invalidMode;
    Settings start;
    Settings expected;
};

class RecordToSettingsTest : public testing::TestWithParam<ToSettingsRow> {};

TEST_P(RecordToSettingsTest, ShowsWhatTheModeShows) {
    const ToSettingsRow& row = GetParam();
    EXPECT_EQ(HasInvalidMode(row.record), row.invalidMode);
    Settings settings = row.start;
    RecordToSettings(row.record, settings);
    EXPECT_EQ(settings, row.expected);
}

// Wiegand controls away from their initial states: reading never touches them.
constexpr Settings kWiegandChanged{.wiegSize = 3, .wiegOrder = 1, .wiegNoParity = true};

INSTANTIATE_TEST_SUITE_P(
    Records, RecordToSettingsTest,
    testing::Values(
        ToSettingsRow{"Mode2ShownAsBinary",
                      {0x82, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
                      true,
                      Settings{},
                      Settings{.page = kBinaryPage,
                               .binSignalling = 2,
                               .ledReadSignalling = false,
                               .ledTime = 0,
                               .buzzerActive = false,
                               .buzzerPattern = 0x00}},
        ToSettingsRow{"Signalling3ShownAsLastItem",
                      {0xC0, 0xC0, 0x05, 0x03, 0x00, 0x00, 0x03, 0x00},
                      false,
                      Settings{},
                      Settings{.page = kBinaryPage, .binSignalling = 2}},
        ToSettingsRow{
            "Mode3ShownAsAsciiFromByte4",
            {0x03, 0xC0, 0x05, 0x03, 0xF5, 0x00, 0x03, 0x00},
            true,
            Settings{.page = kBinaryPage},
            Settings{
                .page = kAsciiPage, .format = 2, .numberSize = 5, .crLf = true, .stxEtx = true}},
        ToSettingsRow{"Bit4AloneIsHexAndSize7ShownAs5",
                      {0x01, 0xC0, 0x05, 0x03, 0x17, 0x00, 0x03, 0x00},
                      false,
                      Settings{.stxEtx = true},
                      Settings{.format = 0, .numberSize = 5, .crLf = false, .stxEtx = false}},
        ToSettingsRow{"Size6ShownAs5",
                      {0x01, 0xC0, 0x05, 0x03, 0x66, 0x00, 0x03, 0x00},
                      false,
                      Settings{},
                      Settings{.format = 1, .numberSize = 5}},
        ToSettingsRow{"DecimalWholeNumberFourBytes",
                      {0x01, 0xC0, 0x05, 0x03, 0x21, 0x00, 0x03, 0x00},
                      false,
                      Settings{},
                      Settings{.format = 1, .numberSize = 1, .crLf = false}},
        ToSettingsRow{"BuzzerBoxesZeroAndSevenOnly",
                      {0x01, 0xC0, 0x05, 0x81, 0x60, 0x00, 0x03, 0x00},
                      false,
                      Settings{.buzzerPattern = 0x7E},
                      Settings{.buzzerPattern = 0x81}},
        ToSettingsRow{"IgnoredBitsOfByte1Clear",
                      {0x01, 0x3E, 0x05, 0x03, 0x60, 0x00, 0x03, 0x00},
                      false,
                      Settings{.ledStable = 1},
                      Settings{.ledStable = 0, .ledReadSignalling = false, .buzzerActive = false}},
        ToSettingsRow{"StableGreenAndLongestLedTime",
                      {0x01, 0x01, 0xFF, 0x00, 0x60, 0x00, 0x03, 0x00},
                      false,
                      Settings{},
                      Settings{.ledStable = 1,
                               .ledReadSignalling = false,
                               .ledTime = 255,
                               .buzzerActive = false,
                               .buzzerPattern = 0x00}},
        ToSettingsRow{"BinaryKeepsAsciiControls",
                      {0x40, 0xC0, 0x05, 0x03, 0xFF, 0x00, 0x03, 0x00},
                      false,
                      Settings{.format = 2, .numberSize = 3, .crLf = false, .stxEtx = true},
                      Settings{.page = kBinaryPage,
                               .binSignalling = 1,
                               .format = 2,
                               .numberSize = 3,
                               .crLf = false,
                               .stxEtx = true}},
        ToSettingsRow{"AsciiKeepsBinaryControls",
                      {0xC1, 0xC0, 0x05, 0x03, 0x60, 0x00, 0x03, 0x00},
                      false,
                      Settings{.page = kBinaryPage, .binSignalling = 1},
                      Settings{.page = kAsciiPage, .binSignalling = 1}},
        ToSettingsRow{"UnusedModeBitsIgnored",
                      {0x3C, 0xC0, 0x05, 0x03, 0x00, 0x00, 0x03, 0x00},
                      false,
                      Settings{},
                      Settings{.page = kBinaryPage}},
        ToSettingsRow{
            "InvalidModeNeverTouchesWiegand",
            {0x02, 0xC0, 0x05, 0x03, 0xFF, 0x00, 0x03, 0x00},
            true,
            kWiegandChanged,
            Settings{.page = kBinaryPage, .wiegSize = 3, .wiegOrder = 1, .wiegNoParity = true}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Read, then write back unchanged ------------------------------------

struct RoundTripRow {
    const char* name;
    ReaderConfig read;
    ReaderConfig written;
};

class RoundTripTest : public testing::TestWithParam<RoundTripRow> {};

TEST_P(RoundTripTest, WritesBackWhatTheControlsHold) {
    Settings settings;
    RecordToSettings(GetParam().read, settings);
    EXPECT_EQ(Hex(SettingsToRecord(settings)), Hex(GetParam().written));
}

INSTANTIATE_TEST_SUITE_P(
    ReadThenWrite, RoundTripTest,
    testing::Values(RoundTripRow{"DecimalPerByteOptionsKept",
                                 {0x01, 0xC0, 0x05, 0x03, 0xF5, 0x00, 0x03, 0x00},
                                 {0x01, 0xC0, 0x05, 0x03, 0xF5, 0x00, 0x03, 0x00}},
                    RoundTripRow{"IgnoredBitsOfByte1Dropped",
                                 {0x01, 0x3E, 0x05, 0x03, 0x60, 0x00, 0x03, 0x00},
                                 {0x01, 0x00, 0x05, 0x03, 0x60, 0x00, 0x03, 0x00}},
                    RoundTripRow{"Bytes5To7WrittenAs0And3And0",
                                 {0x01, 0xC0, 0x05, 0x03, 0x60, 0xAA, 0xBB, 0xCC},
                                 {0x01, 0xC0, 0x05, 0x03, 0x60, 0x00, 0x03, 0x00}},
                    RoundTripRow{"AllZeroRecordGainsByte6",
                                 {0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0x00, 0xFF},
                                 {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00}},
                    RoundTripRow{"UnusedBitsOfByte0Dropped",
                                 {0x3D, 0xC0, 0x05, 0x03, 0x60, 0x00, 0x03, 0x00},
                                 {0x01, 0xC0, 0x05, 0x03, 0x60, 0x00, 0x03, 0x00}},
                    RoundTripRow{"BinaryModeOptionsCleared",
                                 {0x40, 0xC0, 0x05, 0x03, 0xFF, 0x00, 0x03, 0x00},
                                 {0x40, 0xC0, 0x05, 0x03, 0x00, 0x00, 0x03, 0x00}},
                    RoundTripRow{"AsciiModeSignallingCleared",
                                 {0xC1, 0xC0, 0x05, 0x03, 0x60, 0x00, 0x03, 0x00},
                                 {0x01, 0xC0, 0x05, 0x03, 0x60, 0x00, 0x03, 0x00}},
                    RoundTripRow{"UnshowableValuesComeBackClamped",
                                 {0x01, 0xC0, 0x05, 0x03, 0x17, 0x00, 0x03, 0x00},
                                 {0x01, 0xC0, 0x05, 0x03, 0x05, 0x00, 0x03, 0x00}},
                    RoundTripRow{"Mode2ComesBackAsBinary",
                                 {0x82, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
                                 {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00}},
                    RoundTripRow{"Mode3ComesBackAsAscii",
                                 {0x03, 0x81, 0xFF, 0x81, 0xF5, 0x00, 0x03, 0x00},
                                 {0x01, 0x81, 0xFF, 0x81, 0xF5, 0x00, 0x03, 0x00}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- The number edits ---------------------------------------------------

struct NumberRow {
    const char* name;
    const char* text;
    uint8_t expected;
};

class ParseClampedByteTest : public testing::TestWithParam<NumberRow> {};

TEST_P(ParseClampedByteTest, NormalisesTheEditText) {
    EXPECT_EQ(int{ParseClampedByte(GetParam().text)}, int{GetParam().expected});
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseClampedByteTest,
    testing::Values(NumberRow{"InRange", "5", 5}, NumberRow{"Zero", "0", 0},
                    NumberRow{"Largest", "255", 255}, NumberRow{"JustAbove", "256", 255},
                    NumberRow{"AboveClamped", "300", 255}, NumberRow{"NegativeClamped", "-7", 0},
                    NumberRow{"NegativeZero", "-0", 0}, NumberRow{"Letters", "abc", 0},
                    NumberRow{"Empty", "", 0}, NumberRow{"LoneMinus", "-", 0},
                    NumberRow{"LonePlus", "+", 0}, NumberRow{"PlusSign", "+12", 12},
                    NumberRow{"LeadingZeros", "007", 7},
                    NumberRow{"SurroundingBlanks", " 12\t", 12}, NumberRow{"OnlyBlanks", "  ", 0},
                    NumberRow{"TrailingLetter", "12a", 0}, NumberRow{"InnerBlank", "1 2", 0},
                    NumberRow{"BlankAfterSign", "- 5", 0}, NumberRow{"TwoSigns", "+-5", 0},
                    NumberRow{"Fraction", "1.5", 0}, NumberRow{"HexPrefix", "0x10", 0},
                    NumberRow{"HugePositive", "99999999999999999999", 255},
                    NumberRow{"HugeNegative", "-99999999999999999999", 0},
                    NumberRow{"TwoToThe32", "4294967296", 255}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Invalid output modes -----------------------------------------------

struct ModeRow {
    const char* name;
    uint8_t byte0;
    bool invalid;
};

class HasInvalidModeTest : public testing::TestWithParam<ModeRow> {};

TEST_P(HasInvalidModeTest, LooksOnlyAtTheModeBits) {
    const ReaderConfig record{GetParam().byte0, 0, 0, 0, 0, 0, 3, 0};
    EXPECT_EQ(HasInvalidMode(record), GetParam().invalid);
}

INSTANTIATE_TEST_SUITE_P(Byte0, HasInvalidModeTest,
                         testing::Values(ModeRow{"Binary", 0x00, false},
                                         ModeRow{"Ascii", 0x01, false},
                                         ModeRow{"Wiegand", 0x02, true},
                                         ModeRow{"Three", 0x03, true},
                                         ModeRow{"WiegandWithSignalling", 0x82, true},
                                         ModeRow{"BinaryWithOtherBitsSet", 0xFC, false},
                                         ModeRow{"AsciiWithOtherBitsSet", 0xFD, false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace config
