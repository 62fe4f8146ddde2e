#include "ComPorts.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "ComPortsInternal.h"

namespace comports {
namespace {

// Major 5 holds /dev/tty, /dev/console and /dev/ptmx: aliases of the caller's own
// terminal, of the console and the pty multiplexer, never a line of their own.
constexpr unsigned kTtyAliasMajor = 5;

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string EntryPath(const std::string& folder, int n) {
    return WithoutTrailingSlashes(folder) + "/com" + std::to_string(n);
}

std::optional<std::string> ReadFirstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) return std::nullopt;
    return line;
}

std::optional<std::string> ReadLinkTarget(const std::string& link) {
    std::string target(PATH_MAX, '\0');
    ssize_t length = readlink(link.c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<size_t>(length) >= target.size()) return std::nullopt;
    target.resize(static_cast<size_t>(length));
    return target;
}

std::optional<std::string> RealPath(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return std::nullopt;
    std::string result(resolved);
    free(resolved);
    return result;
}

bool IsPtySlave(const struct stat& st, const std::string& realPath) {
    return IsPseudoTerminalMajor(major(st.st_rdev)) || realPath.rfind("/dev/pts/", 0) == 0;
}

// A terminal is judged without opening it: a character device of the tty class
// (pseudo-terminal slaves have no sysfs entry, so they are known by their major).
bool IsTerminal(const struct stat& st, const std::string& realPath) {
    if (!S_ISCHR(st.st_mode) || major(st.st_rdev) == kTtyAliasMajor) return false;
    if (IsPtySlave(st, realPath)) return true;
    std::string subsystem = "/sys/dev/char/" + std::to_string(major(st.st_rdev)) + ":" +
                            std::to_string(minor(st.st_rdev)) + "/subsystem";
    std::optional<std::string> linkedClass = RealPath(subsystem);
    return linkedClass && *linkedClass == "/sys/class/tty";
}

