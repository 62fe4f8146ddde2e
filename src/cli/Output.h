#pragma once

#include <cstdio>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "Platform.h"

namespace cli {

// A line of the station's board, with the part that is shown in colour (the
// result, green for good, red otherwise) as byte offsets into text.
struct BoardLine {
    std::string text;
    size_t markFrom = 0;
    size_t markSize = 0;
    bool good = true;
};

// The one place that writes: stdout carries what a script reads (text, or with
// --json JSON), stderr the messages. On a terminal, progress and the station's
// board are redrawn in place; otherwise, and with --json, they are left out and
// events come as lines.
class Output {
public:
    Output();
    bool Live() const { return live && !json; }
    bool Json() const { return json; }
    void SetJson(bool on) { json = on; }
    TerminalSize Size() const { return TerminalSizeOf(stdout); }

    // A line of results on stdout.
    void Line(const std::string& text);
    // A message on stderr.
    void Message(const std::string& text);
    // The live progress line; nothing when not live.
    void Progress(const std::string& text);
    // Redraws the block of lines written by the last Board call, each cut to
    // the terminal's width; after a resize the screen is cleared and the board
    // drawn at its top, since the terminal has moved what was there.
    void Board(const std::vector<BoardLine>& lines);
    // How a command failed: the message on stderr and, with --json, an object
    // on stdout with the exit code, the kind and the message.
    void Fail(int code, const char* kind, const std::string& message);
    // The object alone, for a failure whose message is already on stderr.
    void FailureObject(int code, const char* kind, const std::string& message);

private:
    void ClearLive();  // with the mutex held

    bool live;
    bool colour;
    bool json = false;
    std::mutex mutex;
    bool progressShown = false;
    size_t boardLines = 0;
    TerminalSize boardSize;
};

// One JSON object on one line, as streams and failures print it; text that is
// not UTF-8 (a program's name) is replaced, not refused.
std::string JsonLine(const nlohmann::ordered_json& object);

// The first bytes of text that take at most columns columns (one per character
// of UTF-8).
size_t FittingBytes(const std::string& text, int columns);

}  // namespace cli
