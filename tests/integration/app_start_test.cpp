// The real Zantor_Cfg binary at start-up, with the reader emulator registered in
// the real per-user port folder: the program finds it by its own scan.
//
// The program scans COM1 upwards, and every number that the folder does not name
// is one of the system's serial ports. The emulator takes COM1, and the test
// takes every other number for its whole length, as an emulator would (holding
// the number's lock) but with an entry that leads nowhere: every number the
// program can scan is the folder's, so no scan can ever reach a system port,
// however late the emulator answers. When an emulator that somebody else runs
// holds any number, the test is skipped.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ComPorts.h"
#include "SimProcess.h"

extern char** environ;

#ifdef ZANTOR_CFG_PATH
namespace {

constexpr int kReadyMs = 10000;
// The program's start under a loaded machine: Qt, the window, then the scan.
constexpr int kStartMs = 30000;

// True while an emulator runs on COM n of the folder: it holds the lock of
// com<n>.pid for as long as it runs (a file nobody locks was left by one that
// died). The probe lock is let go at once.
bool HeldByLiveEmulator(const std::string& folder, int n) {
    const std::string lock = folder + "/com" + std::to_string(n) + ".pid";
    const int fd = open(lock.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    return held;
}

// COM n for n from first to the last number, taken for the test's length: each
// number's lock held as an emulator holds it, its entry a link that leads
// nowhere (an entry that is not a link is left alone: it fences the number off
// as well). Everything is given back at the end.
class FencedNumbers {
public:
    FencedNumbers(const std::string& folder, int first) : nowhere(folder + "/.nowhere") {
        for (int n = first; n <= protocol::kLastPort && complete; ++n) {
            const std::string entry = folder + "/com" + std::to_string(n);
            const std::string lock = entry + ".pid";
            const int fd = open(lock.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0) {
                if (fd >= 0) close(fd);
                complete = false;
                break;
            }
            const std::string pid = std::to_string(getpid()) + "\n";
            complete = write(fd, pid.data(), pid.size()) == static_cast<ssize_t>(pid.size());
            locks.push_back({fd, lock});
            struct stat info {};
            if (lstat(entry.c_str(), &info) == 0 && !S_ISLNK(info.st_mode)) continue;
            const std::string temporary = entry + ".fence";
            unlink(temporary.c_str());
            complete = complete && symlink(nowhere.c_str(), temporary.c_str()) == 0 &&
                       rename(temporary.c_str(), entry.c_str()) == 0;
            entries.push_back(entry);
        }
    }
    ~FencedNumbers() {
        char target[4096];
        for (const std::string& entry : entries) {
            const ssize_t size = readlink(entry.c_str(), target, sizeof target);
            if (size > 0 && std::string(target, static_cast<size_t>(size)) == nowhere) {
                unlink(entry.c_str());
            }
        }
        for (const auto& [fd, path] : locks) {
            unlink(path.c_str());
            close(fd);
        }
    }
    FencedNumbers(const FencedNumbers&) = delete;
    FencedNumbers& operator=(const FencedNumbers&) = delete;

    // False when a number could not be taken: a live emulator holds it.
    bool Complete() const { return complete; }

private:
    std::string nowhere;
    bool complete = true;
    std::vector<std::pair<int, std::string>> locks;
    std::vector<std::string> entries;
};

// Zantor_Cfg as a child process on the offscreen platform, its output kept in a
// file for the diagnostics of a failure.
class Program {
public:
    ~Program() { Stop(); }

    bool Start() {
        char pattern[] = "/tmp/zantor_cfg_output.XXXXXX";
        const int output = mkstemp(pattern);
        if (output < 0) return false;
        outputPath = pattern;
        std::vector<std::string> environment = {"QT_QPA_PLATFORM=offscreen"};
        for (char** entry = environ; *entry != nullptr; ++entry) {
            if (std::string(*entry).rfind("QT_QPA_PLATFORM=", 0) != 0)
                environment.push_back(*entry);
        }
        std::vector<char*> envp;
        for (std::string& entry : environment) envp.push_back(entry.data());
        envp.push_back(nullptr);
        std::string path = ZANTOR_CFG_PATH;
        // The program takes nothing from its command line, Qt's own options
        // included: a platform that does not exist changes nothing.
        std::string platformOption = "-platform";
        std::string platform = "no-such-platform";
        char* argv[] = {path.data(), platformOption.data(), platform.data(), nullptr};

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, output, STDERR_FILENO);
        const int result = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, envp.data());
        posix_spawn_file_actions_destroy(&actions);
        close(output);
        if (result != 0) pid = -1;
        return result == 0;
    }