bool IsNewer(const timespec& a, const timespec& b) {
    return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

// The device an entry of the port folder leads to, when it may be used.
std::optional<std::string> UsableTarget(const std::string& entry) {
    struct stat linkStat {};
    if (lstat(entry.c_str(), &linkStat) != 0 || !S_ISLNK(linkStat.st_mode)) return std::nullopt;
    std::optional<std::string> target = ReadLinkTarget(entry);
    if (!target || target->front() != '/') return std::nullopt;
    std::optional<std::string> device = RealPath(*target);
    struct stat deviceStat {};
    if (!device || stat(device->c_str(), &deviceStat) != 0) return std::nullopt;
    if (!IsTerminal(deviceStat, *device)) return std::nullopt;
    // A pseudo-terminal allocated after the link was made is a recycled number,
    // perhaps somebody's shell.
    if (IsPtySlave(deviceStat, *device) && IsNewer(deviceStat.st_ctim, linkStat.st_mtim)) {
        return std::nullopt;
    }
    return device;
}

bool IsNamed(const std::string& folder, int n) {
    struct stat entryStat {};
    return lstat(EntryPath(folder, n).c_str(), &entryStat) == 0;
}

// What the folder's entries lead to, by path and by device number, so that a
// system port already named there is not handed out a second time.
struct NamedDevices {
    std::set<std::string> paths;
    std::set<dev_t> numbers;
};

NamedDevices CollectNamedDevices(const std::string& folder) {
    NamedDevices named;
    for (int n = protocol::kFirstPort; n <= protocol::kLastPort; ++n) {
        std::string entry = EntryPath(folder, n);
        std::optional<std::string> target = ReadLinkTarget(entry);
        if (!target) continue;
        named.paths.insert(*target);
        if (std::optional<std::string> device = RealPath(entry)) named.paths.insert(*device);
        struct stat deviceStat {};
        if (stat(entry.c_str(), &deviceStat) == 0 && S_ISCHR(deviceStat.st_mode)) {
            named.numbers.insert(deviceStat.st_rdev);
        }
    }
    return named;
}

struct SystemPort {
    int group;  // 0 ttyS, 1 ttyUSB, 2 ttyACM
    unsigned long index;
    std::string name;
};

std::optional<unsigned long> NumberAfter(const std::string& name, const std::string& prefix) {
    if (name.size() <= prefix.size() || name.size() > prefix.size() + 9 ||
        name.compare(0, prefix.size(), prefix) != 0) {
        return std::nullopt;
    }
    std::string digits = name.substr(prefix.size());
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    return std::stoul(digits);
}

std::set<std::string> ConsolePorts(const std::string& ttyClassDir) {
    std::set<std::string> names;
    if (std::optional<std::string> active = ReadFirstLine(ttyClassDir + "/console/active")) {
        std::istringstream words(*active);
        names.insert(std::istream_iterator<std::string>(words), {});
    }
    return names;
}

// A ttyS entry stands for a UART only when the driver found one there.
bool HasUart(const std::string& ttyClassDir, const std::string& name) {
    std::optional<std::string> type = ReadFirstLine(ttyClassDir + "/" + name + "/type");
    return type && std::atoi(type->c_str()) != 0;
}

std::optional<dev_t> SysfsDeviceNumber(const std::string& ttyClassDir, const std::string& name) {
    std::optional<std::string> line = ReadFirstLine(ttyClassDir + "/" + name + "/dev");
    unsigned deviceMajor = 0;
    unsigned deviceMinor = 0;
    char colon = 0;
    std::istringstream in(line.value_or(""));
    if (!(in >> deviceMajor >> colon >> deviceMinor) || colon != ':') return std::nullopt;
    return makedev(deviceMajor, deviceMinor);
}

std::vector<SystemPort> ListSystemPorts(const std::string& ttyClassDir) {
    static const char* const kPrefixes[] = {"ttyS", "ttyUSB", "ttyACM"};
    std::set<std::string> console = ConsolePorts(ttyClassDir);
    std::vector<SystemPort> ports;
    DIR* dir = opendir(ttyClassDir.c_str());
    if (dir == nullptr) return ports;
    while (const dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (console.count(name) != 0) continue;
        for (int group = 0; group < 3; ++group) {
            std::optional<unsigned long> index = NumberAfter(name, kPrefixes[group]);
            if (!index || (group == 0 && !HasUart(ttyClassDir, name))) continue;
            ports.push_back({group, *index, name});
        }
    }
    closedir(dir);
    std::sort(ports.begin(), ports.end(), [](const SystemPort& a, const SystemPort& b) {
        return a.group != b.group ? a.group < b.group : a.index < b.index;
    });
    return ports;
}

}  // namespace

// Unix98 pseudo-terminal slaves use majors 136..143.
bool IsPseudoTerminalMajor(unsigned deviceMajor) {
    return deviceMajor >= 136 && deviceMajor <= 143;
}

// Major 4 holds the virtual terminals tty0..tty63, then the 8250 UARTs.
bool IsVirtualTerminal(unsigned deviceMajor, unsigned deviceMinor) {
    return deviceMajor == 4 && deviceMinor < 64;
}

bool IsConsole(const std::string& device, const std::string& ttyClassDir) {
    struct stat deviceStat {};
    if (stat(device.c_str(), &deviceStat) != 0) return true;
    if (IsVirtualTerminal(major(deviceStat.st_rdev), minor(deviceStat.st_rdev))) return true;
    for (const std::string& name : ConsolePorts(ttyClassDir)) {
        std::optional<dev_t> number = SysfsDeviceNumber(ttyClassDir, name);
        if (number && *number == deviceStat.st_rdev) return true;
    }
    return false;
}

std::string UserPortFolder() { return "/tmp/zantor_cfg-" + std::to_string(getuid()); }

bool IsTrustedFolder(const std::string& folder) { return WhyNotTrusted(folder).empty(); }

