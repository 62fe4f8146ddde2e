#include "Profile.h"

#include <fmt/format.h>

#include <array>
#include <cctype>
#include <set>
#include <vector>

#include "Catalogue.h"
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

constexpr const char* kBadProfile = "bad_profile";

[[noreturn]] void Refuse(const std::string& field, const Json& value, const std::string& allowed) {
    throw Failure(
        kExitBadInput, kBadProfile,
        Say("profile: field \"{}\": {} is not allowed; allowed: {}", field, value.dump(), allowed));
}

std::string Quoted(const std::vector<const char*>& words) {
    std::string text;
    for (const char* word : words)
        text += (text.empty() ? "\"" : ", \"") + std::string(word) + "\"";
    return text;
}

// Refuses every one of the fields at once, named in the form for one field
// or for more: "fields "a", "b" are missing".
void RefuseAll(const std::vector<std::string>& fields, const char* one, const char* more) {
    if (fields.empty()) return;
    std::string names;
    for (const std::string& field : fields) names += (names.empty() ? "\"" : ", \"") + field + "\"";
    throw Failure(kExitBadInput, kBadProfile,
                  Say("profile: {}", Say(fields.size() == 1 ? one : more, names)));
}

// The document, refused when it is no JSON (with the line and column where it
// stops being JSON) or when an object names a field twice: the parser would
// keep the last silently.
Json Parse(const std::string& text) {
    std::vector<std::set<std::string>> objects;
    std::string twice;
    const Json::parser_callback_t noteKeys = [&](int, Json::parse_event_t event, Json& parsed) {
        if (event == Json::parse_event_t::object_start) objects.emplace_back();
        if (event == Json::parse_event_t::object_end) objects.pop_back();
        if (event == Json::parse_event_t::key && twice.empty() &&
            !objects.back().insert(parsed.get<std::string>()).second) {
            twice = parsed.get<std::string>();
        }
        return true;
    };
    try {
        Json profile = Json::parse(text, noteKeys);
        if (!twice.empty()) {
            throw Failure(kExitBadInput, kBadProfile,
                          Say("profile: field \"{}\" is given twice", twice));
        }
        return profile;
    } catch (const Json::parse_error& error) {
        // "[json.exception.parse_error.101] parse error at line 1, column 9: syntax error ..."
        const std::string what = error.what();
        const size_t at = what.find("line ");
        throw Failure(kExitBadInput, kBadProfile,
                      at == std::string::npos
                          ? std::string(Tr("profile: not a JSON document"))
                          : Say("profile: not a JSON document: {}", what.substr(at)));
    }
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
    const Json profile = Parse(text);
    if (!profile.is_object())
        throw Failure(kExitBadInput, kBadProfile, Tr("profile: not a JSON object"));

    // Every field but the record, in the order a printed profile has them.
    std::vector<std::string> required;
    const Json printed = ProfileFromSettings({});
    for (const auto& [field, value] : printed.items()) {
        if (field != kRecordField) required.push_back(field);
    }
    std::vector<std::string> unknown;
    for (const auto& [field, value] : profile.items()) {
        if (field != kRecordField &&
            std::find(required.begin(), required.end(), field) == required.end()) {
            unknown.push_back(field);
        }
    }
    RefuseAll(unknown, Later("unknown field {}"), Later("unknown fields {}"));
    std::vector<std::string> missing;
    for (const std::string& field : required) {
        if (!profile.contains(field)) missing.push_back(field);
    }
    RefuseAll(missing, Later("field {} is missing"), Later("fields {} are missing"));

    config::Settings settings;
    for (const Choice& c : Choices()) {
        const Json& value = profile.at(c.field);
        const auto word = value.is_string()
                              ? std::find_if(c.words.begin(), c.words.end(),
                                             [&](const char* w) { return value == w; })
                              : c.words.end();
        if (word == c.words.end()) Refuse(c.field, value, Quoted(c.words));
        settings.*c.member = static_cast<int>(word - c.words.begin());
    }
    for (const Switch& s : kSwitches) {
        const Json& value = profile.at(s.field);
        if (!value.is_boolean()) Refuse(s.field, value, Tr("true or false"));
        settings.*s.member = value.get<bool>();
    }
    const Json& time = profile.at(kTimeField);
    if (!time.is_number_integer() || time.get<int64_t>() < 0 || time.get<int64_t>() > 255) {
        Refuse(kTimeField, time, Tr("a whole number 0 to 255 (tenths of a second)"));
    }
    settings.ledTime = time.get<int>();
    const Json& slots = profile.at(kSlotsField);
    const auto slotsValid = [&] {
        if (!slots.is_string() || slots.get<std::string>().size() != 8) return false;
        const std::string bits = slots.get<std::string>();
        return bits.find_first_not_of("01") == std::string::npos;
    };
    if (!slotsValid()) {
        Refuse(kSlotsField, slots, Tr("8 characters 0 or 1, the leftmost slot first"));
    }
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
                   Tr("8 bytes in hexadecimal, e.g. \"01 C0 05 03 60 00 03 00\""));
        }
        const ReaderConfig made = config::SettingsToRecord(settings);
        if (given != made) {
            // Which side was edited cannot be told, so neither is written: the
            // fields that disagree are named, with the two ways on.
            config::Settings told;
            config::RecordToSettings(given, told);
            const Json fields = ProfileFromSettings(settings);
            const Json recordSays = ProfileFromSettings(told);
            std::string disagree;
            for (const auto& [field, value] : fields.items()) {
                if (field == kRecordField || recordSays[field] == value) continue;
                disagree +=
                    (disagree.empty() ? "" : "; ") + Say("\"{}\" is {}, the record says {}", field,
                                                         value.dump(), recordSays[field].dump());
            }
            Refuse(kRecordField, *record,
                   Say("the record of the named fields, \"{}\" ({}); to write the named fields "
                       "leave \"record\" out, to write the record make the fields say what it "
                       "says",
                       HexBytes(made.data(), made.size()),
                       disagree.empty() ? Tr("no named field can hold its bytes") : disagree));
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
