#pragma once

#include <utility>

// Runs an action when the scope ends, however it ends (return or exception).
template <class Action>
class ScopeExit {
public:
    explicit ScopeExit(Action action) : action(std::move(action)) {}
    ~ScopeExit() { action(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    Action action;
};
