#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace cli {

// The one place that writes: stdout carries what a script reads, stderr the
// messages. On a terminal, progress and the station's board are redrawn in
// place; otherwise they are left out and events come as plain lines.
class Output {
public:
    Output();
    bool Live() const { return live; }

    // A line of results on stdout.
    void Line(const std::string& text);
    // A message on stderr.
    void Message(const std::string& text);
    // The live progress line; nothing when stdout is not a terminal.
    void Progress(const std::string& text);
    // Redraws the block of lines written by the last Board call.
    void Board(const std::vector<std::string>& lines);

private:
    void ClearLive();  // with the mutex held

    bool live;
    std::mutex mutex;
    bool progressShown = false;
    size_t boardLines = 0;
};

}  // namespace cli
