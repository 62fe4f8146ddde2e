#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "SerialServices.h"

using Bytes = std::vector<uint8_t>;

// A reader double: takes whole request frames and answers them as a ZANTOR reader
// would, with scripted faults. Replies are built with the link's own frame code.
class FakeReader {
public:
    uint16_t typeCode = 1064;
    uint16_t serialNumber = 313;
    uint16_t firmwareVersion = 7;
    std::array<uint8_t, 8> config{0x01, 0xC0, 0x05, 0x03, 0x60, 0x00, 0x03, 0x00};

    // Milliseconds from the end of a request to the first byte of its reply.
    uint32_t replyDelayMs = 2;
    // Requests still to be ignored (0: answer everything).
    int ignoreRequests = 0;
    // Status answered to a command ('C', 'Z', 'Y', 'y', 'z', 'L'); 0 unless set.
    std::map<uint8_t, uint8_t> statusFor;
    // When set, decides the reply bytes of a request instead of the defaults;
    // std::nullopt falls back to the defaults, an empty vector is silence.
    std::function<std::optional<Bytes>(const Bytes& request)> script;

    // Every whole request frame received, in order.
    std::vector<Bytes> requests;

    // The default answer of a reader to one request frame (empty: no answer).
    Bytes Answer(const Bytes& request);
    // Feeds written bytes; returns the reply bytes of any request completed.
    Bytes Receive(const uint8_t* bytes, size_t count);

private:
    Bytes pending;
};

// Scripted serial services over a virtual clock: nothing waits in real time.
// Ports can be missing (the default), present without a reader, held by another
// program, attached to a FakeReader, or gone (vanished after opening).
class FakeSerialServices : public SerialServices {
public:
    enum class Op { Open, GetState, SetState, SetupQueues, SetTimeouts, Read, Write, Close, Sleep };

    // One call as it was made.
    struct Call {
        Op op = Op::Open;
        int port = 0;             // COM number of the handle (0 for Sleep)
        Bytes data;               // bytes written / bytes read
        uint32_t count = 0;       // bytes asked for (Read, Write), ms (Sleep)
        uint64_t at = 0;          // virtual time when the call began
        uint64_t endedAt = 0;     // virtual time when it returned
        CommTimeouts timeouts{};  // SetTimeouts; for Read/Write the ones in force
        LineSettings settings{};  // SetState
        bool ok = true;
    };

    // Port set-up.
    void AddPort(int n);                           // present, no reader
    void AttachReader(int n, FakeReader& reader);  // present, answered by reader
    void HoldPort(int n);                          // another program holds it
    void Vanish(int n);                            // unplugged: I/O fails from now on
    void FailNext(int n, Op op);                   // the next such call on port n fails
    void ShortWriteNext(int n, uint32_t written);  // the next write stops short
    void MakeStandInLine(int n);                   // a pseudo-terminal, not a device
    // Bytes that arrive on port n at virtual time atMs (default: now).
    void Feed(int n, const Bytes& bytes, std::optional<uint64_t> atMs = std::nullopt);
    // Bytes that arrive one per byteTimeMs starting at atMs.
    void FeedPaced(int n, const Bytes& bytes, uint64_t atMs, uint32_t byteTimeMs = 1);

    // Records.
    const std::vector<Call>& Calls() const { return calls; }
    std::vector<Call> CallsOf(Op op) const;
    std::vector<int> OpenedPorts() const;     // successful opens, in order
    std::vector<int> AttemptedPorts() const;  // every Open call, in order
    Bytes WrittenTo(int n) const;             // all bytes written to port n
    bool IsOpen(int n) const;
    void ClearCalls() { calls.clear(); }
    uint64_t now = 0;  // the virtual clock, in ms

    // SerialServices
    PortHandle Open(int portNumber) override;
    bool GetState(PortHandle handle, LineSettings& settings) override;
    bool SetState(PortHandle handle, const LineSettings& settings) override;
    bool SetupQueues(PortHandle handle, uint32_t inQueue, uint32_t outQueue) override;
    bool SetTimeouts(PortHandle handle, const CommTimeouts& timeouts) override;
    uint32_t Read(PortHandle handle, uint8_t* buffer, uint32_t count) override;
    uint32_t Write(PortHandle handle, const uint8_t* bytes, uint32_t count) override;
    void Close(PortHandle handle) override;
    void Sleep(uint32_t ms) override;
    uint64_t NowMs() override { return now; }
    bool IsStandInLine(PortHandle handle) override;

private:
    struct Arrival {
        uint64_t at;
        uint8_t byte;
    };
    struct Port {
        bool present = false;
        bool held = false;
        bool gone = false;
        bool open = false;
        bool standInLine = false;
        FakeReader* reader = nullptr;
        std::set<Op> failNext;
        std::optional<uint32_t> shortWrite;
        LineSettings settings{};
        CommTimeouts timeouts{};
        std::deque<Arrival> incoming;
    };
    static int PortNumber(PortHandle handle);
    Port* PortOf(PortHandle handle);
    // Records a configuration call; the port when it succeeds, else nullptr.
    Port* Configure(PortHandle handle, Call call);
    Call NewCall(Op op, int port) const;
    bool Fails(Port& port, Op op);
    std::map<int, Port> ports;
    std::vector<Call> calls;
};
