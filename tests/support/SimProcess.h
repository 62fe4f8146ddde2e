#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// Helpers for tests that run the reader emulator (zantor_sim) as a child process
// and talk to it over its pseudo-terminal. Never a real serial port.
namespace simtest {

struct TraceLine;

// A zantor_sim child. Its standard input is a pipe (closing it ends the
// emulator); its standard output and error share one pipe, which a thread of
// its own drains at all times, so that a long trace never holds the emulator up.
class SimProcess {
public:
    SimProcess() = default;
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Spawns ZANTOR_SIM_PATH with these arguments; false when it could not.
    bool Start(const std::vector<std::string>& args);
    // Waits for the ready line "zantor_sim: COMn -> /dev/pts/K (...)"; false when
    // the emulator ended or the time ran out first.
    bool WaitReady(int timeoutMs = 10000);
    const std::string& ReadyLine() const { return readyLine; }
    // The pseudo-terminal named by the ready line.
    const std::string& Device() const { return device; }

    // The next line of output not yet taken, or nothing when none came within
    // timeoutMs or the output ended.
    std::optional<std::string> NextLine(int timeoutMs);
    // Takes lines until one contains text, and returns it.
    std::optional<std::string> WaitForLine(const std::string& text, int timeoutMs);
    // Every line read so far, for diagnostics.
    std::string Transcript() const;
    // The trace lines of one kind ("RX", "TX") that have come so far, in order,
    // once the output has been quiet for settleMs.
    std::vector<TraceLine> Traced(const std::string& tag, int settleMs = 100);

    void SendLine(const std::string& line);
    void CloseInput();
    void Signal(int signal) const;
    // The exit status once the emulator has ended within timeoutMs (128 + n for
    // death by signal n); nothing while it still runs.
    std::optional<int> WaitExit(int timeoutMs);
    // Ends the emulator (SIGTERM, then SIGKILL after a grace period) and reaps it.
    void Stop();

private:
    void Drain();

    pid_t pid = -1;
    int input = -1;
    int output = -1;
    std::thread drainer;
    mutable std::mutex mutex;
    std::condition_variable arrived;
    bool outputEnded = false;  // guarded by mutex, as are partial and lines
    std::string partial;
    std::vector<std::string> lines;
    size_t taken = 0;
    std::string readyLine;
    std::string device;
    std::optional<int> exitStatus;
};

// Another of the project's programs as a child (zantor), with extra environment
// variables and its standard input read from a file; its standard output and
// error go to files of their own, so a test can tell what a script would read
// from the messages.
class ProgramRun {
public:
    ProgramRun() = default;
    ~ProgramRun();
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    bool Start(const std::string& path, const std::vector<std::string>& args,
               const std::vector<std::string>& environment, const std::string& input = "/dev/null");
    void Signal(int signal) const;
    pid_t Pid() const { return pid; }
    // The exit status once ended within timeoutMs (128 + n for signal n).
    std::optional<int> WaitExit(int timeoutMs);
    std::string Out() const;
    std::string Err() const;

private:
    pid_t pid = -1;
    std::string outPath;
    std::string errPath;
    std::optional<int> exitStatus;
};

// A private port folder under /tmp (mode 0700, as mkdtemp makes it), removed
// with its entries at the end.
class TempPortFolder {
public:
    TempPortFolder();
    ~TempPortFolder();
    TempPortFolder(const TempPortFolder&) = delete;
    TempPortFolder& operator=(const TempPortFolder&) = delete;

    const std::string& Path() const { return path; }
    std::string Entry(const std::string& name) const { return path + "/" + name; }

private:
    std::string path;
};

// One trace line of the emulator: "   1.234 RX 05 00 4D A1 F4".
struct TraceLine {
    double seconds = 0;
    std::string tag;
    std::vector<uint8_t> bytes;
};
std::optional<TraceLine> ParseTraceLine(const std::string& line);

// "05 00 4D A1 F4" as bytes.
std::vector<uint8_t> Bytes(const std::string& hex);

// A program's side of the line, kept simple: opens the device raw and reads and
// writes it directly.
class PortClient {
public:
    explicit PortClient(const std::string& path);
    ~PortClient();
    PortClient(const PortClient&) = delete;
    PortClient& operator=(const PortClient&) = delete;

    bool IsOpen() const { return fd >= 0; }
    bool Write(const std::vector<uint8_t>& bytes) const;
    // What arrives until count bytes have come or timeoutMs has passed.
    std::vector<uint8_t> Read(size_t count, int timeoutMs) const;
    // What arrives until the line has been quiet for quietMs (or timeoutMs passed).
    std::vector<uint8_t> ReadUntilQuiet(int quietMs, int timeoutMs) const;

private:
    int fd = -1;
};

}  // namespace simtest
