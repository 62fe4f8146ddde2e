#pragma once

#include "Dialogs.h"

// The dialogs as Qt message boxes, application-modal and without an owner, so
// that they are centred on the screen.
class QtDialogs : public Dialogs {
public:
    void ShowMessage(const QString& text) override;
    bool AskYesNo(const QString& caption, const QString& text) override;
};
