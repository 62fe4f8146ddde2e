#include "Zantor50.h"

#include <algorithm>
#include <cstring>

#include "Crc.h"
#include "Frame.h"

namespace {

using namespace protocol;

constexpr int kTransactAttempts = 3;
constexpr int kIdentifyAttempts = 2;
constexpr size_t kIdentifyReplyLength = kIdentityPayload + kFrameOverhead;
constexpr uint32_t kWriteConfigExtraMs = 100;

void PutLe16(uint8_t* out, uint16_t value) {
    out[0] = static_cast<uint8_t>(value & 0xFF);
    out[1] = static_cast<uint8_t>(value >> 8);
}

}  // namespace

Zantor50::Zantor50(SerialServices& services) : RS232(services) {}

bool Zantor50::SelectPort(int n) {
    if (n == OpenPortNumber()) return true;
    unclaimed.clear();  // what another opening left unread belongs to nobody now
    if (!OpenPort(n, kBaud, kLineFormat, kModemControl, kQueueSize, kQueueSize)) return false;
    services.Sleep(kOpenSettleMs);
    return true;
}

size_t Zantor50::ReceiveFrame(uint8_t replyCommand, size_t expectedSize, uint8_t* destination,
                              uint32_t extraMs) {
    uint8_t buffer[kMaxReplyLength] = {};
    size_t have = 0;        // bytes held in buffer, from its start
    size_t passed = 0;      // bytes passed over that began no frame
    bool cutShort = false;  // a read ended with the line silent
    const uint64_t started = services.NowMs();
    for (;;) {
        if (have < 2) {
            // The line fell silent already: no length field can follow.
            if (cutShort) break;
            // The extra allowance covers only the wait for the length field; the
            // rest of the frame runs under the base timeouts.
            if (extraMs != 0 && OpenPortNumber() != 0 && !SetReadTimeout(extraMs)) ClosePort();
            have += ReadBytes(2 - have, buffer + have);
            if (extraMs != 0 && OpenPortNumber() != 0 && !SetReadTimeout(0)) ClosePort();
            if (have < 2) break;
        }
        const size_t length = buffer[0] + 256u * buffer[1];
        if (length >= kMinReplyLength && length <= kMaxReplyLength) {
            if (have < length && !cutShort) {
                have += ReadBytes(length - have, buffer + have);
                cutShort = have < length;
            }
            // What two stray bytes announced never came, yet the reply may sit
            // in the bytes held: once the line is silent the search goes on
            // through them, past the first, without waiting any longer.
            if (have >= length && Crc16(buffer, length, 0xFFFF) == 0) {
                if (buffer[2] == replyCommand) {
                    std::memcpy(destination, buffer + 3,
                                std::min(expectedSize, kMaxReplyLength - 3));
                    SetAside(buffer + length, have - length);
                    return length;
                }
                // A frame of another command (the echo of our own request on a
                // line that echoes) is dropped, but a device that keeps sending
                // them must not hold the program for ever.
                have -= length;
                std::memmove(buffer, buffer + length, have);
                if (services.NowMs() - started >= kReceiveLimitMs) break;
                continue;
            }
        }
        // No frame begins here: card text, or what is left of a frame. The reply
        // may follow it, so the search goes on one byte further, as long as an
        // input queue's worth of such bytes has not been passed over.
        PassOver(buffer, have, 1);
        if (++passed > kQueueSize || services.NowMs() - started >= kReceiveLimitMs) break;
    }
    // Nothing, or whole frames of other commands only: silence. Anything else
    // came back but was no whole frame.
    lastReception = passed > 0 || have > 0 ? Reception::Invalid : Reception::Silent;
    SetAside(buffer, have);
    return 0;
}

void Zantor50::SetAside(const uint8_t* bytes, size_t count) {
    unclaimed.insert(unclaimed.end(), bytes, bytes + count);
    if (unclaimed.size() > kPollSize) {
        unclaimed.erase(unclaimed.begin(), unclaimed.end() - static_cast<ptrdiff_t>(kPollSize));
    }
}

void Zantor50::PassOver(uint8_t* buffer, size_t& have, size_t count) {
    SetAside(buffer, count);
    have -= count;
    std::memmove(buffer, buffer + count, have);
}

size_t Zantor50::Transact(uint8_t command, size_t size, const uint8_t* payload, size_t expectedSize,
                          uint8_t* destination, uint32_t extraMs) {
    if (size > kMaxRequestPayload) return 0;
    uint8_t request[kMaxRequestPayload + kFrameOverhead];
    const size_t length = BuildFrameInto(command, payload, size, request);
    bool invalid = false;
    for (int attempt = 0; attempt < kTransactAttempts; ++attempt) {
        WriteBytes(length, request);
        const size_t received = ReceiveFrame(ReplyTo(command), expectedSize, destination, extraMs);
        if (received != 0) return received - kFrameOverhead;
        invalid = invalid || lastReception == Reception::Invalid;
    }
    ThrowFailed(command, kTransactAttempts, invalid);
}

// The attempts are over: the port tells whether it was lost, else whether
// anything came back at all.
void Zantor50::ThrowFailed(uint8_t command, int attempts, bool invalid) const {
    if (OpenPortNumber() == 0) {
        throw LastWriteWasShort() ? CommErr::ShortWrite(command) : CommErr::PortClosed(command);
    }
    throw invalid ? CommErr::InvalidFrame(command, attempts) : CommErr::NoReply(command, attempts);
}

