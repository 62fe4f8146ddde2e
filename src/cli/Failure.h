#pragma once

#include <stdexcept>
#include <string>

class CommErr;
struct PortHolder;

namespace cli {

// The exit codes of zantor, one per kind of outcome, so that a script can tell
// what went wrong without reading the message.
enum ExitCode : int {
    kExitDone = 0,
    kExitObstacles = 1,  // doctor: something stands between this machine and a reader
    kExitUsage = 2,
    kExitNoReader = 3,
    kExitComm = 4,
    kExitVerify = 5,
    kExitBadInput = 6,  // a profile or an image that is refused
    kExitPortInUse = 7,
    kExitNoAccess = 8,  // the port is there but cannot be opened (permission, device gone)
};

// Ends a command with an exit code, a stable kind for scripts ("bad_profile")
// and a message for stderr. Without a kind, the exit code's own one.
class Failure : public std::runtime_error {
public:
    Failure(ExitCode code, const std::string& message);
    Failure(ExitCode code, const char* kind, const std::string& message)
        : std::runtime_error(message), code(code), kind(kind) {}
    ExitCode code;
    const char* kind;
};

// What a failed exchange means to zantor: its exit code, its kind ("no_reply",
// "refused", "port_in_use", ...), and the line that says what happened and
// why, in the run's language ("Communication error. (the reader refused ...)";
// for a port that cannot be opened, why and what mends it).
ExitCode ExitCodeOf(const CommErr& error);
const char* KindOf(const CommErr& error);
std::string MessageOf(const CommErr& error);
// Who holds a port: "picocom (pid 1234, lock file)", in the run's language.
std::string HolderOf(const PortHolder& holder);

}  // namespace cli
