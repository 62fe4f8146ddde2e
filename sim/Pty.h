#pragma once

#include <string>

// The emulator's pseudo-terminal. The program opens the slave side as its serial
// port; the emulator talks through the master and, like a device on a real line,
// holds nothing else: a program looking for other holders of the port finds none.
// While nobody has the slave open the master reports a hang-up (EIO), which is
// the line being idle, not a failure.
class Pty {
public:
    Pty() = default;
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    // Opens the pair and sets the slave up as a reader's line would be: raw,
    // 8 data bits, no parity, one stop bit, 19200 baud. The master is non-blocking.
    bool Open(std::string& error);
    void Close();

    int Master() const { return master; }
    const std::string& SlavePath() const { return slavePath; }

    // Whether another process has the slave open, that is, whether anybody
    // listens on the line. Opens and closes of the slave are watched; where they
    // cannot be, somebody is assumed to listen.
    bool Listened() const { return unwatched || listened; }
    // Descriptor that becomes readable when the slave is opened or closed.
    int WatchFd() const { return watch; }
    // Takes the pending open and close events; true when the slave was opened
    // and is still open.
    bool HandleWatchEvents();

private:
    int master = -1;
    int watch = -1;
    bool unwatched = false;
    bool listened = false;
    std::string slavePath;
};
