#include "SimProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

extern char** environ;

namespace simtest {
namespace {

using Clock = std::chrono::steady_clock;

// Where the emulator stands among the machine's processes (0: as any other).
constexpr int kEmulatorNice = -10;

int MsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

std::string ReadWhole(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The exit status of child pid once it has ended within timeoutMs (128 + n for
// death by signal n), reaped; nothing while it still runs.
std::optional<int> ReapChild(pid_t pid, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (done < 0 || MsLeft(deadline) == 0) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace

SimProcess::~SimProcess() { Stop(); }

bool SimProcess::Start(const std::vector<std::string>& args) {
    int toChild[2];
    int fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0) return false;
    if (pipe2(fromChild, O_CLOEXEC) != 0) {
        close(toChild[0]);
        close(toChild[1]);
        return false;
    }
    // A child that dies must not take the test with it through SIGPIPE, and the
    // emulator must start with default signal handling whatever the test set.
    signal(SIGPIPE, SIG_IGN);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigset_t none;
    sigemptyset(&defaults);
    sigemptyset(&none);
    for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP}) sigaddset(&defaults, sig);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDERR_FILENO);

    std::vector<std::string> all = {ZANTOR_SIM_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const int result =
        posix_spawn(&pid, ZANTOR_SIM_PATH, &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(toChild[0]);
    close(fromChild[1]);
    if (result != 0) {
        pid = -1;
        close(toChild[1]);
        close(fromChild[0]);
        return false;
    }
    // A reader answers in its own time whatever else the machine does. The
    // emulator playing it goes ahead of a build that loads the machine where
    // the system lets it (root, CAP_SYS_NICE): a starved emulator would be
    // taken for a silent reader and asked again.
    setpriority(PRIO_PROCESS, static_cast<id_t>(pid), kEmulatorNice);
    input = toChild[1];
    output = fromChild[0];
    drainer = std::thread([this] { Drain(); });
    return true;
}

void SimProcess::Drain() {
    char buffer[4096];
    for (;;) {
        const ssize_t size = read(output, buffer, sizeof buffer);
        if (size < 0 && errno == EINTR) continue;
        std::lock_guard<std::mutex> lock(mutex);
        if (size <= 0) {
            outputEnded = true;
            arrived.notify_all();
            return;
        }
        partial.append(buffer, static_cast<size_t>(size));
        for (size_t end; (end = partial.find('\n')) != std::string::npos;) {
            lines.push_back(partial.substr(0, end));
            partial.erase(0, end + 1);
        }
        arrived.notify_all();
    }
}

std::optional<std::string> SimProcess::NextLine(int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex);
    arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                     [this] { return taken < lines.size() || outputEnded; });
    if (taken == lines.size()) return std::nullopt;
    return lines[taken++];
}

std::optional<std::string> SimProcess::WaitForLine(const std::string& text, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        std::optional<std::string> line = NextLine(MsLeft(deadline));
        if (!line) return std::nullopt;
        if (line->find(text) != std::string::npos) return line;
    }
}

bool SimProcess::WaitReady(int timeoutMs) {
    std::optional<std::string> line = WaitForLine("zantor_sim: COM", timeoutMs);
    if (!line) return false;
    const size_t arrow = line->find(" -> ");
    const size_t paren = line->find(" (", arrow);
    if (arrow == std::string::npos || paren == std::string::npos) return false;
    readyLine = *line;
    device = line->substr(arrow + 4, paren - arrow - 4);
    return true;
}

std::string SimProcess::Transcript() const {
    std::lock_guard<std::mutex> lock(mutex);
    std::ostringstream text;
    for (const std::string& line : lines) text << line << '\n';
    return text.str() + partial;
}

std::vector<TraceLine> SimProcess::Traced(const std::string& tag, int settleMs) {
    while (NextLine(settleMs)) {
    }
    std::vector<TraceLine> found;
    std::istringstream all(Transcript());
    for (std::string line; std::getline(all, line);) {
        std::optional<TraceLine> parsed = ParseTraceLine(line);
        if (parsed && parsed->tag == tag) found.push_back(*parsed);
    }
    return found;
}

void SimProcess::SendLine(const std::string& line) {
    if (input < 0) return;
    const std::string text = line + "\n";
    [[maybe_unused]] const ssize_t ignored = write(input, text.data(), text.size());
}

void SimProcess::CloseInput() {
    if (input >= 0) close(input);
    input = -1;
}

void SimProcess::Signal(int signal) const {
    if (pid > 0 && !exitStatus) kill(pid, signal);
}

std::optional<int> SimProcess::WaitExit(int timeoutMs) {
    if (exitStatus || pid <= 0) return exitStatus;
    exitStatus = ReapChild(pid, timeoutMs);
    if (exitStatus) {
        // Whatever it wrote last may still be in the pipe.
        std::unique_lock<std::mutex> lock(mutex);
        arrived.wait_for(lock, std::chrono::milliseconds(1000), [this] { return outputEnded; });
    }
    return exitStatus;
}

