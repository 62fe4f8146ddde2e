#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "CsvLog.h"
#include "Failure.h"
#include "Profile.h"

namespace {

// A profile as config get --json prints it for the window's initial controls.
const nlohmann::ordered_json kInitial = cli::ProfileFromSettings(config::Settings{});

std::string With(const std::string& field, const nlohmann::json& value) {
    nlohmann::ordered_json profile = kInitial;
    profile[field] = value;
    return profile.dump();
}

std::string Without(const std::string& field) {
    nlohmann::ordered_json profile = kInitial;
    profile.erase(field);
    return profile.dump();
}

TEST(ProfileTest, PrintedProfileMakesTheWindowsRecordAndReadsBack) {
    EXPECT_EQ(kInitial["record"], "01 C0 05 03 60 00 03 00");
    config::Settings binary;
    binary.page = config::kBinaryPage;
    binary.binSignalling = 2;
    binary.buzzerPattern = 0x81;
    binary.ledTime = 255;
    const nlohmann::ordered_json profile = cli::ProfileFromSettings(binary);
    EXPECT_EQ(profile["record"], "80 C0 FF 81 00 00 03 00");
    EXPECT_EQ(profile["buzzer_slots"], "10000001");
    EXPECT_EQ(cli::SettingsFromProfile(profile.dump()), binary);
    binary.ledTime = 0;  // the shortest signalling time too
    EXPECT_EQ(cli::SettingsFromProfile(cli::ProfileFromSettings(binary).dump()), binary);
    // The record is optional; without it the named fields alone decide.
    EXPECT_EQ(cli::SettingsFromProfile(Without("record")), config::Settings{});
}

struct Refusal {
    const char* name;
    std::string text;
    const char* message;  // what the refusal must say
};

class ProfileRefusalTest : public testing::TestWithParam<Refusal> {};

TEST_P(ProfileRefusalTest, NamesTheFieldTheValueAndWhatIsAllowed) {
    try {
        cli::SettingsFromProfile(GetParam().text);
        FAIL() << "accepted";
    } catch (const cli::Failure& failure) {
        EXPECT_EQ(failure.code, cli::kExitBadInput);
        EXPECT_NE(std::string(failure.what()).find(GetParam().message), std::string::npos)
            << failure.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, ProfileRefusalTest,
    testing::Values(
        Refusal{"NotJson", "{\"output\": ", "not a JSON document"},
        Refusal{"NotJsonAtLine3", "{\n  \"output\": \"ascii\",\n  \"cr_lf\": yes\n}",
                "not a JSON document: line 3, column 12: syntax error"},
        Refusal{"FieldTwice", "{\"buzzer\": false, " + kInitial.dump().substr(1),
                "field \"buzzer\" is given twice"},
        Refusal{"FieldsMissing", "{\"output\": \"ascii\"}",
                "fields \"binary_signalling\", \"ascii_format\", \"number_size\", \"cr_lf\","},
        Refusal{"NotAnObject", "[1, 2]", "not a JSON object"},
        Refusal{"UnknownField", With("colour", "blue"), "unknown field \"colour\""},
        Refusal{"MissingField", Without("cr_lf"), "field \"cr_lf\" is missing"},
        Refusal{"UnknownWord", With("output", "wiegand"),
                "\"output\": \"wiegand\" is not allowed; allowed: \"binary\", \"ascii\""},
        Refusal{"NumberForWord", With("steady_led", 1), "\"steady_led\": 1 is not allowed"},
        Refusal{"WordForSwitch", With("cr_lf", "yes"),
                "\"cr_lf\": \"yes\" is not allowed; allowed: true or false"},
        Refusal{"TimeOutOfRange", With("read_signalling_time", 256),
                "\"read_signalling_time\": 256 is not allowed; allowed: a whole number 0 to 255"},
        Refusal{"TimeNotWhole", With("read_signalling_time", 2.5),
                "\"read_signalling_time\": 2.5 is not allowed"},
        Refusal{"SlotsTooShort", With("buzzer_slots", "1100"),
                "\"buzzer_slots\": \"1100\" is not allowed"},
        Refusal{"RecordNotHex", With("record", "01 C0 zz"), "\"record\": \"01 C0 zz\""},
        Refusal{"RecordOfNineBytes", With("record", "01 C0 05 03 60 00 03 00 FF"),
                "\"record\": \"01 C0 05 03 60 00 03 00 FF\""},
        Refusal{"RecordDisagrees", With("record", "01 C0 05 03 60 00 00 00"),
                "allowed: the record of the named fields, \"01 C0 05 03 60 00 03 00\""},
        Refusal{"RecordOfAnotherTime", With("record", "01 C0 11 03 60 00 03 00"),
                "(\"read_signalling_time\" is 5, the record says 17); to write the named fields "
                "leave \"record\" out, to write the record make the fields say what it says"}),
    [](const testing::TestParamInfo<Refusal>& info) { return info.param.name; });

TEST(CsvLogTest, FieldsWithACommaOrAQuoteAreQuoted) {
    const std::string path = testing::TempDir() + "zantor_csvlog_test.csv";
    std::remove(path.c_str());
    cli::CsvLog(path, {"result", "error"}).Write({"failed", "firmware 6, not \"7\""});
    std::ifstream file(path);
    const std::string text{std::istreambuf_iterator<char>(file), {}};
    EXPECT_EQ(text, "result,error\r\nfailed,\"firmware 6, not \"\"7\"\"\"\r\n");
}

}  // namespace
