#pragma once

#include <QString>

// The program's modal dialogs. The main window shows every message through this
// seam, so tests answer and record them without a message loop.
class Dialogs {
public:
    virtual ~Dialogs() = default;

    // A modal message with one "OK" button and no icon, captioned with the
    // application's name and centred on the screen; returns once it is closed.
    virtual void ShowMessage(const QString& text) = 0;

    // A modal question with the buttons Yes (the default) and No and no icon;
    // true only when the user answered Yes.
    virtual bool AskYesNo(const QString& caption, const QString& text) = 0;
};
