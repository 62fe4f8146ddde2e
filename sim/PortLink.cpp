#include "PortLink.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "ComPorts.h"

namespace {

std::string Failure(const std::string& what) { return what + ": " + std::strerror(errno); }

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

PortLink::PortLink(std::string folder, int port) : folder(std::move(folder)), port(port) {
    while (this->folder.size() > 1 && this->folder.back() == '/') this->folder.pop_back();
}

PortLink::~PortLink() { Remove(); }

std::string PortLink::LinkPath() const { return folder + "/com" + std::to_string(port); }

std::string PortLink::LockPath() const { return LinkPath() + ".pid"; }

bool PortLink::Claim(std::string& error) {
    struct stat info {};
    if (lstat(folder.c_str(), &info) != 0) {
        if (errno != ENOENT) {
            error = Failure(folder);
            return false;
        }
        if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            error = Failure("creating " + folder);
            return false;
        }
        // The umask may have taken bits away, never added them; make it exact.
        if (lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == getuid()) {
            chmod(folder.c_str(), 0700);
        }
    }
    if (!comports::IsTrustedFolder(folder)) {
        error = folder +
                " is not a private folder of this user (a directory, not a link, owned by "
                "uid " +
                std::to_string(getuid()) + ", without group or other permissions)";
        return false;
    }
    if (!TakeLock(error)) return false;

    const std::string link = LinkPath();
    if (lstat(link.c_str(), &info) == 0) {
        if (!S_ISLNK(info.st_mode)) {
            error = link + " exists and is not a link; leaving it alone";
            Remove();
            return false;
        }
        char target[4096];
        const ssize_t size = readlink(link.c_str(), target, sizeof target - 1);
        target[size < 0 ? 0 : size] = '\0';
        std::fprintf(stderr, "zantor_sim: replacing %s -> %s (no running owner)\n", link.c_str(),
                     target);
    }
    return true;
}

bool PortLink::TakeLock(std::string& error) {
    const std::string path = LockPath();
    // An emulator that ends unlinks its lock file; one that opened the old file
    // just before may then lock an orphan, so the lock counts only while the
    // path still names the locked file.
    for (int attempt = 0; attempt < 10; ++attempt) {
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            error = Failure(path);
            return false;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int cause = errno;
            char owner[32] = {};
            const ssize_t size = pread(fd, owner, sizeof owner - 1, 0);
            owner[size < 0 ? 0 : size] = '\0';
            if (char* end = std::strchr(owner, '\n')) *end = '\0';
            close(fd);
            if (cause == EWOULDBLOCK) {
                error = "COM" + std::to_string(port) + " is held by another running emulator" +
                        (owner[0] != '\0' ? std::string(" (pid ") + owner + ")" : std::string());
            } else {
                error = "locking " + path + ": " + std::strerror(cause);
            }
            return false;
        }
        struct stat locked {};
        struct stat named {};
        if (fstat(fd, &locked) == 0 && lstat(path.c_str(), &named) == 0 &&
            SameFile(locked, named)) {
            const std::string pid = std::to_string(getpid()) + "\n";
            if (ftruncate(fd, 0) != 0 ||
                pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
                error = Failure("writing " + path);
                close(fd);
                return false;
            }
            lockFd = fd;
            return true;
        }
        close(fd);
    }
    error = "could not lock " + path;
    return false;
}

bool PortLink::Publish(const std::string& target, std::string& error) {
    const std::string link = LinkPath();
    const std::string temporary =
        folder + "/.com" + std::to_string(port) + "." + std::to_string(getpid()) + ".tmp";
    unlink(temporary.c_str());
    if (symlink(target.c_str(), temporary.c_str()) != 0) {
        error = Failure("linking " + temporary);
        return false;
    }
    if (rename(temporary.c_str(), link.c_str()) != 0) {
        error = Failure("renaming to " + link);
        unlink(temporary.c_str());
        return false;
    }
    device = target;
    return true;
}

void PortLink::Remove() {
    if (!device.empty()) {
        const std::string link = LinkPath();
        char target[4096];
        const ssize_t size = readlink(link.c_str(), target, sizeof target - 1);
        if (size >= 0 && std::string(target, static_cast<size_t>(size)) == device) {
            unlink(link.c_str());
        }
        device.clear();
    }
    if (lockFd >= 0) {
        struct stat locked {};
        struct stat named {};
        const std::string path = LockPath();
        if (fstat(lockFd, &locked) == 0 && lstat(path.c_str(), &named) == 0 &&
            SameFile(locked, named)) {
            unlink(path.c_str());
        }
        close(lockFd);
        lockFd = -1;
    }
}
