#include "Profile.h"

#include <fmt/format.h>

#include <array>
#include <cctype>
#include <vector>

#include "Failure.h"

namespace cli {

namespace {

using Json = nlohmann::ordered_json;

// A radio group of the configuration page: the words that name its items, in
// the order of the items.
struct Choice {
    const char* field;
    int config::Settings::*member;
    std::vector<const char*> words;
};

const std::array<Choice, 5>& Choices() {
    static const std::array<Choice, 5> choices = {{
        {"output", &config::Settings::page, {"binary", "ascii"}},
        {"binary_signalling",
         &config::Settings::binSignalling,
         {"approach", "approach-and-removal", "every-second"}},
        {"ascii_format", &config::Settings::format, {"hex", "decimal", "decimal-per-byte"}},
        {"number_size",
         &config::Settings::numberSize,
         {"as-card", "4-bytes", "5-bytes", "6-bytes", "7-bytes", "8-bytes"}},
        {"steady_led", &config::Settings::ledStable, {"red", "green"}},
    }};
    return choices;
}

struct Switch {
    const char* field;
    bool config::Settings::*member;
};

const std::array<Switch, 4> kSwitches = {{
    {"cr_lf", &config::Settings::crLf},
    {"stx_etx", &config::Settings::stxEtx},
    {"read_signalling", &config::Settings::ledReadSignalling},
    {"buzzer", &config::Settings::buzzerActive},
}};

constexpr const char* kTimeField = "read_signalling_time";
constexpr const char* kSlotsField = "buzzer_slots";
constexpr const char* kRecordField = "record";

// The buzzer's eight 60 ms slots as the boxes stand on the page, leftmost
// (bit 0) first: "11000000".
std::string SlotsText(uint8_t pattern) {
    std::string text;
    for (int i = 0; i < 8; ++i) text += ((pattern >> i) & 1u) ? '1' : '0';
    return text;
}

[[noreturn]] void Refuse(const std::string& field, const Json& value, const std::string& allowed) {
    throw Failure(kExitBadInput,
                  fmt::format("profile: field \"{}\": {} is not allowed; allowed: {}", field,
                              value.dump(), allowed));
}

std::string Quoted(const std::vector<const char*>& words) {
    std::string text;
    for (const char* word : words)
        text += (text.empty() ? "\"" : ", \"") + std::string(word) + "\"";
    return text;
}

const Json& Required(const Json& profile, const std::string& field) {
    const auto found = profile.find(field);
    if (found == profile.end()) {
        throw Failure(kExitBadInput, fmt::format("profile: field \"{}\" is missing", field));
    }
    return *found;
}

bool ParseRecord(const std::string& text, ReaderConfig& record) {
    std::string digits;
    for (const char c : text) {
        if (c == ' ') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        digits += c;
    }
    if (digits.size() != 2 * record.size()) return false;
    for (size_t i = 0; i < record.size(); ++i) {
        record[i] = static_cast<uint8_t>(std::stoi(digits.substr(2 * i, 2), nullptr, 16));
    }
    return true;
}

}  // namespace

std::string HexBytes(const uint8_t* bytes, size_t count, char separator) {
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) text += separator;
        text += fmt::format("{:02X}", bytes[i]);
    }
    return text;
}

Json ProfileFromSettings(const config::Settings& settings) {
    Json profile;
    const auto& choices = Choices();
    const auto choice = [&](size_t i) {
        const Choice& c = choices[i];
        profile[c.field] = c.words.at(static_cast<size_t>(settings.*c.member));
    };
    choice(0);
    choice(1);
    choice(2);
    choice(3);
    profile[kSwitches[0].field] = settings.crLf;
    profile[kSwitches[1].field] = settings.stxEtx;
    choice(4);
    profile[kSwitches[2].field] = settings.ledReadSignalling;
    profile[kTimeField] = settings.ledTime;
    profile[kSwitches[3].field] = settings.buzzerActive;
    profile[kSlotsField] = SlotsText(settings.buzzerPattern);
    const ReaderConfig record = config::SettingsToRecord(settings);
    profile[kRecordField] = HexBytes(record.data(), record.size());
    return profile;
}

config::Settings SettingsFromProfile(const std::string& text) {
    const Json profile = Json::parse(text, nullptr, false);
    if (profile.is_discarded()) throw Failure(kExitBadInput, "profile: not a JSON document");
    if (!profile.is_object()) throw Failure(kExitBadInput, "profile: not a JSON object");

    std::vector<std::string> known = {kTimeField, kSlotsField, kRecordField};
    for (const Choice& c : Choices()) known.emplace_back(c.field);
    for (const Switch& s : kSwitches) known.emplace_back(s.field);
    for (const auto& [field, value] : profile.items()) {
        if (std::find(known.begin(), known.end(), field) == known.end()) {
            throw Failure(kExitBadInput, fmt::format("profile: unknown field \"{}\"", field));
        }
    }

    config::Settings settings;
    for (const Choice& c : Choices()) {
        const Json& value = Required(profile, c.field);
        const auto word = value.is_string()
                              ? std::find_if(c.words.begin(), c.words.end(),
                                             [&](const char* w) { return value == w; })
                              : c.words.end();
        if (word == c.words.end()) Refuse(c.field, value, Quoted(c.words));
        settings.*c.member = static_cast<int>(word - c.words.begin());
    }
    for (const Switch& s : kSwitches) {
        const Json& value = Required(profile, s.field);
        if (!value.is_boolean()) Refuse(s.field, value, "true or false");
        settings.*s.member = value.get<bool>();
    }
    const Json& time = Required(profile, kTimeField);
    if (!time.is_number_integer() || time.get<int64_t>() < 0 || time.get<int64_t>() > 255) {
        Refuse(kTimeField, time, "a whole number 0 to 255 (tenths of a second)");
    }
    settings.ledTime = time.get<int>();
    const Json& slots = Required(profile, kSlotsField);
    const auto slotsValid = [&] {
        if (!slots.is_string() || slots.get<std::string>().size() != 8) return false;
        const std::string bits = slots.get<std::string>();
        return bits.find_first_not_of("01") == std::string::npos;
    };
    if (!slotsValid()) Refuse(kSlotsField, slots, "8 characters 0 or 1, the leftmost slot first");
    settings.buzzerPattern = 0;
    for (int i = 0; i < 8; ++i) {
        if (slots.get<std::string>()[static_cast<size_t>(i)] == '1') {
            settings.buzzerPattern = static_cast<uint8_t>(settings.buzzerPattern | (1u << i));
        }
    }

    const auto record = profile.find(kRecordField);
    if (record != profile.end()) {
        ReaderConfig given{};
        if (!record->is_string() || !ParseRecord(record->get<std::string>(), given)) {
            Refuse(kRecordField, *record,
                   "8 bytes in hexadecimal, e.g. \"01 C0 05 03 60 00 03 00\"");
        }
        const ReaderConfig made = config::SettingsToRecord(settings);
        if (given != made) {
            Refuse(kRecordField, *record,
                   fmt::format("the record of the named fields, \"{}\"",
                               HexBytes(made.data(), made.size())));
        }
    }
    return settings;
}

std::string DescribeSettings(const config::Settings& settings) {
    std::string text;
    const Json profile = ProfileFromSettings(settings);
    for (const auto& [field, value] : profile.items()) {
        if (field == kRecordField) continue;
        text += fmt::format("{:<22}{}\n", field + ":",
                            value.is_string() ? value.get<std::string>() : value.dump());
    }
    return text;
}

}  // namespace cli
