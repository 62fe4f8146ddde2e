#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

// A whole request frame and the time (ns, monotonic) its last byte arrived.
struct ReceivedFrame {
    std::vector<uint8_t> bytes;
    int64_t at = 0;
};

// The reader's receiver: cuts the incoming byte stream into whole frames (length
// field, CRC-16). Bytes that cannot begin a frame are dropped one at a time, so
// a frame that follows garbage is still found. A partial frame waits for more
// bytes until the line falls idle; then it cannot complete any more, and what
// it holds is searched again from its second byte on.
class FrameReceiver {
public:
    // The longest request frame: 536 payload bytes.
    static constexpr size_t kMaxFrame = 541;

    // One byte that finished arriving at time at.
    void Push(uint8_t byte, int64_t at, std::vector<ReceivedFrame>& frames,
              std::vector<uint8_t>& dropped);
    // The line has been idle since the last byte.
    void Idle(std::vector<ReceivedFrame>& frames, std::vector<uint8_t>& dropped);

    bool HasPartial() const { return !pending.empty(); }
    int64_t LastByteAt() const { return lastByteAt; }

private:
    void Scan(bool idle, std::vector<ReceivedFrame>& frames, std::vector<uint8_t>& dropped);
    void DropFront(std::vector<uint8_t>& dropped);

    struct TimedByte {
        uint8_t value;
        int64_t at;
    };
    std::deque<TimedByte> pending;
    int64_t lastByteAt = 0;
};
