#pragma once

#include <string>
#include <vector>

#include "Output.h"
#include "Platform.h"

namespace cli {

struct StationOptions {
    std::string profilePath;
    std::vector<int> ports;  // COM numbers, in the order given
    bool upgrade = false;
    std::string imagePath;  // upgrade with this image instead of the built-in ones
    std::string logPath;    // empty: no CSV log
    bool once = false;
};

// Watches the ports, one worker each, and provisions every reader that appears:
// identify, upgrade when asked (or given an image) and outdated, write the
// profile and read it back, show the result on the reader itself, log one row.
// Returns the exit code.
int RunStation(Output& out, const PortSetup& setup, const StationOptions& options);

}  // namespace cli
