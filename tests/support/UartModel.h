#pragma once

#include <cstdint>
#include <map>
#include <mutex>

#include "PosixSerialServices.h"

// A UART over a pseudo-terminal, for the POSIX serial services: the bytes reach
// the other side at once, as on any pseudo-terminal, but the output queue reads
// as a UART's would, draining one character at a time at the rate and framing
// set on the port. Stuck, nothing ever leaves (an adapter that stalled, flow
// control held off by the other side). As the kernel's serial driver does,
// closing waits for the queue to drain, for up to the closing wait, unless it
// was discarded first.
class UartModel : public TtyDriver {
public:
    explicit UartModel(bool stuck = false) : stuck(stuck) {}

    long Write(int fd, const uint8_t* bytes, size_t count) override;
    int OutputQueued(int fd) override;
    void Discard(int fd) override;
    void Close(int fd) override;

    static constexpr int64_t kClosingWaitNs = 30'000'000'000;

private:
    struct Queue {
        int64_t emptyAtNs = 0;  // when the last character written has left
        int64_t stuckBytes = 0;
    };
    int QueuedLocked(int fd);

    bool stuck;
    std::mutex mutex;
    std::map<int, Queue> queues;
};
