#pragma once

#include <cstdint>
#include <string>

// Line settings of one serial port: the fields of the Windows DCB that the link
// sets, plus those it must hand back unchanged.
struct LineSettings {
    uint32_t dcbLength = 0;
    uint32_t baudRate = 0;
    bool binary = false;
    bool parityCheck = false;  // fParity: check and report parity errors
    bool outxCtsFlow = false;
    bool outxDsrFlow = false;
    uint8_t dtrControl = 0;  // kDtrControlDisable / kDtrControlEnable / handshake (2)
    bool dsrSensitivity = false;
    bool txContinueOnXoff = false;
    bool outX = false;
    bool inX = false;
    bool errorCharReplace = false;  // fErrorChar
    bool discardNull = false;       // fNull
    uint8_t rtsControl = 0;         // kRtsControlDisable / kRtsControlEnable / handshake / toggle
    bool abortOnError = false;
    uint16_t xonLim = 0;
    uint16_t xoffLim = 0;
    uint8_t byteSize = 8;  // 5..8
    uint8_t parity = 0;    // kNoParity / kOddParity / kEvenParity / mark (3) / space (4)
    uint8_t stopBits = 0;  // kOneStopBit / one and a half (1) / kTwoStopBits
    char xonChar = 0;
    char xoffChar = 0;
    char errorChar = 0;
    char eofChar = 0;
    char evtChar = 0;

    friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

inline constexpr uint32_t kDcbLength = 28;
inline constexpr uint8_t kDtrControlDisable = 0;
inline constexpr uint8_t kDtrControlEnable = 1;
inline constexpr uint8_t kRtsControlDisable = 0;
inline constexpr uint8_t kRtsControlEnable = 1;
inline constexpr uint8_t kNoParity = 0;
inline constexpr uint8_t kOddParity = 1;
inline constexpr uint8_t kEvenParity = 2;
inline constexpr uint8_t kOneStopBit = 0;
inline constexpr uint8_t kTwoStopBits = 2;

// The five COMMTIMEOUTS values, in milliseconds.
struct CommTimeouts {
    uint32_t readIntervalTimeout = 0;
    uint32_t readTotalTimeoutMultiplier = 0;
    uint32_t readTotalTimeoutConstant = 0;
    uint32_t writeTotalTimeoutMultiplier = 0;
    uint32_t writeTotalTimeoutConstant = 0;

    friend bool operator==(const CommTimeouts&, const CommTimeouts&) = default;
};

// Handle of an open port; kInvalidPortHandle means "no port".
using PortHandle = intptr_t;
inline constexpr PortHandle kInvalidPortHandle = -1;

// Another program's hold on a port, as far as it can be seen.
struct PortHolder {
    int pid = 0;          // 0 when not known (a lock whose owner cannot be seen)
    std::string program;  // empty when not known
    std::string how;      // "flock", "lock file", "exclusive", "open"; empty when not known
};

// Why the last Open gave kInvalidPortHandle, as far as the platform can tell.
struct OpenFailure {
    // Missing: the number leads to no port. Gone: it leads to a device that
    // is no longer there (unplugged, or a node without hardware behind it).
    enum class Reason { Unknown, Missing, Held, NotPermitted, Gone };
    Reason reason = Reason::Unknown;
    std::string device;  // where the number led; empty when nowhere or not known
    PortHolder holder;   // for Held
    // The user named the device by its path; its number is only a stand-in.
    bool namedByPath = false;
};

// The platform's serial services, one operation per service the port layer uses.
// RS232 holds all the logic; a realisation only translates each call.
//
// Contract shared by every realisation:
// - Open(n) opens COM n exclusively for reading and writing. It returns
//   kInvalidPortHandle when the port does not exist, is not a serial device, or
//   another program holds it. It never blocks on modem lines.
// - LastOpenFailure() tells why the last Open of this object failed (what
//   GetLastError tells after CreateFileA); Unknown where the realisation cannot
//   say, and after an Open that succeeded.
// - The Get/Set/Setup calls return true on success. SetState reports false when
//   the device did not take the settings as asked.
// - Read(h, buf, k) returns as soon as k bytes have arrived, or when
//   readTotalTimeoutMultiplier * k + readTotalTimeoutConstant ms have passed
//   since the call began (readIntervalTimeout 0: no limit between bytes), with
//   the count that arrived, 0 to k. An OS error or a device that has gone away
//   ends the read at once with what had arrived (0 when nothing).
// - Write(h, bytes, k) returns the count written, 0 to k; fewer than k when
//   writeTotalTimeoutMultiplier * k + writeTotalTimeoutConstant ms passed first,
//   or on an error.
// - Close(h) releases the port; its outcome does not matter to the caller.
// - Sleep(ms) blocks the calling thread; NowMs() is a monotonic millisecond
//   clock with an arbitrary origin.
// - IsStandInLine(h) is true only when the open port is a line that no cable
//   can be plugged into, so that only a program playing a reader can answer on
//   it (a pseudo-terminal). It is false for a serial device (COM ports, USB
//   adapters), for a handle that is not open, and whenever the realisation
//   cannot tell; a realisation without such lines keeps the default.
class SerialServices {
public:
    virtual ~SerialServices() = default;

    virtual PortHandle Open(int portNumber) = 0;
    virtual bool GetState(PortHandle handle, LineSettings& settings) = 0;
    virtual bool SetState(PortHandle handle, const LineSettings& settings) = 0;
    virtual bool SetupQueues(PortHandle handle, uint32_t inQueue, uint32_t outQueue) = 0;
    virtual bool SetTimeouts(PortHandle handle, const CommTimeouts& timeouts) = 0;
    virtual uint32_t Read(PortHandle handle, uint8_t* buffer, uint32_t count) = 0;
    virtual uint32_t Write(PortHandle handle, const uint8_t* bytes, uint32_t count) = 0;
    virtual void Close(PortHandle handle) = 0;
    virtual void Sleep(uint32_t ms) = 0;
    virtual uint64_t NowMs() = 0;
    virtual bool IsStandInLine(PortHandle) { return false; }
    virtual OpenFailure LastOpenFailure() { return {}; }
};