std::string WhyNotTrusted(const std::string& folder) {
    struct stat folderStat {};
    if (folder.empty()) return "no folder is named";
    if (lstat(WithoutTrailingSlashes(folder).c_str(), &folderStat) != 0) {
        return errno == ENOENT ? "it does not exist" : std::strerror(errno);
    }
    if (S_ISLNK(folderStat.st_mode)) return "it is a symbolic link, not a folder of its own";
    if (!S_ISDIR(folderStat.st_mode)) return "it is not a directory";
    if (folderStat.st_uid != getuid()) {
        return "it belongs to uid " + std::to_string(folderStat.st_uid) + ", not to you (uid " +
               std::to_string(getuid()) + ")";
    }
    if ((folderStat.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", folderStat.st_mode & 07777u);
        return std::string("its mode is ") + mode + ", which lets others in";
    }
    return "";
}

NamedDevice CheckDevicePath(const std::string& path, const std::string& ttyClassDir) {
    std::optional<std::string> device = RealPath(path);
    struct stat deviceStat {};
    if (!device || stat(device->c_str(), &deviceStat) != 0) return {"", std::strerror(errno)};
    if (!IsTerminal(deviceStat, *device)) return {"", "not a serial port"};
    if (IsConsole(*device, ttyClassDir)) {
        return {"", "the system console or a virtual terminal, never a reader's line"};
    }
    return {*device, ""};
}

NamedDevice CheckDevicePath(const std::string& path) { return CheckDevicePath(path, kTtyClassDir); }

std::string ByIdName(const std::string& device, const std::string& byIdDir) {
    std::string found;
    DIR* dir = opendir(byIdDir.c_str());
    if (dir == nullptr) return found;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = byIdDir + "/" + entry->d_name;
        // Of two names for one adapter, the same one every time.
        if (entry->d_name[0] != '.' && RealPath(name) == device &&
            (found.empty() || name < found)) {
            found = name;
        }
    }
    closedir(dir);
    return found;
}

std::vector<std::string> SystemSerialPorts(const std::string& ttyClassDir) {
    std::vector<std::string> paths;
    for (const SystemPort& port : ListSystemPorts(ttyClassDir))
        paths.push_back("/dev/" + port.name);
    return paths;
}

std::vector<std::string> SystemSerialPorts() { return SystemSerialPorts(kTtyClassDir); }

bool IsFolderEntry(int n, const std::string& folder) {
    return IsTrustedFolder(folder) && IsNamed(folder, n);
}

std::optional<std::string> ResolvePort(int n, const std::string& folder, bool systemPorts,
                                       const std::string& ttyClassDir) {
    if (n < protocol::kFirstPort || n > protocol::kLastPort) return std::nullopt;
    bool trusted = IsTrustedFolder(folder);
    if (trusted && IsNamed(folder, n)) {
        std::optional<std::string> device = UsableTarget(EntryPath(folder, n));
        if (device && IsConsole(*device, ttyClassDir)) return std::nullopt;
        return device;
    }
    if (!systemPorts) return std::nullopt;

    size_t rank = 0;
    for (int m = protocol::kFirstPort; m < n; ++m) {
        if (!trusted || !IsNamed(folder, m)) ++rank;
    }
    NamedDevices named = trusted ? CollectNamedDevices(folder) : NamedDevices{};
    for (const SystemPort& port : ListSystemPorts(ttyClassDir)) {
        std::string path = "/dev/" + port.name;
        std::optional<dev_t> number = SysfsDeviceNumber(ttyClassDir, port.name);
        if (named.paths.count(path) != 0 || (number && named.numbers.count(*number) != 0)) {
            continue;
        }
        if (rank == 0) return path;
        --rank;
    }
    return std::nullopt;
}

std::optional<std::string> ResolvePort(int n, const std::string& folder, bool systemPorts) {
    return ResolvePort(n, folder, systemPorts, kTtyClassDir);
}

}  // namespace comports
