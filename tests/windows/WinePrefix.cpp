#include "WinePrefix.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>

extern char** environ;

namespace winetest {
namespace {

constexpr int kPrefixLimitMs = 300'000;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs argv in a process group of its own, output to the two files; the whole
// group is killed when it outlives the limit.
std::optional<int> RunFor(const std::vector<std::string>& args, const std::string& outPath,
                          const std::string& errPath, int timeoutMs) {
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
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return std::nullopt;

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if ((done == 0 || errno == EINTR) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        kill(-pid, SIGKILL);
        waitpid(pid, &status, 0);
        return std::nullopt;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

WinePrefix::WinePrefix(std::string scriptPath) : script(std::move(scriptPath)) {
    std::string pattern = "/tmp/zantor_wine.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        problem = "no temporary folder for the Wine prefix";
        return;
    }
    path = pattern;
    // The session's wineserver stays until the prefix goes, so that Wine's own
    // services start once and not for every program.
    for (const auto& command : {std::vector<std::string>{}, {"wineserver", "-p"}}) {
        const Outcome made = Script(command, kPrefixLimitMs);
        if (made.status != 0) {
            problem = "scripts/wine.sh could not make " + path + ": " + made.err;
            return;
        }
    }
}

WinePrefix::~WinePrefix() {
    if (path.empty()) return;
    Script({"wineserver", "-k"}, kPrefixLimitMs);
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

bool WinePrefix::LinkPort(int n, const std::string& device) const {
    UnlinkPort(n);
    return symlink(device.c_str(), (path + "/dosdevices/com" + std::to_string(n)).c_str()) == 0;
}

void WinePrefix::UnlinkPort(int n) const {
    unlink((path + "/dosdevices/com" + std::to_string(n)).c_str());
}

Outcome WinePrefix::Wine(const std::vector<std::string>& args, int timeoutMs) const {
    std::vector<std::string> command{"wine"};
    command.insert(command.end(), args.begin(), args.end());
    return Script(command, timeoutMs);
}

Outcome WinePrefix::Script(const std::vector<std::string>& command, int timeoutMs) const {
    std::vector<std::string> args{"bash", script, path};
    args.insert(args.end(), command.begin(), command.end());
    const auto started = std::chrono::steady_clock::now();
    Outcome outcome;
    outcome.status = RunFor(args, path + "/run.out", path + "/run.err", timeoutMs);
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    outcome.out = ReadFile(path + "/run.out");
    outcome.err = ReadFile(path + "/run.err");
    return outcome;
}

}  // namespace winetest
