#pragma once

#include <string>
#include <vector>

// Which of the program's two languages the user wants. The window and zantor
// ask the same question and differ only in their default: the window's own
// texts are Polish, zantor's English.
namespace language {

enum class Language { None, Polish, English };

// The first of the user's languages, most wanted first ("pl_PL.UTF-8", "en-GB",
// "de", "C"), that is Polish or English; None when neither is among them. C and
// POSIX name no language.
Language Preferred(const std::vector<std::string>& wanted);

// The user's languages as Qt reads them on Linux, so that zantor and the window
// agree: the list in LANGUAGE (colon-separated) when it is set and not empty,
// else the first of LC_ALL, LC_MESSAGES and LANG that is. Read from the
// environment alone, so that it works where the locale is not generated.
std::vector<std::string> FromEnvironment();

}  // namespace language
