#pragma once

#include <optional>
#include <string>
#include <vector>

// The port resolution of ComPorts.h with the tty class folder given, so that the
// ordering and filtering of system ports can be checked on a fake sysfs tree.
// Nothing here opens a device.
namespace comports {

inline constexpr const char* kTtyClassDir = "/sys/class/tty";

std::vector<std::string> SystemSerialPorts(const std::string& ttyClassDir);

std::optional<std::string> ResolvePort(int n, const std::string& folder, bool systemPorts,
                                       const std::string& ttyClassDir);

}  // namespace comports