    // Ends the program (it takes nothing from its input, so a signal is the way)
    // and reaps it.
    void Stop() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            if (!Reaped(5000)) {
                kill(pid, SIGKILL);
                Reaped(5000);
            }
            pid = -1;
        }
        if (!outputPath.empty()) unlink(outputPath.c_str());
        outputPath.clear();
    }

    std::string Output() const {
        std::ifstream file(outputPath);
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    }

private:
    bool Reaped(int timeoutMs) const {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

    pid_t pid = -1;
    std::string outputPath;
};

// The next frame the emulator received, from its trace.
std::optional<std::vector<uint8_t>> NextReceived(simtest::SimProcess& sim, int timeoutMs) {
    const std::optional<std::string> line = sim.WaitForLine(" RX ", timeoutMs);
    if (!line) return std::nullopt;
    const std::optional<simtest::TraceLine> parsed = simtest::ParseTraceLine(*line);
    if (!parsed) return std::nullopt;
    return parsed->bytes;
}

}  // namespace
#endif

// The suite's name marks the tests that use the real per-user port folder.
TEST(UserPortFolderTest, ProgramIdentifiesTheReaderThenReadsItsConfigurationAtStart) {
#ifndef ZANTOR_CFG_PATH
    GTEST_SKIP() << "built without the user interface";
#else
    const std::string folder = comports::UserPortFolder();
    struct stat info {};
    if (lstat(folder.c_str(), &info) == 0 && !comports::IsTrustedFolder(folder)) {
        GTEST_SKIP() << folder << " is not a private folder of this user";
    }
    int port = protocol::kFirstPort;
    while (port <= protocol::kLastPort && HeldByLiveEmulator(folder, port)) ++port;
    if (port != protocol::kFirstPort) {
        GTEST_SKIP() << "the numbers below COM" << port << " in " << folder
                     << " are held by emulators that this test did not start";
    }

    const std::string entry = folder + "/com" + std::to_string(port);
    if (lstat(entry.c_str(), &info) == 0 && !S_ISLNK(info.st_mode)) {
        GTEST_SKIP() << entry << " is not a link; the emulator leaves it alone";
    }

    simtest::SimProcess sim;
    ASSERT_TRUE(sim.Start({"--port", std::to_string(port), "--trace"}));
    if (!sim.WaitReady(kReadyMs)) {
        if (HeldByLiveEmulator(folder, port)) GTEST_SKIP() << "another emulator took COM" << port;
        FAIL() << sim.Transcript();
    }

    FencedNumbers fence(folder, port + 1);
    if (!fence.Complete()) {
        GTEST_SKIP() << "a number above COM" << port << " in " << folder
                     << " is held by an emulator that this test did not start";
    }
    for (int n = port + 1; n <= protocol::kLastPort; ++n) {
        ASSERT_EQ(comports::ResolvePort(n, folder, /*systemPorts=*/true), std::nullopt) << n;
    }

    Program program;
    ASSERT_TRUE(program.Start());
    const std::optional<std::vector<uint8_t>> first = NextReceived(sim, kStartMs);
    const std::optional<std::vector<uint8_t>> second = NextReceived(sim, kStartMs);
    ASSERT_TRUE(first && second) << sim.Transcript() << program.Output();
    EXPECT_EQ(*first, simtest::Bytes("05 00 4D A1 F4")) << sim.Transcript();
    EXPECT_EQ(*second, simtest::Bytes("05 00 63 21 E8")) << sim.Transcript();
    // The emulator answered both, with the identification and its record.
    EXPECT_TRUE(sim.WaitForLine("TX 0D 00 E3 01 C0 05 03 60 00 03 00", kReadyMs))
        << sim.Transcript();

    // The program goes first: without its reader it would scan on.
    program.Stop();
    sim.Stop();
    EXPECT_FALSE(HeldByLiveEmulator(folder, port));
    EXPECT_NE(lstat(entry.c_str(), &info), 0);
#endif
}
