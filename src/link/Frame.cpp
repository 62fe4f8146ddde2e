#include "Frame.h"

#include <cstring>

#include "Crc.h"

size_t BuildFrameInto(uint8_t command, const uint8_t* payload, size_t size, uint8_t* out) {
    const size_t length = size + kFrameOverhead;
    out[0] = static_cast<uint8_t>(length & 0xFF);
    out[1] = static_cast<uint8_t>(length >> 8);
    out[2] = command;
    if (size > 0) std::memcpy(out + 3, payload, size);
    const uint16_t crc = Crc16(out, size + 3, 0xFFFF);
    out[size + 3] = static_cast<uint8_t>(crc & 0xFF);
    out[size + 4] = static_cast<uint8_t>(crc >> 8);
    return length;
}

std::vector<uint8_t> BuildFrame(uint8_t command, const uint8_t* payload, size_t size) {
    std::vector<uint8_t> frame(size + kFrameOverhead);
    BuildFrameInto(command, payload, size, frame.data());
    return frame;
}

bool IsWholeFrame(const uint8_t* bytes, size_t length) {
    if (length < kFrameOverhead) return false;
    const size_t declared = bytes[0] + 256u * bytes[1];
    return declared == length && Crc16(bytes, length, 0xFFFF) == 0;
}
