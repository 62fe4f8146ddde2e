#pragma once

#include <map>

#include "SerialServices.h"

// The serial services on the Win32 API, one call for each operation:
// CreateFileA on "\\.\COMn", GetCommState/SetCommState, SetupComm,
// SetCommTimeouts, ReadFile/WriteFile (synchronous), CloseHandle, Sleep and
// QueryPerformanceCounter.
//
// Where Win32 and the contract of SerialServices differ:
// - Open also asks GetCommState, so that a COM name that leads to something
//   other than a serial device is refused like a missing port. Windows itself
//   makes the open exclusive (share mode 0): a port another program holds fails
//   with a sharing violation. Wine does not: it checks sharing for files only,
//   so under Wine a second open of a COM port that leads to a character device
//   succeeds, even within one process.
// - SetState starts from the DCB that the port holds now, so the reserved bits
//   that LineSettings does not carry stay as the driver delivered them. Windows
//   drivers refuse settings they cannot apply rather than applying part of them,
//   so SetCommState's own answer is the answer; nothing is read back.
// - The timeouts go to the driver as they are. Two Win32 readings differ from
//   the contract: all-zero read (or write) timeouts mean no timeout at all, not
//   no time to wait, and a read interval of MAXDWORD means "return at once with
//   what has arrived". The link never asks for either: its read and write
//   constants are 61 ms or more and its read interval is 0.
// - Write returns when the driver has taken the bytes; a Windows serial driver
//   completes a write once its bytes have gone to the UART, which is the
//   contract's "written".
// - IsStandInLine is true only under Wine, for a COM name that leads to a
//   pseudo-terminal of the Unix side (/dev/pts/N), as on Linux; on Windows every
//   COM port is taken for a device.
// - NowMs comes from the performance counter: monotonic, finer than the 10 to
//   16 ms steps of the tick count.
class Win32SerialServices : public SerialServices {
public:
    Win32SerialServices() = default;
    ~Win32SerialServices() override;
    Win32SerialServices(const Win32SerialServices&) = delete;
    Win32SerialServices& operator=(const Win32SerialServices&) = delete;

    PortHandle Open(int portNumber) override;
    bool GetState(PortHandle handle, LineSettings& settings) override;
    bool SetState(PortHandle handle, const LineSettings& settings) override;
    bool SetupQueues(PortHandle handle, uint32_t inQueue, uint32_t outQueue) override;
    bool SetTimeouts(PortHandle handle, const CommTimeouts& timeouts) override;
    uint32_t Read(PortHandle handle, uint8_t* buffer, uint32_t count) override;
    uint32_t Write(PortHandle handle, const uint8_t* bytes, uint32_t count) override;
    void Close(PortHandle handle) override;
    bool IsStandInLine(PortHandle handle) override;
    void Sleep(uint32_t ms) override;
    uint64_t NowMs() override;
    OpenFailure LastOpenFailure() override;

private:
    // The OS handle behind one of ours, or null. Ours are never reused, so a
    // stale one cannot reach a later port, nor any other handle of the process.
    void* Find(PortHandle handle) const;

    std::map<PortHandle, void*> ports;
    PortHandle nextHandle = 1;
    OpenFailure lastFailure;
};
