#include "UartModel.h"

#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

int64_t NowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// One character at the port's rate and framing (start, data, parity, stop).
int64_t CharacterNs(int fd) {
    static constexpr struct {
        speed_t speed;
        int64_t baud;
    } kRates[] = {{B1200, 1200},   {B2400, 2400},   {B4800, 4800},   {B9600, 9600},
                  {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200}};
    termios t{};
    if (tcgetattr(fd, &t) != 0) return 0;
    int64_t baud = 0;
    for (const auto& rate : kRates) {
        if (rate.speed == cfgetospeed(&t)) baud = rate.baud;
    }
    if (baud == 0) return 0;
    static constexpr int64_t kDataBits[] = {5, 6, 7, 8};
    const tcflag_t size = t.c_cflag & CSIZE;
    const int64_t data = kDataBits[size == CS5 ? 0 : size == CS6 ? 1 : size == CS7 ? 2 : 3];
    const int64_t bits =
        1 + data + ((t.c_cflag & PARENB) != 0 ? 1 : 0) + ((t.c_cflag & CSTOPB) != 0 ? 2 : 1);
    return bits * 1'000'000'000 / baud;
}

}  // namespace

long UartModel::Write(int fd, const uint8_t* bytes, size_t count) {
    const ssize_t written = write(fd, bytes, count);
    if (written <= 0) return written;
    std::lock_guard<std::mutex> lock(mutex);
    Queue& queue = queues[fd];
    if (stuck) {
        queue.stuckBytes += written;
    } else {
        queue.emptyAtNs = std::max(queue.emptyAtNs, NowNs()) + written * CharacterNs(fd);
    }
    return written;
}

int UartModel::QueuedLocked(int fd) {
    const Queue& queue = queues[fd];
    if (stuck) return static_cast<int>(queue.stuckBytes);
    const int64_t left = queue.emptyAtNs - NowNs();
    const int64_t character = CharacterNs(fd);
    if (left <= 0 || character == 0) return 0;
    return static_cast<int>((left + character - 1) / character);
}

int UartModel::OutputQueued(int fd) {
    std::lock_guard<std::mutex> lock(mutex);
    return QueuedLocked(fd);
}

void UartModel::Discard(int fd) {
    std::lock_guard<std::mutex> lock(mutex);
    queues[fd] = Queue{};
    tcflush(fd, TCIOFLUSH);
}

void UartModel::Close(int fd) {
    const int64_t giveUpAt = NowNs() + kClosingWaitNs;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (QueuedLocked(fd) == 0 || NowNs() >= giveUpAt) {
                queues.erase(fd);
                break;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    close(fd);
}
