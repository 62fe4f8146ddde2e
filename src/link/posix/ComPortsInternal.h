#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ComPorts.h"

// The port resolution of ComPorts.h with the tty class folder given, so that the
// ordering and filtering of system ports can be checked on a fake sysfs tree.
// Nothing here opens a device.
namespace comports {

inline constexpr const char* kTtyClassDir = "/sys/class/tty";

std::vector<std::string> SystemSerialPorts(const std::string& ttyClassDir);

NamedDevice CheckDevicePath(const std::string& path, const std::string& ttyClassDir);

std::optional<std::string> ResolvePort(int n, const std::string& folder, bool systemPorts,
                                       const std::string& ttyClassDir);

PortDescription DescribePort(int n, const std::string& folder, bool systemPorts,
                             const std::string& ttyClassDir,
                             const std::vector<std::string>& lockFolders);

// The system console and the virtual terminals (tty0..tty63, the first minors of
// major 4) are never a reader's line, whatever name leads to them.
bool IsConsole(const std::string& device, const std::string& ttyClassDir);

// Device numbers: a pseudo-terminal's slave side (a stand-in line, never a
// cable's), and a virtual terminal (never a reader's line).
bool IsPseudoTerminalMajor(unsigned deviceMajor);
bool IsVirtualTerminal(unsigned deviceMajor, unsigned deviceMinor);

// Whether the program with this PID runs, also when it is another user's and may
// not be signalled by us.
bool IsAlive(int pid);

// True when the trusted folder has an entry com<n>: COM n is the folder's.
bool IsFolderEntry(int n, const std::string& folder);

// An open descriptor of device in another process whose /proc/<pid>/fd may be
// read. A pseudo-terminal's master (/dev/ptmx) is not its slave.
std::optional<PortHolder> FindOpener(const std::string& device);

// Marks device as ours with a lock file in the first of lockFolders that we may
// write to; path is our lock file, or empty when no folder took one. False when
// a live program's lock file is in the way.
bool TakeLockFile(const std::string& device, const std::vector<std::string>& lockFolders,
                  std::string& path);
// Removes our lock file; one that is no longer ours is left alone.
void ReleaseLockFile(const std::string& path);

// The UUCP lock file's name for device: LCK.. and the path below /dev/ with
// slashes as underscores (LCK..ttyUSB0, LCK..pts_5).
std::string LockFileName(const std::string& device);

}  // namespace comports
