#pragma once

#include <optional>
#include <string>
#include <vector>

// A Wine prefix of its own for the Windows tests, made by scripts/wine.sh (no
// COM name in it leads to a system serial port), with a wineserver that lives as
// long as the prefix, so that every program of the run shares one Wine session.
namespace winetest {

struct Outcome {
    std::optional<int> status;  // none when the program was killed for its time
    std::string out;
    std::string err;
    double seconds = 0;
};

class WinePrefix {
public:
    // scriptPath: scripts/wine.sh. Making the prefix takes half a minute or more.
    explicit WinePrefix(std::string scriptPath);
    ~WinePrefix();
    WinePrefix(const WinePrefix&) = delete;
    WinePrefix& operator=(const WinePrefix&) = delete;

    // Empty when the prefix is ready, else why it is not.
    const std::string& Problem() const { return problem; }

    // COM n of the prefix leads to this pseudo-terminal from now on.
    bool LinkPort(int n, const std::string& device) const;
    void UnlinkPort(int n) const;

    // Runs wine with these arguments (a Windows program and its own); one that
    // outlives timeoutMs is killed.
    Outcome Wine(const std::vector<std::string>& args, int timeoutMs) const;

private:
    Outcome Script(const std::vector<std::string>& command, int timeoutMs) const;

    std::string script;
    std::string path;
    std::string problem;
};

}  // namespace winetest
