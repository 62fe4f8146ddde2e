#pragma once

#include <cstddef>
#include <cstdint>

// CRC-16/MODBUS (reflected 0xA001, no final XOR), without a table. Appending the
// result little-endian makes the CRC over the whole frame 0.
uint16_t Crc16(const uint8_t* data, size_t length, uint16_t initial);

// CRC-32/MPEG-2 (0x04C11DB7, MSB first, no final XOR), bit by bit.
uint32_t Crc32(const uint8_t* data, size_t length, uint32_t initial);
