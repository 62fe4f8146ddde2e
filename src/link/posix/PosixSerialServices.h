#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ComPorts.h"
#include "SerialServices.h"

// The calls through which output reaches the device's driver. On a UART what
// write hands over leaves at the line rate, so the output queue drains over
// time, a discard empties it, and closing waits (up to the driver's closing
// wait, 30 s by default) for what is still queued. The kernel's own calls stand
// here by default; tests put a model of a UART over a pseudo-terminal, whose
// queue always reads empty.
class TtyDriver {
public:
    virtual ~TtyDriver() = default;
    // As write(2).
    virtual long Write(int fd, const uint8_t* bytes, size_t count) = 0;
    // Bytes written but not yet sent (TIOCOUTQ); -1 when that cannot be known.
    virtual int OutputQueued(int fd) = 0;
    // Throws away what waits to be sent and what arrived unread.
    virtual void Discard(int fd) = 0;
    virtual void Close(int fd) = 0;
};

// The serial services on POSIX termios. COM n is resolved at each open through
// the per-user port folder and then the system's serial ports (ComPorts.h). A
// port that another program holds in any way that can be seen is refused
// without a byte written to it; while we hold a port we mark it the same ways
// (lock file, flock, exclusive flag) and take only our own marks away.
class PosixSerialServices : public SerialServices {
public:
    struct Options {
        // Folder whose com<n> links name ports; empty: the per-user folder
        // /tmp/zantor_cfg-<uid>/.
        std::string portFolder;
        // Whether numbers the folder does not name take the system's serial
        // ports. Tests turn this off so that no real port is ever opened.
        bool systemPorts = true;
        // Where other programs' lock files are looked for and ours is made.
        std::vector<std::string> lockFolders = comports::DefaultLockFolders();
        // Output through this driver; null: the kernel's.
        TtyDriver* driver = nullptr;
        // COM numbers named for a device path by the user, looked at before
        // the folder; the path gets the checks a folder's entry gets.
        std::map<int, std::string> devices = {};
    };

    PosixSerialServices();
    explicit PosixSerialServices(Options options);
    ~PosixSerialServices() override;
    PosixSerialServices(const PosixSerialServices&) = delete;
    PosixSerialServices& operator=(const PosixSerialServices&) = delete;

    PortHandle Open(int portNumber) override;
    bool GetState(PortHandle handle, LineSettings& settings) override;
    bool SetState(PortHandle handle, const LineSettings& settings) override;
    bool SetupQueues(PortHandle handle, uint32_t inQueue, uint32_t outQueue) override;
    bool SetTimeouts(PortHandle handle, const CommTimeouts& timeouts) override;
    uint32_t Read(PortHandle handle, uint8_t* buffer, uint32_t count) override;
    uint32_t Write(PortHandle handle, const uint8_t* bytes, uint32_t count) override;
    void Close(PortHandle handle) override;
    void Sleep(uint32_t ms) override;
    uint64_t NowMs() override;
    bool IsStandInLine(PortHandle handle) override;
    OpenFailure LastOpenFailure() override;

    // Takes away the marks of every port this process holds (the exclusive
    // flag, the lock files), for a process about to end at once: only calls
    // that are safe in a signal handler. The ports stay open until it ends.
    static void GiveBackMarks();

private:
    std::optional<std::string> Resolve(int portNumber) const;
    struct OpenDevice;
    OpenDevice* Find(PortHandle handle);
    PortHandle Refuse(OpenFailure::Reason reason, const std::string& device,
                      PortHolder holder = {});

    Options options;
    TtyDriver& driver;
    std::map<PortHandle, OpenDevice*> devices;
    // Handles are never reused, so a stale one cannot reach a later port.
    PortHandle nextHandle = 1;
    OpenFailure lastFailure;
    int lastNumber = 0;  // of the last Open
};
