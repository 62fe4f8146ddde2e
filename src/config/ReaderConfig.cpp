#include "ReaderConfig.h"

#include <cstddef>

namespace config {

namespace {

constexpr uint8_t kModeMask = 0x03;
constexpr uint8_t kInvalidModeBit = 0x02;

// Byte 1: LED and buzzer signalling.
constexpr uint8_t kLedStableGreen = 0x01;
constexpr uint8_t kBuzzerActive = 0x40;
constexpr uint8_t kLedReadSignalling = 0x80;

// Byte 4 in ASCII mode.
constexpr uint8_t kNumberSizeMask = 0x07;
constexpr uint8_t kDecimalPerByte = 0x10;
constexpr uint8_t kDecimal = 0x20;
constexpr uint8_t kCrLf = 0x40;
constexpr uint8_t kStxEtx = 0x80;

// Byte 4 when the Wiegand page is active.
constexpr uint8_t kWiegSizeMask = 0x07;
constexpr uint8_t kWiegNoParity = 0x08;

// Last items of the radio groups: values the controls cannot show land there.
constexpr int kLastBinSignalling = 2;
constexpr int kLastNumberSize = 5;

enum FormatIndex { kHex = 0, kDecWhole = 1, kDecPerByte = 2 };

constexpr uint8_t Bit(bool set, uint8_t mask) { return set ? mask : 0; }

int ClampToLastItem(int value, int last) { return value > last ? last : value; }

uint8_t ClampToByte(int value) {
    if (value < 0) return 0;
    if (value > 255) return 255;
    return static_cast<uint8_t>(value);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

bool HasInvalidMode(const ReaderConfig& record) { return (record[0] & kInvalidModeBit) != 0; }

void RecordToSettings(const ReaderConfig& record, Settings& settings) {
    // Modes 2 and 3 are shown as binary and ASCII: the caller has already told
    // the user that the reader's configuration is invalid.
    const int mode = record[0] & (kModeMask & ~kInvalidModeBit);
    settings.page = mode;

    settings.ledReadSignalling = (record[1] & kLedReadSignalling) != 0;
    settings.buzzerActive = (record[1] & kBuzzerActive) != 0;
    settings.ledStable = record[1] & kLedStableGreen;
    settings.ledTime = record[2];
    settings.buzzerPattern = record[3];

    if (mode == kBinaryPage) {
        settings.binSignalling = ClampToLastItem(record[0] >> 6, kLastBinSignalling);
        return;
    }
    const uint8_t options = record[4];
    if ((options & kDecimal) == 0) {
        // Bit 4 alone means nothing to the reader's format: shown as Hex.
        settings.format = kHex;
    } else {
        settings.format = (options & kDecimalPerByte) != 0 ? kDecPerByte : kDecWhole;
    }
    settings.crLf = (options & kCrLf) != 0;
    settings.stxEtx = (options & kStxEtx) != 0;
    settings.numberSize = ClampToLastItem(options & kNumberSizeMask, kLastNumberSize);
}

ReaderConfig SettingsToRecord(const Settings& settings) {
    // Every field is masked to its own bits, so that a value too large for its
    // field can never change a neighbouring one.
    ReaderConfig record{};
    const int page = settings.page & kModeMask;
    record[0] = static_cast<uint8_t>(page);
    record[1] = Bit(settings.ledReadSignalling, kLedReadSignalling) |
                Bit(settings.buzzerActive, kBuzzerActive) |
                static_cast<uint8_t>(settings.ledStable & kLedStableGreen);
    record[2] = ClampToByte(settings.ledTime);
    record[3] = settings.buzzerPattern;
    record[5] = 0;
    record[6] = 3;
    record[7] = 0;

    switch (page) {
        case kBinaryPage:
            record[0] |= static_cast<uint8_t>((settings.binSignalling & 3) << 6);
            record[4] = 0;
            break;
        case kAsciiPage:
            record[4] = Bit(settings.stxEtx, kStxEtx) | Bit(settings.crLf, kCrLf) |
                        Bit(settings.format > kHex, kDecimal) |
                        Bit(settings.format == kDecPerByte, kDecimalPerByte) |
                        static_cast<uint8_t>(settings.numberSize & kNumberSizeMask);
            break;
        case kWiegandPage:
            record[4] = static_cast<uint8_t>(((settings.wiegBegBit & 1) << 7) |
                                             ((settings.wiegEndBit & 1) << 6) |
                                             ((settings.wiegOrder & 1) << 5)) |
                        Bit(settings.wiegNoParity, kWiegNoParity) |
                        static_cast<uint8_t>(settings.wiegSize & kWiegSizeMask);
            break;
        default:
            record[4] = 0;
            break;
    }
    return record;
}

uint8_t ParseClampedByte(std::string_view text) {
    // Blanks around the number are tolerated; a '+' sign is accepted like '-'.
    // Anything else that is not a decimal digit makes the text not a number.
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;

    bool negative = false;
    if (begin < end && (text[begin] == '+' || text[begin] == '-')) {
        negative = text[begin] == '-';
        ++begin;
    }
    if (begin == end) return 0;

    // Saturate while reading: a long run of digits is simply above 255.
    int value = 0;
    for (size_t i = begin; i < end; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return 0;
        value = value * 10 + (c - '0');
        if (value > 255) value = 256;
    }
    return negative ? 0 : ClampToByte(value);
}

}  // namespace config
