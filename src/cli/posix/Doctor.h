#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "ComPorts.h"
#include "Platform.h"

// What stands between this machine and a reader, found by looking only:
// nothing is opened but files, folders and the lock files of other programs.
namespace doctor {

// Where the machine is looked at, and who asks. The real machine by default;
// tests give a tree of their own.
struct Machine {
    std::string ttyClass = "/sys/class/tty";
    std::string dev = "/dev";  // the system's serial ports are looked at here
    std::string proc = "/proc";
    std::vector<std::string> udevRules = {"/usr/lib/udev/rules.d", "/lib/udev/rules.d",
                                          "/etc/udev/rules.d"};
    std::vector<std::string> lockFolders = comports::DefaultLockFolders();
    std::string portFolder;  // the one in use
    bool systemPorts = true;
    uid_t uid = 0;
    std::vector<gid_t> groups;  // of this login, the primary one included
};

// The machine as this process sees it, with the setup's port folder.
Machine ThisMachine(const cli::PortSetup& setup);

// In order: the serial ports' group, devices that may not be opened, programs
// that take serial ports (ModemManager, brltty), ports held by another
// program, the port folder, the lock folder.
std::vector<cli::Obstacle> Examine(const Machine& machine);

// For a device that the user was refused for want of permission: what mends
// it, as Examine would say it ("you are not in the group dialout, which owns
// it: sudo usermod ..."); empty for root or a device that cannot be looked at.
std::string AccessMend(const Machine& machine, const std::string& device);

}  // namespace doctor
