#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "ComPorts.h"
#include "ComPortsInternal.h"

// Linux has no exclusive open: a program that holds a serial port may have
// marked it in any of the conventional ways, or not at all. Everything here
// looks without opening the device, so that a port held by somebody else is
// never touched.
namespace comports {
namespace {

constexpr const char* kLockPrefix = "LCK..";
constexpr size_t kWholeBatch = SIZE_MAX;
// Room for about ten descriptors, all that most processes hold: a process whose
// descriptors may not be looked at is known by the first, and listing all of a
// busy one's would cost more than the look itself.
constexpr size_t kFirstDescriptors = 256;

std::string ProgramOf(int pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

// Calls each(name) for the entries of an open folder until it returns false;
// the first batch takes at most firstBatch bytes of entries.
template <typename Each>
void ForEachEntry(int folder, size_t firstBatch, Each each) {
    alignas(dirent64) char batch[16384];
    for (size_t room = std::min(firstBatch, sizeof batch);; room = sizeof batch) {
        const ssize_t size = getdents64(folder, batch, room);
        if (size <= 0) return;
        for (ssize_t at = 0; at < size;) {
            const auto* entry = reinterpret_cast<const dirent64*>(batch + at);
            at += entry->d_reclen;
            if (!each(entry->d_name)) return;
        }
    }
}

// The PID in a lock file: ten ASCII digits and a newline (HDB style), or a
// binary int as older programs write it; 0 when the content makes no sense (or
// is still being written). Nothing when there is no lock file.
std::optional<int> LockFilePid(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    char text[64] = {};
    ssize_t size = read(fd, text, sizeof text - 1);
    close(fd);
    if (size <= 0) return 0;
    if (std::strspn(text, "0123456789 \n") == static_cast<size_t>(size)) return std::atoi(text);
    int pid = 0;
    if (size == sizeof pid) std::memcpy(&pid, text, sizeof pid);
    return pid;
}

// A lock file whose PID is dead was left by a program that crashed: it holds
// nothing. One whose content makes no sense is taken at its word.
std::optional<PortHolder> LockFileHolder(const std::string& device,
                                         const std::vector<std::string>& lockFolders) {
    for (const std::string& folder : lockFolders) {
        std::optional<int> pid = LockFilePid(folder + "/" + LockFileName(device));
        if (!pid) continue;
        if (*pid <= 0) return PortHolder{0, "", "lock file"};
        if (IsAlive(*pid)) return PortHolder{*pid, ProgramOf(*pid), "lock file"};
    }
    return std::nullopt;
}

// Every lock on the device node, flock or POSIX (told as "flock" alike), from
// /proc/locks:
// "1: FLOCK  ADVISORY  WRITE 1234 00:05:678 0 EOF" (major and minor in hex).
std::optional<PortHolder> NodeLockHolder(const struct stat& node) {
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string index, kind, mode, access, where;
        int pid = 0;
        if (!(fields >> index >> kind) || kind == "->") continue;
        if (!(fields >> mode >> access >> pid >> where)) continue;
        unsigned deviceMajor = 0;
        unsigned deviceMinor = 0;
        unsigned long inode = 0;
        if (std::sscanf(where.c_str(), "%x:%x:%lu", &deviceMajor, &deviceMinor, &inode) != 3) {
            continue;
        }
        if (makedev(deviceMajor, deviceMinor) == node.st_dev && inode == node.st_ino) {
            return pid > 0 ? PortHolder{pid, ProgramOf(pid), "flock"} : PortHolder{0, "", "flock"};
        }
    }
    return std::nullopt;
}

}  // namespace

bool IsAlive(int pid) { return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM); }

std::vector<std::string> DefaultLockFolders() { return {"/run/lock", "/var/lock"}; }

std::string LockFileName(const std::string& device) {
    std::string name = device.rfind("/dev/", 0) == 0 ? device.substr(5) : device;
    for (char& c : name) {
        if (c == '/') c = '_';
    }
    return kLockPrefix + name;
}

