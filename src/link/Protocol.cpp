#include "Protocol.h"

#include "Crc.h"

namespace protocol {

namespace {

void PutCrc(uint8_t* frame, size_t covered) {
    const uint16_t crc = Crc16(frame, covered, 0xFFFF);
    frame[covered] = static_cast<uint8_t>(crc & 0xFF);
    frame[covered + 1] = static_cast<uint8_t>(crc >> 8);
}

}  // namespace

const char* CommandName(uint8_t command) {
    switch (command) {
        case kIdentify:
            return "identification";
        case kCardInField:
            return "card-in-field request";
        case kLeds:
            return "LED and buzzer command";
        case kReadConfig:
            return "configuration read";
        case kWriteConfig:
            return "configuration write";
        case kUpgradeBegin:
            return "upgrade start";
        case kUpgradeBlock:
            return "upgrade block";
        case kUpgradeSeal:
            return "upgrade seal";
        case kUpgradeFinish:
            return "upgrade finish";
        default:
            return "command";
    }
}

Identity DecodeIdentity(const uint8_t* payload) {
    const auto le16 = [payload](size_t at) {
        return static_cast<uint16_t>(payload[at] | payload[at + 1] << 8);
    };
    return {le16(0), le16(2), le16(4)};
}

FixedRequest RequestWithoutPayload(uint8_t command) {
    FixedRequest request{0x05, 0x00, command, 0x00, 0x00};
    PutCrc(request.data(), 3);
    return request;
}

LFrame BuildLFrame(bool green, bool red, uint8_t time, uint8_t buzzer) {
    LFrame frame{0x08, 0x00,   kLeds, static_cast<uint8_t>((green ? 2 : 0) + (red ? 1 : 0)),
                 time, buzzer, 0x00,  0x00};
    PutCrc(frame.data(), 6);
    return frame;
}

}  // namespace protocol
