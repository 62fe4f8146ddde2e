#include "Doctor.h"

#include <dirent.h>
#include <fmt/format.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <optional>

#include "Catalogue.h"
#include "ComPortsInternal.h"
#include "Failure.h"

namespace doctor {

namespace {

using cli::Obstacle;

constexpr mode_t kReadWrite = 6;  // r and w, in the owner's, group's or others' place
constexpr mode_t kWriteSearch = 3;
// The vendor of the CH340/CH341 USB serial chips, which brltty's rules claim
// for the braille displays built on them.
constexpr const char* kCh34xVendor = "1a86";

std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string GroupName(gid_t gid) {
    const group* found = getgrgid(gid);
    return found != nullptr ? found->gr_name : std::to_string(gid);
}

bool InGroup(const Machine& machine, gid_t gid) {
    return std::find(machine.groups.begin(), machine.groups.end(), gid) != machine.groups.end();
}

// Whether the permission bits let the user do what the bits `want` stand for.
bool Allows(const Machine& machine, const struct stat& st, mode_t want) {
    if (machine.uid == 0) return true;
    const mode_t bits = st.st_uid == machine.uid      ? st.st_mode >> 6
                        : InGroup(machine, st.st_gid) ? st.st_mode >> 3
                                                      : st.st_mode;
    return (bits & want) == want;
}

std::string Mode(const struct stat& st) {
    const passwd* owner = getpwuid(st.st_uid);
    return cli::Say("{}:{}, mode {:04o}", owner ? owner->pw_name : std::to_string(st.st_uid),
                    GroupName(st.st_gid), st.st_mode & 07777u);
}

struct Device {
    std::string path;
    struct stat st;
};

std::vector<Device> SerialDevices(const Machine& machine) {
    std::vector<Device> devices;
    for (const std::string& port : comports::SystemSerialPorts(machine.ttyClass)) {
        Device device{machine.dev + port.substr(port.rfind('/')), {}};
        if (stat(device.path.c_str(), &device.st) == 0) devices.push_back(device);
    }
    return devices;
}

// The group that owns the serial ports: that of the first one, else dialout.
std::optional<gid_t> SerialGroup(const std::vector<Device>& devices) {
    if (!devices.empty()) return devices.front().st.st_gid;
    if (const group* dialout = getgrnam("dialout")) return dialout->gr_gid;
    return std::nullopt;
}

// Whether the user is listed in the group file's entry for gid, though not in
// this login's groups: added since logging in.
bool ListedSinceLogin(const Machine& machine, gid_t gid) {
    bool listed = false;
    const passwd* user = getpwuid(machine.uid);
    if (const group* entry = getgrgid(gid); entry != nullptr && user != nullptr) {
        for (char** member = entry->gr_mem; *member != nullptr; ++member) {
            listed = listed || user->pw_name == std::string(*member);
        }
    }
    return listed;
}

std::string JoinGroup(const Machine& machine, const std::string& name, gid_t gid) {
    return ListedSinceLogin(machine, gid)
               ? cli::Say("log out and in again (or run: newgrp {})", name)
               : cli::Say("sudo usermod -aG {} \"$USER\", then log out and in again", name);
}

std::string ChangeDevice(const std::string& group, const std::string& path) {
    return cli::Say(
        "sudo chgrp {0} {1} && sudo chmod 660 {1} (until it is plugged in again; a udev rule "
        "makes it last)",
        group, path);
}

void CheckGroupAndDevices(const Machine& machine, std::vector<Obstacle>& found) {
    const std::vector<Device> devices = SerialDevices(machine);
    const std::optional<gid_t> gid = SerialGroup(devices);
    if (!gid || machine.uid == 0) return;
    const std::string name = GroupName(*gid);
    if (!InGroup(machine, *gid)) {
        found.push_back({cli::Say("you are not in the group {}, which owns the serial ports{}",
                                  name, devices.empty() ? "" : " (" + devices.front().path + ")"),
                         JoinGroup(machine, name, *gid)});
    }
    for (const Device& device : devices) {
        const bool byGroup =
            device.st.st_gid == *gid && ((device.st.st_mode >> 3) & kReadWrite) == kReadWrite;
        if (Allows(machine, device.st, kReadWrite) || (byGroup && !InGroup(machine, *gid))) {
            continue;
        }
        found.push_back({cli::Say("you may not open {} ({})", device.path, Mode(device.st)),
                         ChangeDevice(name, device.path)});
    }
}

void CheckPortTakers(const Machine& machine, std::vector<Obstacle>& found) {
    for (const std::string& pid : Entries(machine.proc)) {
        if (!std::all_of(pid.begin(), pid.end(), [](char c) { return std::isdigit(c) != 0; })) {
            continue;
        }
        if (Slurp(machine.proc + "/" + pid + "/comm") == "ModemManager\n") {
            found.push_back({cli::Say("ModemManager is running (pid {}) and probes every serial "
                                      "port that appears, which keeps a reader busy for "
                                      "seconds after it is plugged in",
                                      pid),
                             "sudo systemctl disable --now ModemManager"});
            break;
        }
    }
    for (const std::string& folder : machine.udevRules) {
        for (const std::string& name : Entries(folder)) {
            if (name.find("brltty") == std::string::npos) continue;
            const std::string path = folder + "/" + name;
            std::string rules = Slurp(path);
            std::transform(rules.begin(), rules.end(), rules.begin(),
                           [](unsigned char c) { return std::tolower(c); });
            if (rules.find(kCh34xVendor) == std::string::npos) continue;
            found.push_back(
                {cli::Say("brltty is installed and takes CH340/CH341 USB serial adapters "
                          "(1a86) for braille displays ({}): such an adapter's port vanishes "
                          "as soon as it is plugged in",
                          path),
                 cli::Tr(
                     "sudo apt remove brltty (unless a braille display is used on this machine)")});
            return;
        }
    }
}

void CheckHeldPorts(const Machine& machine, std::vector<Obstacle>& found) {
    for (int n = protocol::kFirstPort; n <= protocol::kLastPort; ++n) {
        const comports::PortDescription port = comports::DescribePort(
            n, machine.portFolder, machine.systemPorts, machine.ttyClass, machine.lockFolders);
        if (port.state != comports::PortState::Held) continue;
        const comports::PortHolder holder = port.holder.value_or(comports::PortHolder{});
        const std::string program =
            holder.program.empty() ? cli::Tr("another program") : holder.program;
        found.push_back(
            {cli::Say("COM{} ({}) is held by {}", n, port.device, cli::HolderOf(holder)),
             holder.pid != 0
                 ? cli::Say("close {}, or: kill {}", program, holder.pid)
                 : cli::Say("close the program that holds it (sudo fuser -v {})", port.device)});
    }
}

void CheckFolders(const Machine& machine, std::vector<Obstacle>& found) {
    const std::string why = comports::WhyNotTrusted(machine.portFolder);
    struct stat st {};
    const bool exists = lstat(machine.portFolder.c_str(), &st) == 0;
    if (exists && !why.empty()) {
        // A folder of ours with loose permissions can be mended; anything else
        // in its place is somebody else's and goes.
        const bool ours = S_ISDIR(st.st_mode) && st.st_uid == machine.uid;
        found.push_back(
            {cli::Say("the port folder {} is not used: {}", machine.portFolder,
                      cli::Tr(why.c_str())),
             ours ? "chmod 700 " + machine.portFolder
                  : cli::Say("sudo rm -r {} (zantor_sim makes it anew)", machine.portFolder)});
    }
    std::optional<std::pair<std::string, struct stat>> first;
    for (const std::string& folder : machine.lockFolders) {
        struct stat lock {};
        if (stat(folder.c_str(), &lock) != 0 || !S_ISDIR(lock.st_mode)) continue;
        if (Allows(machine, lock, kWriteSearch)) return;
        if (!first) first.emplace(folder, lock);
    }
    if (!first) return;
    const auto& [folder, lock] = *first;
    const bool groupMay = lock.st_gid != 0 && ((lock.st_mode >> 3) & kWriteSearch) == kWriteSearch;
    found.push_back(
        {cli::Say("the lock folder {} ({}) is not writable for you: programs such as minicom "
                  "cannot see that zantor holds a port",
                  folder, Mode(lock)),
         groupMay ? cli::Say("sudo usermod -aG {} \"$USER\", then log out and in again",
                             GroupName(lock.st_gid))
                  : "sudo chmod 1777 " + folder});
}

}  // namespace

Machine ThisMachine(const cli::PortSetup& setup) {
    Machine machine;
    machine.portFolder = setup.folder.empty() ? comports::UserPortFolder() : setup.folder;
    machine.systemPorts = setup.systemPorts;
    machine.uid = getuid();
    machine.groups.resize(static_cast<size_t>(std::max(getgroups(0, nullptr), 0)));
    const int count = getgroups(static_cast<int>(machine.groups.size()), machine.groups.data());
    machine.groups.resize(static_cast<size_t>(std::max(count, 0)));
    machine.groups.push_back(getegid());
    return machine;
}

std::string AccessMend(const Machine& machine, const std::string& path) {
    Device device{path, {}};
    if (machine.uid == 0 || stat(path.c_str(), &device.st) != 0) return "";
    const std::string owner = GroupName(device.st.st_gid);
    const bool groupMay = ((device.st.st_mode >> 3) & kReadWrite) == kReadWrite;
    if (groupMay && !InGroup(machine, device.st.st_gid)) {
        return cli::Say("you are not in the group {}, which owns it: {}", owner,
                        JoinGroup(machine, owner, device.st.st_gid));
    }
    const std::optional<gid_t> serial = SerialGroup(SerialDevices(machine));
    return cli::Say("it is {}: {}", Mode(device.st),
                    ChangeDevice(serial ? GroupName(*serial) : owner, path));
}

std::vector<Obstacle> Examine(const Machine& machine) {
    std::vector<Obstacle> found;
    CheckGroupAndDevices(machine, found);
    CheckPortTakers(machine, found);
    CheckHeldPorts(machine, found);
    CheckFolders(machine, found);
    return found;
}

}  // namespace doctor

namespace cli {

std::vector<Obstacle> Obstacles(const PortSetup& setup) {
    return doctor::Examine(doctor::ThisMachine(setup));
}

std::string AccessMend(const std::string& device) {
    return doctor::AccessMend(doctor::ThisMachine({}), device);
}

}  // namespace cli
