#include "WinePrefix.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>

extern char** environ;

namespace winetest {
namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Spawns argv in a process group of its own, its output going to the two files.
pid_t Spawn(const std::vector<std::string>& args, const std::string& outPath,
            const std::string& errPath) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ) != 0) pid = -1;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

}  // namespace

WineProgram::WineProgram(pid_t pid, std::string outPath, std::string errPath)
    : pid(pid), outPath(std::move(outPath)), errPath(std::move(errPath)) {}

WineProgram::WineProgram(WineProgram&& other) noexcept
    : pid(std::exchange(other.pid, -1)),
      outPath(std::move(other.outPath)),
      errPath(std::move(other.errPath)) {}

WineProgram::~WineProgram() {
    if (pid > 0) Wait(0);
}

std::optional<int> WineProgram::Wait(int timeoutMs) {
    if (pid <= 0) return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    for (;;) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno == EINTR) continue;
        if (done < 0 || std::chrono::steady_clock::now() >= deadline) {
            kill(-pid, SIGKILL);
            waitpid(pid, &status, 0);
            pid = -1;
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid = -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
}

std::string WineProgram::Out() const { return ReadFile(outPath); }

std::string WineProgram::Err() const { return ReadFile(errPath); }

WinePrefix::WinePrefix(std::string scriptPath) : script(std::move(scriptPath)) {
    std::string pattern = "/tmp/zantor_wine.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        problem = "no temporary folder for the Wine prefix";
        return;
    }
    path = pattern;
    // The session's wineserver stays until the prefix goes, so that the Windows
    // services start once and not for every program.
    if (!RunScript({}) || !RunScript({"wineserver", "-p"})) {
        problem = "scripts/wine.sh could not make the prefix " + path;
    }
}

WinePrefix::~WinePrefix() {
    if (path.empty()) return;
    RunScript({"wineserver", "-k"});
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

bool WinePrefix::RunScript(const std::vector<std::string>& command) const {
    std::vector<std::string> args{"bash", script, path};
    args.insert(args.end(), command.begin(), command.end());
    WineProgram run(Spawn(args, path + "/script.out", path + "/script.err"), path + "/script.out",
                    path + "/script.err");
    std::optional<int> status = run.Wait(300'000);
    return status && *status == 0;
}

bool WinePrefix::LinkPort(int n, const std::string& device) const {
    UnlinkPort(n);
    return symlink(device.c_str(), (path + "/dosdevices/com" + std::to_string(n)).c_str()) == 0;
}

void WinePrefix::UnlinkPort(int n) const {
    unlink((path + "/dosdevices/com" + std::to_string(n)).c_str());
}

WineProgram WinePrefix::Start(const std::vector<std::string>& wineArgs) {
    std::vector<std::string> args{"bash", script, path, "wine"};
    args.insert(args.end(), wineArgs.begin(), wineArgs.end());
    const std::string stem = path + "/run" + std::to_string(++started);
    return WineProgram(Spawn(args, stem + ".out", stem + ".err"), stem + ".out", stem + ".err");
}

}  // namespace winetest
