#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Protocol.h"
#include "SerialServices.h"

// How COM1..COM32 map to devices on POSIX.
namespace comports {

// /tmp/zantor_cfg-<uid>/ for the calling user (uid from getuid()).
std::string UserPortFolder();

// True when folder is a real directory (not a link) owned by the calling user
// with no group or other permission bits; otherwise it is not trusted.
bool IsTrustedFolder(const std::string& folder);
// Why folder is not trusted, in a few words ("it does not exist", "its mode is
// 0755: ..."); empty when it is.
std::string WhyNotTrusted(const std::string& folder);

// A device named by its path (/dev/ttyUSB0, /dev/serial/by-id/...): the device
// it leads to when that may carry a reader, with the checks a port folder's
// entry gets (a terminal, neither the console nor a virtual terminal); else
// device is empty and refusal says why.
struct NamedDevice {
    std::string device;
    std::string refusal;
};
NamedDevice CheckDevicePath(const std::string& path);

// The name in /dev/serial/by-id that leads to device, empty when none does.
// Those names stay with the adapter wherever it is plugged in.
std::string ByIdName(const std::string& device, const std::string& byIdDir = "/dev/serial/by-id");

// The device path of COM n, or nothing when n has none. A number the folder names
// belongs to the folder even when its link is unusable (dangling, not a terminal,
// or stale); such a number has no device. Numbers the folder does not name take
// the system's serial ports in order (when systemPorts is true).
std::optional<std::string> ResolvePort(int n, const std::string& folder, bool systemPorts);

// The system's serial ports in COM order: ttyS* with real hardware, then ttyUSB*,
// then ttyACM*, each in natural order; never the console's port.
std::vector<std::string> SystemSerialPorts();

enum class PortOrigin { Folder, System };
enum class PortState { Free, Held, NotPermitted, Missing };

// Another program's hold on a port; the program's name from /proc/<pid>/comm.
using PortHolder = ::PortHolder;

struct PortDescription {
    int number = 0;      // COM number
    std::string device;  // resolved device path, empty when Missing with no device
    PortOrigin origin = PortOrigin::System;
    PortState state = PortState::Missing;
    std::optional<PortHolder> holder;  // set when state == Held and something is known
};

// Folders of UUCP lock files (LCK..ttyUSB0) that minicom, picocom and Qt Serial
// Port use; /var/lock is a link to /run/lock on current systems.
std::vector<std::string> DefaultLockFolders();

// Another program's hold on device that can be seen without opening it: a lock
// file with a live PID, a flock or other lock on the device node, or an open
// descriptor in another process whose /proc/<pid>/fd may be read. The
// descriptors of this process do not count: within it, ports are held through
// flock and lock files.
std::optional<PortHolder> FindHolder(const std::string& device,
                                     const std::vector<std::string>& lockFolders);

// What COM n is now, for listing: never writes a byte, never changes the line,
// never leaves a mark (the device is not even opened, so an exclusive flag shows
// only through its holder's open descriptor). Numbers with no device at all are
// Missing.
PortDescription DescribePort(int n, const std::string& folder, bool systemPorts);

}  // namespace comports
