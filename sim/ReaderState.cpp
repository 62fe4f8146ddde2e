#include "ReaderState.h"

#include <cstdio>

#include "CardFormat.h"
#include "Crc.h"
#include "Frame.h"
#include "Protocol.h"

namespace {

constexpr int64_t kNsPerMs = 1000000;
// How long a presented card stays in the field, as 'T' reports it.
constexpr int64_t kCardDwellNs = 1000 * kNsPerMs;

// Payload size of every request the reader knows.
const std::map<uint8_t, size_t>& PayloadSizes() {
    static const std::map<uint8_t, size_t> sizes = {
        {'M', 0}, {'c', 0}, {'C', 12}, {'Z', 16}, {'Y', 522},
        {'y', 8}, {'z', 0}, {'T', 0},  {'L', 3},
    };
    return sizes;
}

void PutLe16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

std::string HexText(const uint8_t* bytes, size_t size) {
    std::string text;
    char digits[4];
    for (size_t i = 0; i < size; ++i) {
        std::snprintf(digits, sizeof digits, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += digits;
    }
    return text;
}

std::string CommandName(uint8_t command) {
    char name[8];
    if (command >= 0x20 && command < 0x7F) {
        std::snprintf(name, sizeof name, "'%c'", command);
    } else {
        std::snprintf(name, sizeof name, "0x%02X", command);
    }
    return name;
}

}  // namespace

ReaderState::ReaderState(const SimOptions& options)
    : options(options),
      firmwareVersion(options.firmwareVersion),
      config(options.config),
      upgrade(options.typeCode, options.serialNumber, options.image) {}

bool ReaderState::CardInField(int64_t at) const {
    return lastCardAt && at - *lastCardAt < kCardDwellNs;
}

std::optional<std::vector<uint8_t>> ReaderState::Answer(uint8_t command, const uint8_t* payload,
                                                        size_t size, int64_t at,
                                                        std::vector<std::string>& notes) {
    const auto known = PayloadSizes().find(command);
    if (known == PayloadSizes().end()) {
        notes.push_back("unknown command " + CommandName(command) + " ignored");
        return std::nullopt;
    }
    if (known->second != size) {
        notes.push_back(CommandName(command) + " with " + std::to_string(size) +
                        " payload bytes ignored");
        return std::nullopt;
    }
    const auto forced = options.statusFor.find(command);
    const std::optional<uint8_t> override =
        forced == options.statusFor.end() ? std::nullopt : std::optional<uint8_t>(forced->second);
    const uint8_t status = override.value_or(0);

    switch (command) {
        case 'M': {
            if (override) return std::vector<uint8_t>{*override};
            std::vector<uint8_t> identity;
            PutLe16(identity, options.typeCode);
            PutLe16(identity, options.serialNumber);
            PutLe16(identity, firmwareVersion);
            return identity;
        }
        case 'c':
            if (override) return std::vector<uint8_t>{*override};
            return std::vector<uint8_t>(config.begin(), config.end());
        case 'C': {
            const uint32_t seal =
                static_cast<uint32_t>(payload[8]) | static_cast<uint32_t>(payload[9]) << 8 |
                static_cast<uint32_t>(payload[10]) << 16 | static_cast<uint32_t>(payload[11]) << 24;
            const bool sealed = Crc32(payload, 8, 0xFFFFFFFF) == seal;
            if (!sealed) notes.push_back("configuration seal wrong");
            const uint8_t answer = override.value_or(sealed ? 0 : 1);
            if (sealed && answer == 0) {
                std::copy(payload, payload + 8, config.begin());
                notes.push_back("configuration now " + HexText(config.data(), config.size()));
            }
            return std::vector<uint8_t>{answer};
        }
        case 'Z':
        case 'Y':
        case 'y':
        case 'z': {
            // A forced refusal has no effect; a forced 0 hides the reader's own answer.
            if (status != 0) return std::vector<uint8_t>{status};
            const uint8_t own = UpgradeStep(command, payload, notes);
            return std::vector<uint8_t>{override ? status : own};
        }
        case 'T':
            return std::vector<uint8_t>{override.value_or(CardInField(at) ? 1 : 0)};
        case 'L': {
            char text[64];
            std::snprintf(text, sizeof text, "LEDs %u, time %u, buzzer %02X", payload[0],
                          payload[1], payload[2]);
            notes.push_back(text);
            return std::vector<uint8_t>{status};
        }
        default:
            return std::nullopt;
    }
}

uint8_t ReaderState::UpgradeStep(uint8_t command, const uint8_t* payload,
                                 std::vector<std::string>& notes) {
    std::string note;
    uint8_t status = 0;
    switch (command) {
        case 'Z':
            status = upgrade.Begin(payload, note);
            break;
        case 'Y':
            status = upgrade.Block(payload, note);
            break;
        case 'y':
            status = upgrade.Seal(payload, note);
            break;
        default: {
            std::optional<uint16_t> newVersion;
            status = upgrade.Finish(newVersion, note);
            if (newVersion) firmwareVersion = *newVersion;
            break;
        }
    }
    notes.push_back(note);
    return status;
}

Response ReaderState::OnFrame(const std::vector<uint8_t>& frame, int64_t at) {
    Response response;
    if (options.echo) response.sends.push_back({frame, at});
    const uint64_t number = ++framesReceived;
    if (options.ignoreRequests.count(number) != 0) {
        response.notes.push_back("frame " + std::to_string(number) + " ignored");
        return response;
    }
    const uint8_t command = frame[2];
    const std::optional<std::vector<uint8_t>> payload =
        Answer(command, frame.data() + 3, frame.size() - kFrameOverhead, at, response.notes);
    if (!payload) return response;

    const auto special = options.replyDelayFor.find(command);
    const uint32_t delayMs =
        special == options.replyDelayFor.end() ? options.replyDelayMs : special->second;
    const int64_t notBefore = at + delayMs * kNsPerMs;
    for (unsigned i = 0; i < options.interleave; ++i) {
        response.sends.push_back({CardFrame(options.card), notBefore});
    }
    if (!options.beforeReply.empty()) response.sends.push_back({options.beforeReply, notBefore});
    response.sends.push_back(
        {BuildFrame(protocol::ReplyTo(command), payload->data(), payload->size()), notBefore});
    return response;
}

Response ReaderState::PresentCard(const std::vector<uint8_t>& card, int64_t at) {
    Response response;
    lastCardAt = at;
    std::vector<uint8_t> output = FormatCard(config, card);
    if (output.empty()) {
        response.notes.push_back("card " + HexText(card.data(), card.size()) +
                                 " in the field; this mode sends nothing on the line");
        return response;
    }
    response.notes.push_back("card " + HexText(card.data(), card.size()));
    response.sends.push_back({std::move(output), at});
    return response;
}
