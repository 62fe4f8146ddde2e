#include "Output.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdlib>

namespace cli {

namespace {

// NO_COLOR set to anything but the empty text turns colour off.
bool ColourWanted() {
    const char* noColour = std::getenv("NO_COLOR");
    return (noColour == nullptr || *noColour == '\0') && ColourTerminal(stdout);
}

}  // namespace

std::string JsonLine(const nlohmann::ordered_json& object) {
    return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

size_t FittingBytes(const std::string& text, int columns) {
    int used = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        // A byte 10xxxxxx continues the character before it.
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (used++ == columns) return i;
    }
    return text.size();
}

Output::Output() : live(IsTerminal(stdout)), colour(live && ColourWanted()) {}

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
    if (!Live()) return;
    const std::lock_guard lock(mutex);
    fmt::print("\r{}\033[K", text.substr(0, FittingBytes(text, Size().columns - 1)));
    std::fflush(stdout);
    progressShown = true;
}

void Output::Board(const std::vector<BoardLine>& lines) {
    if (!Live()) return;
    const std::lock_guard lock(mutex);
    if (progressShown) fmt::print("\r\033[K");
    progressShown = false;
    const TerminalSize size = Size();
    if (boardLines > 0 && size != boardSize) {
        fmt::print("\033[H\033[2J");
        boardLines = 0;
    }
    boardSize = size;
    if (boardLines > 0) fmt::print("\033[{}A", boardLines);
    // A line as wide as the terminal may wrap on some terminals and throw the
    // redraw off by a row: the last column stays free.
    for (const BoardLine& line : lines) {
        const size_t end = FittingBytes(line.text, size.columns - 1);
        const size_t markEnd = std::min(end, line.markFrom + line.markSize);
        if (colour && line.markFrom < markEnd) {
            fmt::print("\r{}{}{}\033[0m{}\033[K\n", line.text.substr(0, line.markFrom),
                       line.good ? "\033[32m" : "\033[31m",
                       line.text.substr(line.markFrom, markEnd - line.markFrom),
                       line.text.substr(markEnd, end - markEnd));
        } else {
            fmt::print("\r{}\033[K\n", line.text.substr(0, end));
        }
    }
    boardLines = lines.size();
    std::fflush(stdout);
}

void Output::Fail(int code, const char* kind, const std::string& message) {
    Message("zantor: " + message);
    FailureObject(code, kind, message);
}

void Output::FailureObject(int code, const char* kind, const std::string& message) {
    if (!json) return;
    Line(JsonLine({{"event", "error"}, {"exit_code", code}, {"kind", kind}, {"message", message}}));
}

}  // namespace cli
