#include "RS232.h"

#include "Protocol.h"

RS232::RS232(SerialServices& services) : services(services) {}

RS232::~RS232() { ClosePort(); }

bool RS232::OpenPort(int n, uint32_t baud, uint8_t lineFormat, uint8_t modemControl,
                     uint32_t inQueue, uint32_t outQueue) {
    if (n < protocol::kFirstPort || n > protocol::kLastPort || baud == 0) return false;
    if (openPort != 0 && openPort != n) ClosePort();
    if (openPort == 0) {
        portHandle = services.Open(n);
        if (portHandle == kInvalidPortHandle) return false;
        openPort = static_cast<uint8_t>(n);
    }
    // The duration of an 11-bit character in whole milliseconds, plus one.
    byteTimeMs = static_cast<uint16_t>(11000 / baud + 1);

    LineSettings dcb;
    if (!services.GetState(portHandle, dcb)) {
        ClosePort();
        return false;
    }
    dcb.dcbLength = kDcbLength;
    dcb.baudRate = baud;
    dcb.binary = true;
    // A parity bit may be sent, but received parity is never checked or reported.
    dcb.parityCheck = false;
    dcb.outxCtsFlow = false;
    dcb.outxDsrFlow = false;
    dcb.dtrControl = (modemControl & 1) ? kDtrControlEnable : kDtrControlDisable;
    dcb.dsrSensitivity = false;
    dcb.outX = false;
    dcb.inX = false;
    dcb.errorCharReplace = false;
    dcb.discardNull = false;
    dcb.rtsControl = (modemControl & 2) ? kRtsControlEnable : kRtsControlDisable;
    dcb.abortOnError = false;
    dcb.byteSize = static_cast<uint8_t>((lineFormat & 3) + 5);
    dcb.stopBits = (lineFormat & 4) ? kTwoStopBits : kOneStopBit;
    if (lineFormat & 8) {
        dcb.parity = (lineFormat & 16) ? kEvenParity : kOddParity;
    } else {
        dcb.parity = kNoParity;
    }
    if (!services.SetState(portHandle, dcb) ||
        !services.SetupQueues(portHandle, inQueue, outQueue) || !SetReadTimeout(0)) {
        ClosePort();
        return false;
    }
    return true;
}

void RS232::ClosePort() {
    if (openPort == 0) return;
    services.Close(portHandle);
    openPort = 0;
    portHandle = kInvalidPortHandle;
}

bool RS232::SetReadTimeout(uint32_t extraMs) {
    CommTimeouts timeouts;
    timeouts.readIntervalTimeout = 0;
    timeouts.readTotalTimeoutMultiplier = byteTimeMs;
    timeouts.readTotalTimeoutConstant = extraMs + 61;
    timeouts.writeTotalTimeoutMultiplier = byteTimeMs;
    timeouts.writeTotalTimeoutConstant = 61;
    return services.SetTimeouts(portHandle, timeouts);
}

void RS232::WriteBytes(size_t count, const uint8_t* bytes) {
    if (openPort == 0) return;
    const uint32_t written = services.Write(portHandle, bytes, static_cast<uint32_t>(count));
    lastWriteShort = written != count;
    if (lastWriteShort) ClosePort();
}

size_t RS232::ReadBytes(size_t count, uint8_t* buffer) {
    if (openPort == 0 || count == 0) return 0;
    const uint32_t got = services.Read(portHandle, buffer, static_cast<uint32_t>(count));
    return got > count ? count : got;
}
