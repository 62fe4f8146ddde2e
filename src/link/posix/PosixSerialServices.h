#pragma once

#include <map>
#include <string>

#include "SerialServices.h"

// The serial services on POSIX termios. COM n is resolved at each open through
// the per-user port folder and then the system's serial ports (ComPorts.h).
class PosixSerialServices : public SerialServices {
public:
    struct Options {
        // Folder whose com<n> links name ports; empty: the per-user folder
        // /tmp/zantor_cfg-<uid>/.
        std::string portFolder;
        // Whether numbers the folder does not name take the system's serial
        // ports. Tests turn this off so that no real port is ever opened.
        bool systemPorts = true;
    };

    PosixSerialServices();
    explicit PosixSerialServices(Options options);
    ~PosixSerialServices() override;
    PosixSerialServices(const PosixSerialServices&) = delete;
    PosixSerialServices& operator=(const PosixSerialServices&) = delete;

    PortHandle Open(int portNumber) override;
    bool GetState(PortHandle handle, LineSettings& settings) override;
    bool SetState(PortHandle handle, const LineSettings& settings) override;
    bool SetupQueues(PortHandle handle, uint32_t inQueue, uint32_t outQueue) override;
    bool SetTimeouts(PortHandle handle, const CommTimeouts& timeouts) override;
    uint32_t Read(PortHandle handle, uint8_t* buffer, uint32_t count) override;
    uint32_t Write(PortHandle handle, const uint8_t* bytes, uint32_t count) override;
    void Close(PortHandle handle) override;
    void Sleep(uint32_t ms) override;
    uint64_t NowMs() override;
    bool IsStandInLine(PortHandle handle) override;

private:
    struct OpenDevice;
    OpenDevice* Find(PortHandle handle);

    Options options;
    std::map<PortHandle, OpenDevice*> devices;
    // Handles are never reused, so a stale one cannot reach a later port.
    PortHandle nextHandle = 1;
};
