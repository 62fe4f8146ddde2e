#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "CommErr.h"
#include "Protocol.h"
#include "RS232.h"

// The reader link: frames and transactions, the reader's commands and the search
// for a reader over the ports. Transactions throw CommErr; nothing else does.
class Zantor50 : public RS232 {
public:
    static constexpr uint32_t kBaud = 19200;
    static constexpr uint8_t kLineFormat = 3;    // 8 data bits, no parity, 1 stop bit
    static constexpr uint8_t kModemControl = 3;  // DTR and RTS on
    static constexpr uint32_t kQueueSize = 256;
    static constexpr uint32_t kOpenSettleMs = 100;
    static constexpr size_t kPollSize = 256;
    // A reception that keeps receiving frames of other commands gives up after
    // this long, so a chattering device cannot hold the program.
    static constexpr uint64_t kReceiveLimitMs = 5000;

    explicit Zantor50(SerialServices& services);

    // True when port n is open afterwards; the port already open is kept as it is.
    bool SelectPort(int n);

    // Frames and transactions. ReceiveFrame looks for its reply past whatever
    // else the reader sent first: whole frames of other commands (an echo of the
    // request among them) are dropped, and what is no whole frame (card text,
    // a broken frame) is kept for PollBytes.
    size_t ReceiveFrame(uint8_t replyCommand, size_t expectedSize, uint8_t* destination,
                        uint32_t extraMs);
    size_t Transact(uint8_t command, size_t size, const uint8_t* payload, size_t expectedSize,
                    uint8_t* destination, uint32_t extraMs);
    void TransactStatus(uint8_t command, size_t size, const uint8_t* payload, uint32_t extraMs);

    // Reader commands and discovery.
    bool Identify();
    bool FindReader(int highest);
    void ReadConfig(std::array<uint8_t, 8>& destination);
    void WriteConfig(const std::array<uint8_t, 8>& record);
    // The whole 'C' request that WriteConfig sends for a record, seal included.
    static std::vector<uint8_t> WriteConfigFrame(const std::array<uint8_t, 8>& record);
    void UpgradeBegin(const uint8_t* header16, uint32_t extraMs);
    void UpgradeBlock(uint16_t index, const uint8_t* block520, uint32_t extraMs);
    void UpgradeSeal(const uint8_t* record8, uint32_t extraMs);
    void UpgradeFinish(uint32_t extraMs);
    void SendIdentifyRequest();
    void SendCardInFieldRequest();
    void SendRaw(const std::array<uint8_t, 8>& frame);
    // What the reader sent unasked: the bytes that a reception passed over, as
    // a chunk of their own, and once they are all taken whatever the port
    // delivers.
    size_t PollBytes(uint8_t* destination256);

    int ModelNumber() const { return protocol::ModelNumberOf(typeCode); }

    // Port of the last scan hit (0: none yet) and the last identification.
    int32_t lastFoundPort = 0;
    uint16_t firmwareVersion = 0;
    uint16_t typeCode = 0;
    uint16_t serialNumber = 0;

    // Called before each port of a scan, with no port open: a long scan lets the
    // window serve its display there.
    std::function<void()> betweenPorts;

private:
    // How the last reception that gave nothing ended: silent, or with bytes
    // that never became a valid frame.
    enum class Reception { Silent, Invalid };

    [[noreturn]] void ThrowFailed(uint8_t command, int attempts, bool invalid) const;
    void SetAside(const uint8_t* bytes, size_t count);
    // Sets aside the first count bytes of buffer and moves the rest up.
    void PassOver(uint8_t* buffer, size_t& have, size_t count);
    void SendTemplate(uint8_t command);
    static std::array<uint8_t, 12> SealedConfig(const std::array<uint8_t, 8>& record);

    Reception lastReception = Reception::Silent;
    // Bytes read from the open port that were no reply: the Test page shows
    // them on its next poll. Only the latest kPollSize are kept.
    std::vector<uint8_t> unclaimed;
};
