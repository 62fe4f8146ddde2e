#include "FrameReceiver.h"

#include "Frame.h"

void FrameReceiver::Push(uint8_t byte, int64_t at, std::vector<ReceivedFrame>& frames,
                         std::vector<uint8_t>& dropped) {
    pending.push_back({byte, at});
    lastByteAt = at;
    Scan(false, frames, dropped);
}

void FrameReceiver::Idle(std::vector<ReceivedFrame>& frames, std::vector<uint8_t>& dropped) {
    Scan(true, frames, dropped);
}

void FrameReceiver::DropFront(std::vector<uint8_t>& dropped) {
    dropped.push_back(pending.front().value);
    pending.pop_front();
}

void FrameReceiver::Scan(bool idle, std::vector<ReceivedFrame>& frames,
                         std::vector<uint8_t>& dropped) {
    while (!pending.empty()) {
        if (pending.size() < 2) {
            if (idle) DropFront(dropped);
            return;
        }
        const size_t length = pending[0].value + 256u * pending[1].value;
        if (length < kFrameOverhead || length > kMaxFrame) {
            DropFront(dropped);
            continue;
        }
        if (pending.size() < length) {
            if (!idle) return;
            DropFront(dropped);
            continue;
        }
        std::vector<uint8_t> candidate(length);
        for (size_t i = 0; i < length; ++i) candidate[i] = pending[i].value;
        if (!IsWholeFrame(candidate.data(), length)) {
            DropFront(dropped);
            continue;
        }
        const int64_t at = pending[length - 1].at;
        pending.erase(pending.begin(), pending.begin() + static_cast<ptrdiff_t>(length));
        frames.push_back({std::move(candidate), at});
    }
}