void Zantor50::TransactStatus(uint8_t command, size_t size, const uint8_t* payload,
                              uint32_t extraMs) {
    if (size > kMaxRequestPayload) throw CommErr::RequestTooLong(command, size);
    uint8_t status = 0xFF;
    const size_t received = Transact(command, size, payload, 1, &status, extraMs);
    if (received != 1) throw CommErr::UnexpectedReply(command, received, 1);
    if (status != 0) throw CommErr::Refused(command, status);
}

bool Zantor50::Identify() {
    const FixedRequest request = RequestWithoutPayload(kIdentify);
    for (int attempt = 0; attempt < kIdentifyAttempts; ++attempt) {
        WriteBytes(request.size(), request.data());
        uint8_t reply[kIdentityPayload];
        if (ReceiveFrame(ReplyTo(kIdentify), sizeof reply, reply, 0) == kIdentifyReplyLength) {
            const Identity identity = DecodeIdentity(reply);
            typeCode = identity.typeCode;
            serialNumber = identity.serialNumber;
            firmwareVersion = identity.firmwareVersion;
            return true;
        }
    }
    return false;
}

bool Zantor50::FindReader(int highest) {
    bool tried = false;
    if (OpenPortNumber() != 0) {
        tried = true;
    } else if (lastFoundPort != 0) {
        tried = SelectPort(lastFoundPort);
    }
    if (tried) {
        if (Identify()) return true;
        ClosePort();
    }
    for (int n = 1; n <= highest; ++n) {
        if (n == lastFoundPort) continue;
        if (betweenPorts) betweenPorts();
        if (!SelectPort(n)) continue;
        if (Identify()) {
            lastFoundPort = n;
            return true;
        }
        ClosePort();
    }
    return false;
}

void Zantor50::ReadConfig(std::array<uint8_t, 8>& destination) {
    const size_t received =
        Transact(kReadConfig, 0, nullptr, destination.size(), destination.data(), 0);
    if (received != destination.size()) {
        throw CommErr::UnexpectedReply(kReadConfig, received, destination.size());
    }
}

std::array<uint8_t, 12> Zantor50::SealedConfig(const std::array<uint8_t, 8>& record) {
    std::array<uint8_t, 12> payload{};
    std::memcpy(payload.data(), record.data(), record.size());
    const uint32_t seal = Crc32(record.data(), record.size(), 0xFFFFFFFFu);
    PutLe16(payload.data() + 8, static_cast<uint16_t>(seal & 0xFFFF));
    PutLe16(payload.data() + 10, static_cast<uint16_t>(seal >> 16));
    return payload;
}

std::vector<uint8_t> Zantor50::WriteConfigFrame(const std::array<uint8_t, 8>& record) {
    const std::array<uint8_t, 12> payload = SealedConfig(record);
    return BuildFrame(kWriteConfig, payload.data(), payload.size());
}

void Zantor50::WriteConfig(const std::array<uint8_t, 8>& record) {
    const std::array<uint8_t, 12> payload = SealedConfig(record);
    TransactStatus(kWriteConfig, payload.size(), payload.data(), kWriteConfigExtraMs);
}

void Zantor50::UpgradeBegin(const uint8_t* header16, uint32_t extraMs) {
    TransactStatus(kUpgradeBegin, 16, header16, extraMs);
}

void Zantor50::UpgradeBlock(uint16_t index, const uint8_t* block520, uint32_t extraMs) {
    uint8_t payload[2 + 520];
    PutLe16(payload, index);
    std::memcpy(payload + 2, block520, 520);
    TransactStatus(kUpgradeBlock, sizeof payload, payload, extraMs);
}

void Zantor50::UpgradeSeal(const uint8_t* record8, uint32_t extraMs) {
    TransactStatus(kUpgradeSeal, 8, record8, extraMs);
}

void Zantor50::UpgradeFinish(uint32_t extraMs) {
    TransactStatus(kUpgradeFinish, 0, nullptr, extraMs);
}

void Zantor50::SendTemplate(uint8_t command) {
    const FixedRequest request = RequestWithoutPayload(command);
    WriteBytes(request.size(), request.data());
}

void Zantor50::SendIdentifyRequest() { SendTemplate(kIdentify); }

void Zantor50::SendCardInFieldRequest() { SendTemplate(kCardInField); }

void Zantor50::SendRaw(const std::array<uint8_t, 8>& frame) {
    WriteBytes(frame.size(), frame.data());
}

size_t Zantor50::PollBytes(uint8_t* destination256) {
    if (OpenPortNumber() == 0) return 0;
    // What a reception passed over is a chunk of its own: it came before
    // whatever the port holds now, and is no part of it.
    if (!unclaimed.empty()) {
        const size_t count = std::min(unclaimed.size(), kPollSize);
        std::copy_n(unclaimed.begin(), count, destination256);
        unclaimed.erase(unclaimed.begin(), unclaimed.begin() + static_cast<ptrdiff_t>(count));
        return count;
    }
    size_t count = 0;
    while (count < kPollSize && ReadBytes(1, destination256 + count) == 1) ++count;
    return count;
}
