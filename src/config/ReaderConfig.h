#pragma once

#include <array>
#include <cstdint>
#include <string_view>

// The reader's 8-byte configuration record, byte 0 first on the wire.
using ReaderConfig = std::array<uint8_t, 8>;

namespace config {

// Pages of the mode page control, in their fixed order.
enum ModePage { kBinaryPage = 0, kAsciiPage = 1, kWiegandPage = 2 };

// Everything the settings controls hold, as plain values: radio groups as their
// selected index, check boxes as bools, buzzer boxes as one bit each (bit i is
// the box whose name ends in i).
struct Settings {
    int page = kAsciiPage;
    // BinarnyPg
    int binSignalling = 0;  // BinRGrp
    // AsciiPg
    int format = 1;      // FormatRGrp
    int numberSize = 0;  // NrSizeRGrp
    bool crLf = true;
    bool stxEtx = false;
    // WiegandPg
    int wiegSize = 0;
    int wiegOrder = 0;
    int wiegBegBit = 0;
    int wiegEndBit = 1;
    bool wiegNoParity = false;
    // Signalling
    int ledStable = 0;  // LedStabRGrp
    bool ledReadSignalling = true;
    int ledTime = 5;  // LedTim, 0..255
    bool buzzerActive = true;
    uint8_t buzzerPattern = 0x03;

    friend bool operator==(const Settings&, const Settings&) = default;
};

// True when the record's output mode is 2 or 3: the user is told before the
// record is shown (as binary or ASCII).
bool HasInvalidMode(const ReaderConfig& record);

// Spreads the record onto the settings. Only the fields the record's mode shows
// are changed; the other mode page keeps its values. Never selects Wiegand.
void RecordToSettings(const ReaderConfig& record, Settings& settings);

// Builds the whole record from the settings (ledTime clamped to 0..255).
ReaderConfig SettingsToRecord(const Settings& settings);

// The number edits' rule: a signed decimal integer (0 when the text is not
// one), clamped to 0..255.
uint8_t ParseClampedByte(std::string_view text);

}  // namespace config
