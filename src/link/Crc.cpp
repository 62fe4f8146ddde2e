#include "Crc.h"

uint16_t Crc16(const uint8_t* data, size_t length, uint16_t initial) {
    uint16_t crc = initial;
    for (size_t i = 0; i < length; ++i) {
        const uint16_t t = (data[i] ^ crc) & 0xFF;
        uint16_t parity = t;
        parity ^= parity >> 4;
        parity ^= parity >> 2;
        parity ^= parity >> 1;
        crc = static_cast<uint16_t>((crc >> 8) ^ (t << 7) ^ (t << 6) ^ ((parity & 1) ? 0xC001 : 0));
    }
    return crc;
}

uint32_t Crc32(const uint8_t* data, size_t length, uint32_t initial) {
    uint32_t crc = initial;
    for (size_t i = 0; i < length; ++i) {
        crc ^= static_cast<uint32_t>(data[i]) << 24;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
        }
    }
    return crc;
}
