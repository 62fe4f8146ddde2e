#pragma once

#include "Language.h"

class QCoreApplication;

// The window's language: its own texts are Polish; English replaces them when
// the user's language is English, and Qt's own texts (the Yes and No of a
// question) follow whichever the window speaks.
namespace translation {

// The user's language as Qt reports it: on Linux from LANGUAGE, LC_ALL,
// LC_MESSAGES and LANG, on Windows the display language.
language::Language UserLanguage();

// Installs the translators for the language into the application, before any
// window is built. English brings the window's English texts; any other
// language, or none, keeps the Polish texts and gives Qt's buttons Polish
// names, from Qt's own translations where the system has them, else from the
// program's.
void Install(QCoreApplication& app, language::Language wanted);

}  // namespace translation
