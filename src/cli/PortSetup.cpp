#include <cstdlib>

#include "Failure.h"
#include "Platform.h"

namespace cli {

PortSetup PortSetupFromEnvironment() {
    const char* folder = std::getenv("ZANTOR_PORT_FOLDER");
    if (folder == nullptr) return {};
    if (*folder == '\0') {
        throw Failure(kExitUsage, "ZANTOR_PORT_FOLDER is set but empty: name a port folder");
    }
    return {folder, false};
}

}  // namespace cli
