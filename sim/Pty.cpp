#include "Pty.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "ComPortsInternal.h"

namespace {

std::string Failure(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

void MakeRaw(termios& settings) {
    cfmakeraw(&settings);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    cfsetispeed(&settings, B19200);
    cfsetospeed(&settings, B19200);
}

}  // namespace

Pty::~Pty() { Close(); }

bool Pty::Open(std::string& error) {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        error = Failure("posix_openpt");
        return false;
    }
    char name[128];
    if (grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, name, sizeof name) != 0) {
        error = Failure("preparing the pseudo-terminal");
        Close();
        return false;
    }
    slavePath = name;
    // The slave is opened only to set it up; its settings stay with the pair.
    const int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        error = Failure(("opening " + slavePath).c_str());
        Close();
        return false;
    }
    // A fresh pseudo-terminal echoes and translates CR/LF; bytes of a frame
    // must pass both ways unchanged.
    termios settings{};
    termios applied{};
    if (tcgetattr(slave, &settings) != 0) {
        error = Failure("tcgetattr");
        close(slave);
        Close();
        return false;
    }
    MakeRaw(settings);
    const bool raw = tcsetattr(slave, TCSANOW, &settings) == 0 && tcgetattr(slave, &applied) == 0 &&
                     applied.c_lflag == settings.c_lflag && applied.c_iflag == settings.c_iflag &&
                     applied.c_oflag == settings.c_oflag &&
                     (applied.c_cflag & CSIZE) == (settings.c_cflag & CSIZE);
    close(slave);
    if (!raw) {
        error = "the pseudo-terminal did not take raw 8-N-1 settings";
        Close();
        return false;
    }
    termios masterSettings{};
    if (tcgetattr(master, &masterSettings) == 0) {
        MakeRaw(masterSettings);
        tcsetattr(master, TCSANOW, &masterSettings);
    }
    const int flags = fcntl(master, F_GETFL);
    if (flags < 0 || fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0) {
        error = Failure("fcntl");
        Close();
        return false;
    }
    // Only other processes open the slave from now on.
    watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch < 0 || inotify_add_watch(watch, name, IN_OPEN | IN_CLOSE) < 0) {
        unwatched = true;
    }
    return true;
}

bool Pty::HandleWatchEvents() {
    if (watch < 0) return false;
    alignas(inotify_event) char buffer[4096];
    bool opened = false;
    bool closed = false;
    for (;;) {
        const ssize_t size = read(watch, buffer, sizeof buffer);
        if (size <= 0) break;
        for (ssize_t at = 0; at < size;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->mask & (IN_Q_OVERFLOW | IN_IGNORED)) unwatched = true;
            if (event->mask & IN_OPEN) opened = true;
            if (event->mask & IN_CLOSE) closed = true;
        }
    }
    // The queue merges repeated events, so opens and closes cannot be counted;
    // after a close the processes themselves are asked.
    if (closed) {
        listened = comports::FindOpener(slavePath).has_value();
    } else if (opened) {
        listened = true;
    }
    return opened && listened;
}

void Pty::Close() {
    if (watch >= 0) close(watch);
    watch = -1;
    if (master >= 0) close(master);
    master = -1;
}
