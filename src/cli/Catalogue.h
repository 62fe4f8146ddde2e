#pragma once

#include <fmt/format.h>

#include <string>
#include <utility>

#include "Language.h"

// zantor speaks one language per run: English, or Polish when the user's
// language is Polish. Its messages are written in English at the place that
// says them; the Polish ones come from po/pl.po, compiled by msgfmt and built
// into the program, so that the same catalogue serves Linux and Windows and
// works where no Polish locale is generated. Names stay in both languages:
// commands, options, JSON fields and kinds, CSV columns, exit codes.
namespace cli {

// Polish for Polish, English for anything else (C and POSIX included).
void SetLanguage(language::Language wanted);
bool SpeaksPolish();

// The message in this run's language; the English text when the catalogue has
// no entry for it.
const char* Tr(const char* english);

// Marks a text that is kept in English and said later through Tr (a board's
// activity, a port's state), so that the catalogue's check finds it.
constexpr const char* Later(const char* english) { return english; }

// Tr, then the arguments put in the way fmt puts them ({}, {0}, {:05d}); a
// translation may take them in another order by number.
template <typename... Args>
std::string Say(const char* english, Args&&... args) {
    return fmt::format(fmt::runtime(Tr(english)), std::forward<Args>(args)...);
}

}  // namespace cli
