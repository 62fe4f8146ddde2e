#include "Line.h"

#include <unistd.h>

#include <cerrno>

namespace {

// A flood byte continues the run of bytes on the line unless the emulator woke
// this late; then the run starts afresh instead of catching up in a burst.
constexpr int64_t kFloodCatchUpNs = 5000000;

}  // namespace

int64_t LineClock::Reserve(int64_t notBefore) {
    if (!started || notBefore > FreeAt()) {
        started = true;
        runStart = notBefore;
        runBytes = 0;
    }
    ++runBytes;
    return FreeAt();
}

void InboundLine::Arrive(const uint8_t* bytes, size_t size, int64_t now) {
    for (size_t i = 0; i < size; ++i) {
        inFlight.push_back({bytes[i], paced ? clock.Reserve(now) : now});
    }
}

std::optional<int64_t> InboundLine::NextArrival() const {
    if (inFlight.empty()) return std::nullopt;
    return inFlight.front().at;
}

Transmitter::Transmitter(bool paced, bool flood, const Trace& trace)
    : paced(paced), flood(flood), trace(trace), noise(std::random_device{}()) {}

bool Transmitter::Queue(Transmission transmission) {
    if (transmission.bytes.empty()) return true;
    if (queuedBytes + transmission.bytes.size() > kCapacity) return false;
    queuedBytes += transmission.bytes.size();
    queue.push_back({std::move(transmission.bytes), transmission.notBefore, false});
    return true;
}

void Transmitter::ReserveHead(int64_t now) {
    const Segment& head = queue.front();
    // Flood bytes keep the line rate even without pacing, or they would never
    // leave room for anything else.
    if (!head.filler && !paced) {
        headDue = head.notBefore;
        return;
    }
    int64_t notBefore = head.notBefore;
    if (head.filler) {
        notBefore = clock.FreeAt() >= now - kFloodCatchUpNs ? clock.FreeAt() : now;
    }
    headDue = clock.Reserve(notBefore);
}

bool Transmitter::Service(int master, bool listened, int64_t now) {
    std::vector<uint8_t> out;
    for (;;) {
        if (queue.empty()) {
            if (!flood) break;
            queue.push_back({{static_cast<uint8_t>(noise())}, now, true});
        }
        if (!headDue) ReserveHead(now);
        if (*headDue > now) break;
        const Segment& head = queue.front();
        if (offset == 0 && !head.filler) {
            const int64_t start = paced ? *headDue - LineClock::Span(1) : *headDue;
            trace.Bytes(start, "TX", head.bytes.data(), head.bytes.size());
        }
        out.push_back(head.bytes[offset++]);
        headDue.reset();
        if (offset == head.bytes.size()) {
            if (!head.filler) queuedBytes -= head.bytes.size();
            queue.pop_front();
            offset = 0;
        }
    }
    if (out.empty() || !listened) return true;
    // EIO: the last program closed the port a moment ago; the bytes are lost.
    const ssize_t written = write(master, out.data(), out.size());
    return written >= 0 || errno == EAGAIN || errno == EINTR || errno == EIO;
}

std::optional<int64_t> Transmitter::NextDue() const {
    if (headDue || queue.empty()) return headDue;
    return queue.front().notBefore;
}

bool Transmitter::NextEndsTransmission() const {
    return headDue && !queue.front().filler && offset + 1 == queue.front().bytes.size();
}

bool Transmitter::Busy() const {
    for (const Segment& segment : queue) {
        if (!segment.filler) return true;
    }
    return false;
}
