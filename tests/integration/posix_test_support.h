#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

// Helpers for the tests of the POSIX serial services on pseudo-terminals. Every
// test gets its own folder (tests may run in parallel) and never a real port.
namespace posix_test {

// A private folder under /tmp, mode 0700 as mkdtemp makes it, removed with its
// entries at the end (links are removed, never followed).
class TempFolder {
public:
    explicit TempFolder(const char* stem = "zantor_posix_test") {
        std::string pattern = std::string("/tmp/") + stem + ".XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) path = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string Entry(int n) const { return path + "/com" + std::to_string(n); }
    bool Link(int n, const std::string& target) const {
        return symlink(target.c_str(), Entry(n).c_str()) == 0;
    }

    std::string path;
};

// A pseudo-terminal pair; the test plays the device on the master side and, as
// a device on a real line, holds nothing else.
class Pty {
public:
    Pty() {
        char name[128] = {};
        int slave = -1;
        if (openpty(&master, &slave, name, nullptr, nullptr) == 0) {
            slavePath = name;
            close(slave);
        }
    }
    ~Pty() { CloseMaster(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool Ok() const { return master >= 0 && !slavePath.empty(); }
    void CloseMaster() {
        if (master >= 0) close(master);
        master = -1;
    }
    bool WriteMaster(const std::vector<uint8_t>& bytes) const {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = write(master, bytes.data() + done, bytes.size() - done);
            if (n <= 0) return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }
    // What the device side receives within timeoutMs, up to count bytes.
    std::vector<uint8_t> ReadMaster(size_t count, int timeoutMs) const {
        std::vector<uint8_t> bytes;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (bytes.size() < count) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd request{master, POLLIN, 0};
            if (left.count() <= 0 || poll(&request, 1, static_cast<int>(left.count())) <= 0) break;
            uint8_t chunk[512];
            ssize_t n = read(master, chunk, std::min(sizeof chunk, count - bytes.size()));
            if (n <= 0) break;
            bytes.insert(bytes.end(), chunk, chunk + n);
        }
        return bytes;
    }

    int master = -1;
    std::string slavePath;
};

inline std::vector<uint8_t> AllByteValues() {
    std::vector<uint8_t> bytes(256);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
    return bytes;
}

class Stopwatch {
public:
    long long ElapsedMs() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - start)
            .count();
    }

private:
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};

}  // namespace posix_test
