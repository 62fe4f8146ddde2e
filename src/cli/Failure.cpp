#include "Failure.h"

#include "CommErr.h"

namespace cli {

ExitCode ExitCodeOf(const CommErr& error) {
    return error.kind() == CommErr::Kind::PortHeld ? kExitPortInUse : kExitComm;
}

std::string MessageOf(const CommErr& error) {
    if (error.kind() == CommErr::Kind::PortHeld) return error.what();
    return std::string("Błąd komunikacji. (") + error.what() + ")";
}

}  // namespace cli
