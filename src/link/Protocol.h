#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// The facts of the reader's protocol that more than one layer needs: which
// COM numbers exist, the command letters, the fixed requests and the L frame.
namespace protocol {

// COM1..COM32 are the ports; the search is asked for numbers up to 48, of which
// 33 to 48 are refused before the system is asked.
inline constexpr int kFirstPort = 1;
inline constexpr int kLastPort = 32;
inline constexpr int kSearchHighestPort = 48;

// Command letters; a reply carries its request's letter with bit 7 set.
inline constexpr uint8_t kIdentify = 'M';
inline constexpr uint8_t kCardInField = 'T';
inline constexpr uint8_t kLeds = 'L';
inline constexpr uint8_t kReadConfig = 'c';
inline constexpr uint8_t kWriteConfig = 'C';
inline constexpr uint8_t kUpgradeBegin = 'Z';
inline constexpr uint8_t kUpgradeBlock = 'Y';
inline constexpr uint8_t kUpgradeSeal = 'y';
inline constexpr uint8_t kUpgradeFinish = 'z';
inline constexpr uint8_t ReplyTo(uint8_t command) { return static_cast<uint8_t>(command | 0x80); }

// What a command is called in messages ("the configuration write"); "command"
// for one the program does not send, whose letter the message shows beside it.
const char* CommandName(uint8_t command);

// What the identification reply carries, each field little-endian in this
// order: the type code, the serial number and the firmware version.
struct Identity {
    uint16_t typeCode = 0;
    uint16_t serialNumber = 0;
    uint16_t firmwareVersion = 0;
};
inline constexpr size_t kIdentityPayload = 6;
Identity DecodeIdentity(const uint8_t* payload);
// The model number shown to the user: (type code AND 0x3FF) modulo 100.
inline constexpr int ModelNumberOf(uint16_t typeCode) { return (typeCode & 0x3FF) % 100; }

// A request without payload (M, T and the like): 05 00, the letter, and the
// CRC-16 of those three bytes, filled in at every call.
using FixedRequest = std::array<uint8_t, 5>;
FixedRequest RequestWithoutPayload(uint8_t command);

// The L frame: length 8, 'L', the LED byte (2 green + 1 red), the time in tenths
// of a second (0: for good), the buzzer's eight 60 ms steps (bit i is step i),
// and the CRC-16 of the first six bytes.
using LFrame = std::array<uint8_t, 8>;
LFrame BuildLFrame(bool green, bool red, uint8_t time, uint8_t buzzer);

}  // namespace protocol
