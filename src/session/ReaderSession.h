#pragma once

#include <functional>
#include <optional>

#include "ReaderConfig.h"
#include "UpgradeImage.h"
#include "Zantor50.h"

// The reader workflow that the window, zantor and the station share, each step
// once: find the reader, decide whether an upgrade is due, transfer it with its
// progress as events, find the restarted reader again, read and write the
// configuration. It owns the one link; what each front end shows, asks and
// concludes stays with the front end.
namespace session {

// Where the restarted reader is looked for after an upgrade.
enum class AfterUpgrade {
    Search,    // the search over every port, as at start (the window)
    SamePort,  // its own port only: another port may be another reader's
};

// How far an upgrade has got.
struct UpgradeEvent {
    enum class Kind {
        BlocksBegin,        // the header was taken; steps: the number of blocks
        BlockAcknowledged,  // step of steps blocks acknowledged (0..steps); the next follows
        Closing,            // the reader restarts: step of steps waits done (0..steps)
        TransferEnded,      // however the transfer ended, once the blocks had begun
    };
    Kind kind;
    int step = 0;
    int steps = 0;
};
using UpgradeEvents = std::function<void(const UpgradeEvent&)>;

class ReaderSession {
public:
    // The closing phase: the reader restarts over this many waits of 100 ms.
    static constexpr int kClosingSteps = 21;

    ReaderSession(SerialServices& services, AfterUpgrade afterUpgrade);

    Zantor50& Link() { return link; }
    const Zantor50& Link() const { return link; }

    // Finds and identifies the reader and leaves its port open. Port 0: the
    // search (the port already open, else where a reader answered last, else
    // COM1 upwards). Port n: COM n alone; false when nothing answers there (the
    // port is closed again), CommErr (PortHeld, NotPermitted, DeviceGone) when
    // it is there but cannot be opened, before anything is written.
    bool Connect(int port);
    void Close();

    // The upgrade that the identified reader is due for from this candidate:
    // newer than its firmware, and a stand-in image only over a stand-in line.
    std::optional<upgrade::Offer> UpgradeDue(const std::optional<upgrade::Offer>& candidate) const;

    // Sends an intact image to the identified reader: the header, the blocks in
    // rising order, the record for its serial number and the closing command,
    // then waits out its restart and looks for it again as afterUpgrade says.
    // True when it answered then. A command that fails throws CommErr, which
    // says at which block, and nothing further is sent.
    bool Upgrade(upgrade::Image image, const UpgradeEvents& events);

    ReaderConfig Read();
    void Write(const ReaderConfig& record);
    // Writes the record and returns what the reader holds afterwards.
    ReaderConfig WriteAndReadBack(const ReaderConfig& record);

private:
    void Transfer(upgrade::Image image, const UpgradeEvents& events);

    SerialServices& services;
    AfterUpgrade afterUpgrade;
    Zantor50 link;
};

}  // namespace session
