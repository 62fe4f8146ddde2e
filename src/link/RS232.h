#pragma once

#include <cstddef>
#include <cstdint>

#include "SerialServices.h"

// One serial port at a time, with the reader's timeouts derived from the baud
// rate. No operation throws or reports to the user: results are booleans and
// byte counts, and every failure after opening leaves the port closed.
class RS232 {
public:
    explicit RS232(SerialServices& services);
    ~RS232();
    RS232(const RS232&) = delete;
    RS232& operator=(const RS232&) = delete;

    // Opens (or, when n is already open, reconfigures) COM n. Numbers outside
    // COM1..COM32 are refused without touching the open port.
    bool OpenPort(int n, uint32_t baud, uint8_t lineFormat, uint8_t modemControl, uint32_t inQueue,
                  uint32_t outQueue);
    void ClosePort();
    // Base timeouts plus extraMs on the total read allowance.
    bool SetReadTimeout(uint32_t extraMs);
    // A short write closes the port; the caller notices through the reads.
    void WriteBytes(size_t count, const uint8_t* bytes);
    // Count of bytes that arrived within the read timeout in force; 0 at once
    // when no port is open.
    size_t ReadBytes(size_t count, uint8_t* buffer);

    PortHandle Handle() const { return portHandle; }
    uint16_t ByteTimeMs() const { return byteTimeMs; }
    // Number of the open port, 0 when none is open.
    uint8_t OpenPortNumber() const { return openPort; }
    // Whether the open port is a stand-in line (SerialServices::IsStandInLine);
    // false when none is open.
    bool OnStandInLine() const { return openPort != 0 && services.IsStandInLine(portHandle); }
    // Whether the last write came out short (and so closed the port).
    bool LastWriteWasShort() const { return lastWriteShort; }

protected:
    SerialServices& services;

private:
    PortHandle portHandle = kInvalidPortHandle;
    uint16_t byteTimeMs = 0;
    uint8_t openPort = 0;
    bool lastWriteShort = false;
};