// Every descriptor of every process is looked at by what it leads to, relative
// to the folder already open: one call each. The folders are read in large
// batches straight from the kernel, as readdir would add calls and an
// allocation for each of hundreds of folders. Since Linux 6.2 a descriptor
// folder reports how many descriptors it lists as its size; kernel threads hold
// none and are passed over by that alone.
std::optional<PortHolder> FindOpener(const std::string& device) {
    struct stat node {};
    if (stat(device.c_str(), &node) != 0 || !S_ISCHR(node.st_mode)) return std::nullopt;
    const int processes = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (processes < 0) return std::nullopt;
    struct stat own {};
    const bool countsShown = fstatat(processes, "self/fd", &own, 0) == 0 && own.st_size > 0;
    const long self = getpid();
    std::optional<PortHolder> found;
    ForEachEntry(processes, kWholeBatch, [&](const char* name) {
        char* end = nullptr;
        const long pid = std::strtol(name, &end, 10);
        if (pid <= 0 || *end != '\0' || pid == self) return true;
        char folder[32];
        std::snprintf(folder, sizeof folder, "%ld/fd", pid);
        struct stat listing {};
        if (countsShown && (fstatat(processes, folder, &listing, 0) != 0 || listing.st_size == 0)) {
            return true;
        }
        const int descriptors = openat(processes, folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (descriptors < 0) return true;
        ForEachEntry(descriptors, kFirstDescriptors, [&](const char* descriptor) {
            if (descriptor[0] == '.') return true;
            struct stat opened {};
            if (fstatat(descriptors, descriptor, &opened, 0) != 0) {
                // Whether a process's descriptors may be looked at is decided for the
                // process as a whole: one refused means every one is.
                return errno != EACCES && errno != EPERM;
            }
            if (S_ISCHR(opened.st_mode) && opened.st_rdev == node.st_rdev) {
                found = PortHolder{static_cast<int>(pid), ProgramOf(static_cast<int>(pid)), "open"};
                return false;
            }
            return true;
        });
        close(descriptors);
        return !found;
    });
    close(processes);
    return found;
}

std::optional<PortHolder> FindHolder(const std::string& device,
                                     const std::vector<std::string>& lockFolders) {
    if (std::optional<PortHolder> holder = LockFileHolder(device, lockFolders)) return holder;
    struct stat node {};
    if (stat(device.c_str(), &node) == 0) {
        if (std::optional<PortHolder> holder = NodeLockHolder(node)) return holder;
    }
    return FindOpener(device);
}

PortDescription DescribePort(int n, const std::string& folder, bool systemPorts,
                             const std::string& ttyClassDir,
                             const std::vector<std::string>& lockFolders) {
    PortDescription description;
    description.number = n;
    description.origin = IsFolderEntry(n, folder) ? PortOrigin::Folder : PortOrigin::System;
    std::optional<std::string> device = ResolvePort(n, folder, systemPorts, ttyClassDir);
    if (!device) return description;
    description.device = *device;
    if ((description.holder = FindHolder(*device, lockFolders))) {
        description.state = PortState::Held;
    } else if (access(device->c_str(), R_OK | W_OK) == 0) {
        description.state = PortState::Free;
    } else {
        description.state = errno == ENOENT ? PortState::Missing : PortState::NotPermitted;
    }
    return description;
}

PortDescription DescribePort(int n, const std::string& folder, bool systemPorts) {
    return DescribePort(n, folder, systemPorts, kTtyClassDir, DefaultLockFolders());
}

// Our own lock file is made whole under a temporary name and linked into place,
// so that nobody ever reads it half-written; a stale one (dead PID) is replaced.
bool TakeLockFile(const std::string& device, const std::vector<std::string>& lockFolders,
                  std::string& path) {
    path.clear();
    const std::string pidText = std::to_string(getpid());
    const std::string content =
        std::string(10 - std::min<size_t>(10, pidText.size()), ' ') + pidText + "\n";
    for (const std::string& folder : lockFolders) {
        const std::string lock = folder + "/" + LockFileName(device);
        // One temporary name per port, as ports may be opened side by side.
        const std::string temporary = folder + "/LTMP." + pidText + "." + LockFileName(device);
        int fd =
            open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) continue;  // not ours to write: the other marks must do
        bool written =
            write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
        close(fd);
        bool placed = written && link(temporary.c_str(), lock.c_str()) == 0;
        bool taken = !placed && errno == EEXIST && LockFileHolder(device, {folder});
        if (written && !placed && !taken) placed = rename(temporary.c_str(), lock.c_str()) == 0;
        unlink(temporary.c_str());
        if (taken || (placed && LockFilePid(lock) != getpid())) return false;
        if (placed) path = lock;
        return true;
    }
    return true;
}

void ReleaseLockFile(const std::string& path) {
    if (LockFilePid(path) == getpid()) unlink(path.c_str());
}

}  // namespace comports
