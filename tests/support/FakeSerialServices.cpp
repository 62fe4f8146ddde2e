#include "FakeSerialServices.h"

#include <algorithm>

#include "Crc.h"
#include "Frame.h"

namespace {

constexpr PortHandle kHandleBase = 100;

Bytes Frame(uint8_t command, const Bytes& payload) {
    return BuildFrame(command, payload.data(), payload.size());
}

void PutLe16(Bytes& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

}  // namespace

Bytes FakeReader::Answer(const Bytes& request) {
    const uint8_t command = request[2];
    const uint8_t reply = command | 0x80;
    const Bytes payload(request.begin() + 3, request.end() - 2);
    auto status = [&](uint8_t value) {
        auto scripted = statusFor.find(command);
        return Frame(reply, {scripted != statusFor.end() ? scripted->second : value});
    };
    switch (command) {
        case 'M': {
            Bytes identity;
            PutLe16(identity, typeCode);
            PutLe16(identity, serialNumber);
            PutLe16(identity, firmwareVersion);
            return Frame(reply, identity);
        }
        case 'c':
            return Frame(reply, Bytes(config.begin(), config.end()));
        case 'C': {
            if (payload.size() != 12) return status(1);
            const uint32_t seal = Crc32(payload.data(), 8, 0xFFFFFFFFu);
            const uint32_t sent = payload[8] | (payload[9] << 8) | (payload[10] << 16) |
                                  (static_cast<uint32_t>(payload[11]) << 24);
            if (seal != sent) return status(1);
            std::copy_n(payload.begin(), 8, config.begin());
            return status(0);
        }
        case 'Z':
        case 'Y':
        case 'y':
        case 'z':
        case 'L':
            return status(0);
        default:
            return {};
    }
}

Bytes FakeReader::Receive(const uint8_t* bytes, size_t count) {
    pending.insert(pending.end(), bytes, bytes + count);
    Bytes out;
    while (pending.size() >= 2) {
        const size_t length = pending[0] + 256u * pending[1];
        if (length < kFrameOverhead) {
            pending.erase(pending.begin());  // resynchronise on garbage
            continue;
        }
        if (pending.size() < length) break;
        Bytes request(pending.begin(), pending.begin() + length);
        pending.erase(pending.begin(), pending.begin() + length);
        if (!IsWholeFrame(request.data(), request.size())) continue;
        requests.push_back(request);
        if (ignoreRequests > 0) {
            --ignoreRequests;
            continue;
        }
        std::optional<Bytes> reply;
        if (script) reply = script(request);
        if (!reply) reply = Answer(request);
        out.insert(out.end(), reply->begin(), reply->end());
    }
    return out;
}

void FakeSerialServices::AddPort(int n) { ports[n].present = true; }

void FakeSerialServices::AttachReader(int n, FakeReader& reader) {
    ports[n].present = true;
    ports[n].reader = &reader;
}

void FakeSerialServices::HoldPort(int n) {
    ports[n].present = true;
    ports[n].held = true;
}

void FakeSerialServices::Vanish(int n) { ports[n].gone = true; }

void FakeSerialServices::FailNext(int n, Op op) { ports[n].failNext.insert(op); }

void FakeSerialServices::ShortWriteNext(int n, uint32_t written) { ports[n].shortWrite = written; }

void FakeSerialServices::MakeStandInLine(int n) { ports[n].standInLine = true; }

void FakeSerialServices::Feed(int n, const Bytes& bytes, std::optional<uint64_t> atMs) {
    const uint64_t at = atMs.value_or(now);
    for (uint8_t byte : bytes) ports[n].incoming.push_back({at, byte});
}

void FakeSerialServices::FeedPaced(int n, const Bytes& bytes, uint64_t atMs, uint32_t byteTimeMs) {
    uint64_t at = atMs;
    for (uint8_t byte : bytes) {
        ports[n].incoming.push_back({at, byte});
        at += byteTimeMs;
    }
}

std::vector<FakeSerialServices::Call> FakeSerialServices::CallsOf(Op op) const {
    std::vector<Call> out;
    std::copy_if(calls.begin(), calls.end(), std::back_inserter(out),
                 [op](const Call& call) { return call.op == op; });
    return out;
}

std::vector<int> FakeSerialServices::OpenedPorts() const {
    std::vector<int> out;
    for (const Call& call : calls) {
        if (call.op == Op::Open && call.ok) out.push_back(call.port);
    }
    return out;
}

std::vector<int> FakeSerialServices::AttemptedPorts() const {
    std::vector<int> out;
    for (const Call& call : calls) {
        if (call.op == Op::Open) out.push_back(call.port);
    }
    return out;
}

Bytes FakeSerialServices::WrittenTo(int n) const {
    Bytes out;
    for (const Call& call : calls) {
        if (call.op == Op::Write && call.port == n)
            out.insert(out.end(), call.data.begin(), call.data.end());
    }
    return out;
}

bool FakeSerialServices::IsOpen(int n) const {
    auto it = ports.find(n);
    return it != ports.end() && it->second.open;
}

int FakeSerialServices::PortNumber(PortHandle handle) {
    return static_cast<int>(handle - kHandleBase);
}

FakeSerialServices::Port* FakeSerialServices::PortOf(PortHandle handle) {
    auto it = ports.find(PortNumber(handle));
    return it != ports.end() && it->second.open ? &it->second : nullptr;
}

FakeSerialServices::Call FakeSerialServices::NewCall(Op op, int port) const {
    Call call;
    call.op = op;
    call.port = port;
    call.at = call.endedAt = now;
    return call;
}

bool FakeSerialServices::Fails(Port& port, Op op) { return port.failNext.erase(op) > 0; }

PortHandle FakeSerialServices::Open(int portNumber) {
    Call call = NewCall(Op::Open, portNumber);
    auto it = ports.find(portNumber);
    Port* port = it != ports.end() ? &it->second : nullptr;
    call.ok = port && port->present && !port->held && !port->gone && !port->open &&
              !Fails(*port, Op::Open);
    calls.push_back(call);
    if (!call.ok) return kInvalidPortHandle;
    port->open = true;
    // A fresh opening shows the driver's own settings, not the ones last applied.
    port->settings = LineSettings{};
    port->settings.xonChar = 0x11;
    port->settings.xoffChar = 0x13;
    port->settings.xonLim = 2048;
    port->settings.xoffLim = 512;
    port->settings.txContinueOnXoff = true;
    port->settings.outX = true;
    port->settings.parityCheck = true;
    return kHandleBase + portNumber;
}

bool FakeSerialServices::IsStandInLine(PortHandle handle) {
    const Port* port = PortOf(handle);
    return port != nullptr && port->standInLine;
}

FakeSerialServices::Port* FakeSerialServices::Configure(PortHandle handle, Call call) {
    Port* port = PortOf(handle);
    call.ok = port && !Fails(*port, call.op);
    calls.push_back(call);
    return call.ok ? port : nullptr;
}

bool FakeSerialServices::GetState(PortHandle handle, LineSettings& settings) {
    Port* port = Configure(handle, NewCall(Op::GetState, PortNumber(handle)));
    if (port) settings = port->settings;
    return port != nullptr;
}

bool FakeSerialServices::SetState(PortHandle handle, const LineSettings& settings) {
    Call call = NewCall(Op::SetState, PortNumber(handle));
    call.settings = settings;
    Port* port = Configure(handle, call);
    if (port) port->settings = settings;
    return port != nullptr;
}

bool FakeSerialServices::SetupQueues(PortHandle handle, uint32_t inQueue, uint32_t outQueue) {
    Call call = NewCall(Op::SetupQueues, PortNumber(handle));
    call.count = inQueue;
    call.data = {static_cast<uint8_t>(inQueue >> 8), static_cast<uint8_t>(outQueue >> 8)};
    return Configure(handle, call) != nullptr;
}

bool FakeSerialServices::SetTimeouts(PortHandle handle, const CommTimeouts& timeouts) {
    Call call = NewCall(Op::SetTimeouts, PortNumber(handle));
    call.timeouts = timeouts;
    Port* port = Configure(handle, call);
    if (port) port->timeouts = timeouts;
    return port != nullptr;
}

uint32_t FakeSerialServices::Read(PortHandle handle, uint8_t* buffer, uint32_t count) {
    Port* port = PortOf(handle);
    Call call = NewCall(Op::Read, PortNumber(handle));
    call.count = count;
    if (!port || port->gone || Fails(*port, Op::Read)) {
        call.ok = false;
        call.endedAt = now;
        calls.push_back(call);
        return 0;
    }
    call.timeouts = port->timeouts;
    const uint64_t deadline =
        now + static_cast<uint64_t>(port->timeouts.readTotalTimeoutMultiplier) * count +
        port->timeouts.readTotalTimeoutConstant;
    uint32_t got = 0;
    uint64_t last = now;
    while (got < count && !port->incoming.empty() && port->incoming.front().at <= deadline) {
        last = std::max(last, port->incoming.front().at);
        buffer[got++] = port->incoming.front().byte;
        call.data.push_back(port->incoming.front().byte);
        port->incoming.pop_front();
    }
    now = got == count ? last : deadline;
    call.endedAt = now;
    calls.push_back(call);
    return got;
}

uint32_t FakeSerialServices::Write(PortHandle handle, const uint8_t* bytes, uint32_t count) {
    Port* port = PortOf(handle);
    Call call = NewCall(Op::Write, PortNumber(handle));
    call.count = count;
    if (!port || port->gone || Fails(*port, Op::Write)) {
        call.ok = false;
        call.endedAt = now;
        calls.push_back(call);
        return 0;
    }
    call.timeouts = port->timeouts;
    uint32_t written = count;
    if (port->shortWrite) {
        written = std::min(count, *port->shortWrite);
        port->shortWrite.reset();
    }
    call.data.assign(bytes, bytes + written);
    call.endedAt = now;
    calls.push_back(call);
    if (port->reader) {
        const Bytes reply = port->reader->Receive(bytes, written);
        // Replies leave the reader at one byte per millisecond, as on a 19200 baud line.
        FeedPaced(PortNumber(handle), reply, now + port->reader->replyDelayMs);
    }
    return written;
}

void FakeSerialServices::Close(PortHandle handle) {
    Port* port = PortOf(handle);
    Call call = NewCall(Op::Close, PortNumber(handle));
    call.ok = port != nullptr;
    calls.push_back(call);
    if (port) {
        port->open = false;
        port->incoming.clear();
    }
}

void FakeSerialServices::Sleep(uint32_t ms) {
    Call call = NewCall(Op::Sleep, 0);
    call.count = ms;
    now += ms;
    call.endedAt = now;
    calls.push_back(call);
}
