#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

// A Wine prefix of its own for the Windows tests, made by scripts/wine.sh (no
// COM name in it leads to a system serial port), with a wineserver that lives as
// long as the prefix, so that every program of the run shares one Wine session.
namespace winetest {

// A program started under the prefix, its standard output and error kept in
// files of the prefix folder.
class WineProgram {
public:
    WineProgram(const WineProgram&) = delete;
    WineProgram& operator=(const WineProgram&) = delete;
    WineProgram(WineProgram&& other) noexcept;
    ~WineProgram();

    // The exit status once the program ended within timeoutMs; otherwise it is
    // killed and nothing is returned.
    std::optional<int> Wait(int timeoutMs);
    std::string Out() const;
    std::string Err() const;

private:
    friend class WinePrefix;
    WineProgram(pid_t pid, std::string outPath, std::string errPath);

    pid_t pid = -1;
    std::string outPath;
    std::string errPath;
};

class WinePrefix {
public:
    // scriptPath: scripts/wine.sh. Creating the prefix takes half a minute or more.
    explicit WinePrefix(std::string scriptPath);
    ~WinePrefix();
    WinePrefix(const WinePrefix&) = delete;
    WinePrefix& operator=(const WinePrefix&) = delete;

    // False when the prefix could not be made; Problem() says why.
    bool Ready() const { return problem.empty(); }
    const std::string& Problem() const { return problem; }

    // COM n of the prefix leads to this pseudo-terminal from now on.
    bool LinkPort(int n, const std::string& device) const;
    void UnlinkPort(int n) const;

    // Starts wine with these arguments (a Windows program and its own).
    WineProgram Start(const std::vector<std::string>& wineArgs);

private:
    // Runs the script with a command and waits for it.
    bool RunScript(const std::vector<std::string>& command) const;

    std::string script;
    std::string path;
    std::string problem;
    int started = 0;
};

}  // namespace winetest
