#pragma once

#include <string>

// The emulator's entry in the port folder: the link com<N> -> /dev/pts/K that
// makes the program see it as COM N, and the lock file com<N>.pid beside it. The
// emulator holds an exclusive lock on the lock file for as long as it runs, so
// a link whose lock file nobody holds has no live owner and may be replaced.
class PortLink {
public:
    PortLink(std::string folder, int port);
    ~PortLink();
    PortLink(const PortLink&) = delete;
    PortLink& operator=(const PortLink&) = delete;

    // Creates the folder (mode 0700) when it is missing and refuses one that is
    // not private to this user; takes the lock of COM N, refusing when another
    // emulator holds it; refuses a com<N> that is not a link.
    bool Claim(std::string& error);
    // Points com<N> at device: a link made under a temporary name is renamed
    // over com<N>, so the name never leads anywhere half-made.
    bool Publish(const std::string& device, std::string& error);
    // Removes the link (while it still leads to this emulator's device) and the
    // lock file.
    void Remove();

    std::string LinkPath() const;

private:
    std::string LockPath() const;
    bool TakeLock(std::string& error);

    std::string folder;
    int port;
    int lockFd = -1;
    std::string device;
};
