#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace cli {

// What a reply to the Test page's commands says, in words: the identification
// ("ZANTOR-40 (type 1064), serial 00313, firmware 7"), T ("a card in the
// field") and L ("done, status 0"). Empty for anything else, and for a frame
// that is not whole or fails its checksum. In the run's language when asked,
// else in English, as JSON has it in every language.
std::string DescribeReply(const uint8_t* frame, size_t length, bool inRunLanguage = false);

}  // namespace cli
