#pragma once

#include <optional>
#include <string>
#include <vector>

// How COM1..COM32 map to devices on POSIX.
namespace comports {

inline constexpr int kFirstPort = 1;
inline constexpr int kLastPort = 32;

// /tmp/zantor_cfg-<uid>/ for the calling user (uid from getuid()).
std::string UserPortFolder();

// True when folder is a real directory (not a link) owned by the calling user
// with no group or other permission bits; otherwise it is not trusted.
bool IsTrustedFolder(const std::string& folder);

// The device path of COM n, or nothing when n has none. A number the folder names
// belongs to the folder even when its link is unusable (dangling, not a terminal,
// or stale); such a number has no device. Numbers the folder does not name take
// the system's serial ports in order (when systemPorts is true).
std::optional<std::string> ResolvePort(int n, const std::string& folder, bool systemPorts);

// The system's serial ports in COM order: ttyS* with real hardware, then ttyUSB*,
// then ttyACM*, each in natural order; never the console's port.
std::vector<std::string> SystemSerialPorts();

}  // namespace comports
