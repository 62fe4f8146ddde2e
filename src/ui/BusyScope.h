#pragma once

#include <optional>

#include "BusyDisplay.h"

// Marks the window busy with a check, read, write or upgrade for the life of
// one handler; a handler that finds the window busy does nothing. The
// operation, and the hold on input with it, ends while the window is still
// busy, so that nothing served at its end starts another.
class BusyScope {
public:
    explicit BusyScope(bool& busy) : busy(busy), entered(!busy) {
        busy = true;
        if (entered) operation.emplace();
    }
    ~BusyScope() {
        operation.reset();
        if (entered) busy = false;
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
    bool Entered() const { return entered; }

private:
    bool& busy;
    bool entered;
    std::optional<busydisplay::Operation> operation;
};
