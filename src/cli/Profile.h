#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "ReaderConfig.h"

namespace cli {

// A profile: every setting of the configuration page under a name and in words,
// plus the record that the settings make. It is a view of config::Settings; the
// record always comes from the shared mapping.
nlohmann::ordered_json ProfileFromSettings(const config::Settings& settings);

// Parses and checks a profile's text field by field. Throws Failure (bad input)
// naming the field, the value and what is allowed.
config::Settings SettingsFromProfile(const std::string& text);

// The settings in words, one "name: value" line each, as a profile names them.
std::string DescribeSettings(const config::Settings& settings);

// "01 C0 05 03 60 00 03 00"
std::string HexBytes(const uint8_t* bytes, size_t count, char separator = ' ');

}  // namespace cli
