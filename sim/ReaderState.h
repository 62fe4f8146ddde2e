#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Options.h"
#include "UpgradeSession.h"

// Bytes to send and the earliest time (ns, monotonic) they may start on the line.
struct Transmission {
    std::vector<uint8_t> bytes;
    int64_t notBefore = 0;
};

// What the reader does about one received frame: what it sends, and a few words
// for the trace (empty when there is nothing to say).
struct Response {
    std::vector<Transmission> sends;
    std::vector<std::string> notes;
};

// The reader behind the line: its identity, configuration and upgrade state, the
// answers to the command table, card presentations, and the faults it was told
// to show. Pure logic: times come in as arguments.
class ReaderState {
public:
    explicit ReaderState(const SimOptions& options);

    // A whole, valid request frame whose last byte arrived at time at.
    Response OnFrame(const std::vector<uint8_t>& frame, int64_t at);
    // The card comes into the field at time at.
    Response PresentCard(const std::vector<uint8_t>& card, int64_t at);

    uint64_t FramesReceived() const { return framesReceived; }
    const std::array<uint8_t, 8>& Config() const { return config; }
    uint16_t FirmwareVersion() const { return firmwareVersion; }

private:
    // The reply payload and the notes for one command; nothing when the reader
    // ignores the request.
    std::optional<std::vector<uint8_t>> Answer(uint8_t command, const uint8_t* payload, size_t size,
                                               int64_t at, std::vector<std::string>& notes);
    bool CardInField(int64_t at) const;
    uint8_t UpgradeStep(uint8_t command, const uint8_t* payload, std::vector<std::string>& notes);

    const SimOptions& options;
    uint16_t firmwareVersion;
    std::array<uint8_t, 8> config;
    UpgradeSession upgrade;
    std::optional<int64_t> lastCardAt;
    uint64_t framesReceived = 0;
};
