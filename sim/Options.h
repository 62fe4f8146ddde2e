#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

// Everything the emulator takes from its command line.
struct SimOptions {
    int port = 0;        // COM number to register, 1..32
    std::string folder;  // port folder; empty: the per-user folder

    uint16_t typeCode = 1064;
    uint16_t serialNumber = 313;
    uint16_t firmwareVersion = 7;
    std::array<uint8_t, 8> config = {0x01, 0xC0, 0x05, 0x03, 0x60, 0x00, 0x03, 0x00};
    // The upgrade image the reader expects to receive (empty: any), read from
    // the file named by imagePath.
    std::string imagePath;
    std::vector<uint8_t> image;

    std::vector<uint8_t> card = {0x01, 0x23, 0x45, 0x67, 0x89};
    double cardEverySeconds = 0;  // 0: no periodic card
    bool readStdin = true;

    bool pacing = true;
    uint32_t replyDelayMs = 2;
    std::map<uint8_t, uint32_t> replyDelayFor;  // command letter -> ms
    bool trace = false;

    uint64_t vanishAfter = 0;              // 0: never
    std::set<uint64_t> ignoreRequests;     // 1-based numbers of received requests
    std::map<uint8_t, uint8_t> statusFor;  // command letter -> status sent instead
    unsigned interleave = 0;
    // Bytes sent just before each reply (line noise, the tail of a frame).
    std::vector<uint8_t> beforeReply;
    // The line gives back every request before the reply (a half-duplex line).
    bool echo = false;
    bool flood = false;
    // Frames to receive before the flood starts (0: from the start, with flood).
    unsigned floodAfter = 0;
};

enum class ParseOutcome { kRun, kHelp, kVersion, kError };

// Fills options from argv. message: for kHelp and kVersion the text for
// standard output, for kError what is wrong.
ParseOutcome ParseOptions(int argc, const char* const* argv, SimOptions& options,
                          std::string& message);

// Hex digits, two per byte, spaces allowed: a card number of 1 to 8 bytes.
bool ParseCardNumber(const std::string& text, std::vector<uint8_t>& card);
