#include "Replies.h"

#include <fmt/format.h>

#include "Catalogue.h"
#include "Frame.h"
#include "Protocol.h"

namespace cli {

namespace {

constexpr size_t kPayload = 3;  // after the length and the command byte

}  // namespace

std::string DescribeReply(const uint8_t* frame, size_t length, bool inRunLanguage) {
    const auto tr = [inRunLanguage](const char* english) {
        return inRunLanguage ? Tr(english) : english;
    };
    if (length < kFrameOverhead || !IsWholeFrame(frame, length)) return "";
    const size_t payload = length - kFrameOverhead;
    const uint8_t* p = frame + kPayload;
    switch (frame[2]) {
        case protocol::ReplyTo(protocol::kIdentify): {
            if (payload != protocol::kIdentityPayload) return "";
            const protocol::Identity reader = protocol::DecodeIdentity(p);
            return fmt::format(fmt::runtime(tr("ZANTOR-{} (type {}), serial {:05d}, firmware {}")),
                               protocol::ModelNumberOf(reader.typeCode), reader.typeCode,
                               reader.serialNumber, reader.firmwareVersion);
        }
        case protocol::ReplyTo(protocol::kCardInField):
            if (payload != 1) return "";
            return p[0] == 0 ? tr("no card in the field") : tr("a card in the field");
        case protocol::ReplyTo(protocol::kLeds):
            if (payload != 1) return "";
            return p[0] == 0
                       ? tr("LEDs and buzzer: done, status 0")
                       : fmt::format(fmt::runtime(tr("LEDs and buzzer: refused, status {}")), p[0]);
        default:
            return "";
    }
}

}  // namespace cli
