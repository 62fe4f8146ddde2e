#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <vector>

#include "ReaderState.h"
#include "Trace.h"

// Byte timing of a 19200 baud 8-N-1 line: 10 bits, about 0.52 ms, per byte.
// Times are absolute (ns, monotonic) and computed from the start of a run of
// back-to-back bytes, so late wake-ups never add up to a slower line.
class LineClock {
public:
    // Time by which bytes back-to-back from start have all arrived.
    static int64_t Span(int64_t count) { return count * 1562500 / 3; }

    // Takes the line for one byte that may start no earlier than notBefore;
    // returns when that byte has fully arrived at the other end.
    int64_t Reserve(int64_t notBefore);
    // When the last byte taken has arrived.
    int64_t FreeAt() const { return started ? runStart + Span(runBytes) : 0; }

private:
    bool started = false;
    int64_t runStart = 0;
    int64_t runBytes = 0;
};

// Bytes from the program on their way over the line: each becomes visible to the
// reader only once its wire time has passed.
class InboundLine {
public:
    explicit InboundLine(bool paced) : paced(paced) {}

    // Bytes that the program wrote, read from the master at now.
    void Arrive(const uint8_t* bytes, size_t size, int64_t now);
    // Calls take(byte, arrivedAt) for every byte that has arrived by now.
    template <typename Take>
    void Deliver(int64_t now, Take take) {
        while (!inFlight.empty() && inFlight.front().at <= now) {
            take(inFlight.front().value, inFlight.front().at);
            inFlight.pop_front();
        }
    }
    std::optional<int64_t> NextArrival() const;
    bool Empty() const { return inFlight.empty(); }
    // More bytes are under way than a reader's input buffer holds: the master
    // is not read until they have arrived, so the program's writes wait.
    bool Full() const { return inFlight.size() >= kCapacity; }

private:
    static constexpr size_t kCapacity = 4096;
    struct TimedByte {
        uint8_t value;
        int64_t at;
    };
    bool paced;
    LineClock clock;
    std::deque<TimedByte> inFlight;
};

// The reader's output: transmissions leave in order at the line rate; each is
// traced as "TX" when its first byte starts. Writes that the master cannot take
// (nobody reading the port) are lost, as on a wire nobody listens to.
class Transmitter {
public:
    Transmitter(bool paced, bool flood, const Trace& trace);
    // Random bytes fill the line from now on, after what is already queued.
    void StartFlood() { flood = true; }

    // False when the reader's output buffer is full and the bytes are lost.
    bool Queue(Transmission transmission);
    // Sends every byte due by now; with nobody listening on the port the bytes
    // are lost. False when the master failed.
    bool Service(int master, bool listened, int64_t now);
    std::optional<int64_t> NextDue() const;
    // Whether the byte due next is the last of a transmission.
    bool NextEndsTransmission() const;
    // True while anything but flood bytes waits or is under way.
    bool Busy() const;

private:
    struct Segment {
        std::vector<uint8_t> bytes;
        int64_t notBefore;
        bool filler;  // a flood byte: not traced, not waited for
    };
    void ReserveHead(int64_t now);

    static constexpr size_t kCapacity = 65536;
    bool paced;
    bool flood;
    const Trace& trace;
    LineClock clock;
    std::deque<Segment> queue;
    size_t queuedBytes = 0;
    size_t offset = 0;               // next byte of the head segment
    std::optional<int64_t> headDue;  // arrival time of that byte, once reserved
    std::minstd_rand noise;
};