void SimProcess::Stop() {
    if (pid > 0 && !exitStatus) {
        kill(pid, SIGTERM);
        if (!WaitExit(5000)) {
            kill(pid, SIGKILL);
            WaitExit(5000);
        }
    }
    CloseInput();
    // The child has ended, so its end of the pipe is closed and the drainer
    // sees the end of the output.
    if (drainer.joinable()) drainer.join();
    if (output >= 0) close(output);
    output = -1;
}

ProgramRun::~ProgramRun() {
    if (pid > 0 && !exitStatus) {
        kill(pid, SIGKILL);
        WaitExit(5000);
    }
    for (const std::string& path : {outPath, errPath}) {
        if (!path.empty()) unlink(path.c_str());
    }
}

bool ProgramRun::Start(const std::string& path, const std::vector<std::string>& args,
                       const std::vector<std::string>& environment, const std::string& input) {
    const auto makeFile = [](std::string& name) {
        std::string pattern = "/tmp/zantor_program_run.XXXXXX";
        const int fd = mkstemp(pattern.data());
        name = pattern;
        return fd;
    };
    const int out = makeFile(outPath);
    const int err = makeFile(errPath);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
    std::vector<std::string> all = {path};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> env(environment);
    for (char** entry = environ; *entry != nullptr; ++entry) env.emplace_back(*entry);
    std::vector<char*> envp;
    for (std::string& entry : env) envp.push_back(entry.data());
    envp.push_back(nullptr);
    const int result = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out);
    close(err);
    if (result != 0) pid = -1;
    return result == 0;
}

void ProgramRun::Signal(int signal) const {
    if (pid > 0 && !exitStatus) kill(pid, signal);
}

std::optional<int> ProgramRun::WaitExit(int timeoutMs) {
    if (exitStatus || pid <= 0) return exitStatus;
    exitStatus = ReapChild(pid, timeoutMs);
    return exitStatus;
}

std::string ProgramRun::Out() const { return ReadWhole(outPath); }

std::string ProgramRun::Err() const { return ReadWhole(errPath); }

TempPortFolder::TempPortFolder() {
    std::string pattern = "/tmp/zantor_sim_test.XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) path = pattern;
}

TempPortFolder::~TempPortFolder() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
}

std::optional<TraceLine> ParseTraceLine(const std::string& line) {
    std::istringstream words(line);
    TraceLine parsed;
    if (!(words >> parsed.seconds >> parsed.tag)) return std::nullopt;
    std::string hex;
    // Only frame lines carry bytes; event lines ("-- upgrade to version 7") are
    // not frames, whatever their words look like.
    if (parsed.tag != "RX" && parsed.tag != "TX" && parsed.tag != "DROP") return std::nullopt;
    while (words >> hex) {
        if (hex.size() != 2 || !std::isxdigit(static_cast<unsigned char>(hex[0])) ||
            !std::isxdigit(static_cast<unsigned char>(hex[1]))) {
            return std::nullopt;
        }
        parsed.bytes.push_back(static_cast<uint8_t>(std::stoul(hex, nullptr, 16)));
    }
    return parsed;
}

std::vector<uint8_t> Bytes(const std::string& hex) {
    std::istringstream words(hex);
    std::vector<uint8_t> bytes;
    std::string word;
    while (words >> word) bytes.push_back(static_cast<uint8_t>(std::stoul(word, nullptr, 16)));
    return bytes;
}

PortClient::PortClient(const std::string& path) {
    fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios settings{};
    if (fd >= 0 && tcgetattr(fd, &settings) == 0) {
        cfmakeraw(&settings);
        tcsetattr(fd, TCSANOW, &settings);
    }
}

PortClient::~PortClient() {
    if (fd >= 0) close(fd);
}

bool PortClient::Write(const std::vector<uint8_t>& bytes) const {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t size = write(fd, bytes.data() + done, bytes.size() - done);
        if (size < 0 && errno == EAGAIN) {
            pollfd request{fd, POLLOUT, 0};
            poll(&request, 1, 100);
            continue;
        }
        if (size <= 0) return false;
        done += static_cast<size_t>(size);
    }
    return true;
}

std::vector<uint8_t> PortClient::Read(size_t count, int timeoutMs) const {
    std::vector<uint8_t> bytes;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (bytes.size() < count && fd >= 0) {
        pollfd request{fd, POLLIN, 0};
        if (poll(&request, 1, MsLeft(deadline)) <= 0) break;
        uint8_t buffer[4096];
        const ssize_t size = read(fd, buffer, std::min(sizeof buffer, count - bytes.size()));
        if (size <= 0) break;
        bytes.insert(bytes.end(), buffer, buffer + size);
    }
    return bytes;
}

std::vector<uint8_t> PortClient::ReadUntilQuiet(int quietMs, int timeoutMs) const {
    std::vector<uint8_t> bytes;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (fd >= 0 && MsLeft(deadline) > 0) {
        pollfd request{fd, POLLIN, 0};
        if (poll(&request, 1, std::min(quietMs, MsLeft(deadline))) <= 0) break;
        uint8_t buffer[4096];
        const ssize_t size = read(fd, buffer, sizeof buffer);
        if (size <= 0) break;
        bytes.insert(bytes.end(), buffer, buffer + size);
    }
    return bytes;
}

}  // namespace simtest
