#pragma once

#include <functional>
#include <optional>

#include "ReaderConfig.h"
#include "UpgradeImage.h"
#include "Zantor50.h"

// The reader workflow that the window, zantor and the station share, each step
// once: find the reader, find it again, judge an upgrade image, transfer it
// with its progress as events, read and write the configuration, show a result
// on the reader. It owns the one link; what each front end shows, asks and
// concludes stays with the front end.
namespace session {

// Where a reader that was identified is looked for again (after an upgrade, and
// while the station waits for it to be unplugged).
enum class FindAgain {
    Search,    // the search over every port, as at start (the window)
    SamePort,  // its own port only: another port may be another reader's
};

// What looking for the reader again found.
enum class Presence {
    Answered,  // it identified itself; its identity may have changed
    Silent,    // nothing answered
    PortGone,  // its own port could not be opened again
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

    // The share of the whole upgrade done, in whole percent, for the blocks
    // and the restart: the blocks are its first 60, the restart the last 40.
    int Percent() const;
};
using UpgradeEvents = std::function<void(const UpgradeEvent&)>;

// What an upgrade image means for the identified reader.
struct ImageVerdict {
    enum class Kind {
        NoImage,      // no image for its type
        WrongType,    // made for another type of reader
        UpToDate,     // not newer than its firmware
        StandInOnly,  // a stand-in image, and the line is a real device
        Due,          // the upgrade to offer
    };
    Kind kind = Kind::NoImage;
    std::optional<upgrade::Offer> offer;  // the image judged, when there was one
    // Whether the image passes the integrity check. Judged apart from the
    // kind: the window asks before it checks the image, zantor checks first.
    bool intact = false;
    uint16_t imageType = 0;
    uint16_t imageVersion = 0;
    uint16_t readerType = 0;
    uint16_t firmwareVersion = 0;
};

// What the Test page, `zantor monitor` and `zantor send` do past the workflow:
// requests sent without waiting for a reply, and polls of what the reader sent
// unasked. Only the bytes cross here; no workflow step does.
class RawLine {
public:
    explicit RawLine(Zantor50& link) : link(link) {}

    void SendIdentifyRequest() { link.SendIdentifyRequest(); }
    void SendCardInFieldRequest() { link.SendCardInFieldRequest(); }
    void SendRaw(const protocol::LFrame& frame) { link.SendRaw(frame); }
    size_t PollBytes(uint8_t* destination256) { return link.PollBytes(destination256); }
    bool IsOpen() const { return link.OpenPortNumber() != 0; }

private:
    Zantor50& link;
};

class ReaderSession {
public:
    // The closing phase: the reader restarts over this many waits of 100 ms.
    static constexpr int kClosingSteps = 21;

    ReaderSession(SerialServices& services, FindAgain rule);

    // Finds and identifies the reader and leaves its port open. Port 0: the
    // search (the port already open, else where a reader answered last, else
    // COM1 upwards). Port n: COM n alone; false when nothing answers there (the
    // port is closed again), CommErr (PortHeld, NotPermitted, DeviceGone) when
    // it is there but cannot be opened, before anything is written.
    bool Connect(int port);
    void Close();

    // Looks for the reader identified last by the session's rule. Over its own
    // port a silent reader leaves the port open, as a lost reply is no removal.
    Presence LookAgain();

    // The reader identified last; its values stay when a later search fails.
    protocol::Identity Reader() const;
    int Model() const { return link.ModelNumber(); }
    // The COM number of the open port; 0 when none is open.
    int Port() const { return link.OpenPortNumber(); }

    // Judges the candidate image (the given file, or the built-in one for the
    // reader's type) for the identified reader: due when it is made for its
    // type, newer than its firmware, and a stand-in only over a stand-in line.
    ImageVerdict Judge(const std::optional<upgrade::Offer>& candidate) const;

    // Sends an intact image to the identified reader: the header, the blocks in
    // rising order, the record for its serial number and the closing command,
    // then waits out its restart and looks for it again. True when it answered
    // then. A command that fails throws CommErr, which says at which block, and
    // nothing further is sent.
    bool Upgrade(upgrade::Image image, const UpgradeEvents& events);

    ReaderConfig Read();
    void Write(const ReaderConfig& record);
    // Writes the record and returns what the reader holds afterwards.
    ReaderConfig WriteAndReadBack(const ReaderConfig& record);

    // Shows a result on the reader until it is unplugged: green and a short
    // beep, or red and a long one. Its acknowledgement tells that the frame has
    // arrived before the port may be closed; an unanswered frame is sent again,
    // and CommErr says when it stays unanswered or the reader refuses it.
    void ShowResult(bool success);

    RawLine& Raw() { return raw; }
    // Called before each port of a search, with no port open: a long search
    // lets the window serve its display there.
    void BetweenPorts(std::function<void()> serve) { link.betweenPorts = std::move(serve); }

private:
    bool IdentifyOn(int port);
    void Transfer(upgrade::Image image, const UpgradeEvents& events);

    SerialServices& services;
    FindAgain rule;
    Zantor50 link;
    RawLine raw{link};
    // The port of the last identification: the one a reader is looked for on
    // again under SamePort.
    int ownPort = 0;
};

}  // namespace session
