#include "Output.h"

#include <fmt/format.h>

#include "Platform.h"

namespace cli {

Output::Output() : live(IsTerminal(stdout)) {}

void Output::ClearLive() {
    if (progressShown) fmt::print("\r\033[K");
    progressShown = false;
    // Whatever is written now goes below the board, which is then drawn afresh.
    boardLines = 0;
}

void Output::Line(const std::string& text) {
    const std::lock_guard lock(mutex);
    ClearLive();
    fmt::print("{}\n", text);
    std::fflush(stdout);
}

void Output::Message(const std::string& text) {
    const std::lock_guard lock(mutex);
    ClearLive();
    std::fflush(stdout);
    fmt::print(stderr, "{}\n", text);
}

void Output::Progress(const std::string& text) {
    if (!live) return;
    const std::lock_guard lock(mutex);
    fmt::print("\r{}\033[K", text);
    std::fflush(stdout);
    progressShown = true;
}

void Output::Board(const std::vector<std::string>& lines) {
    if (!live) return;
    const std::lock_guard lock(mutex);
    if (progressShown) fmt::print("\r\033[K");
    progressShown = false;
    if (boardLines > 0) fmt::print("\033[{}A", boardLines);
    // A line wider than the terminal would wrap and throw the redraw off by a
    // row; the terminal is at least 80 columns wide.
    for (const std::string& line : lines) fmt::print("\r{:.79}\033[K\n", line);
    boardLines = lines.size();
    std::fflush(stdout);
}

}  // namespace cli
