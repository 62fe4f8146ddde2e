#include "ReaderSession.h"

#include <string>

namespace session {

namespace {

// Extra reply allowances of the upgrade commands, in milliseconds.
constexpr uint32_t kBeginAllowanceMs = 500;
constexpr uint32_t kBlockAllowanceMs = 500;
constexpr uint32_t kSealAllowanceMs = 1000;
constexpr uint32_t kFinishAllowanceMs = 200;
constexpr uint32_t kClosingStepMs = 100;

// The result shown on the reader, held until it is unplugged (time 0).
constexpr uint8_t kShowForGood = 0;
constexpr uint8_t kShortBeep = 0x03;
constexpr uint8_t kLongBeep = 0xFF;

// The blocks take the first 60 % of an upgrade, the restart the rest.
constexpr int kBlocksPercent = 60;

}  // namespace

int UpgradeEvent::Percent() const {
    // An image may hold no blocks at all: that phase is then done.
    const auto share = [this](int from, int to) {
        return steps > 0 ? from + step * (to - from) / steps : to;
    };
    switch (kind) {
        case Kind::BlocksBegin:
            return 0;
        case Kind::BlockAcknowledged:
            return share(0, kBlocksPercent);
        case Kind::Closing:
            return share(kBlocksPercent, 100);
        case Kind::TransferEnded:
            break;
    }
    return 100;
}

ReaderSession::ReaderSession(SerialServices& services, FindAgain rule)
    : services(services), rule(rule), link(services) {}

bool ReaderSession::Connect(int port) {
    const bool found = IdentifyOn(port);
    if (found) ownPort = link.OpenPortNumber();
    return found;
}

bool ReaderSession::IdentifyOn(int port) {
    if (port == 0) return link.FindReader(protocol::kSearchHighestPort);
    if (!link.SelectPort(port)) {
        // A port that is there but cannot be opened is no absent reader: the
        // user is told why.
        const OpenFailure failure = services.LastOpenFailure();
        switch (failure.reason) {
            case OpenFailure::Reason::Held:
            case OpenFailure::Reason::NotPermitted:
            case OpenFailure::Reason::Gone:
                throw CommErr::NotOpened(port, failure);
            case OpenFailure::Reason::Unknown:
            case OpenFailure::Reason::Missing:
                break;
        }
        return false;
    }
    if (link.Identify()) return true;
    link.ClosePort();
    return false;
}

void ReaderSession::Close() { link.ClosePort(); }

Presence ReaderSession::LookAgain() {
    if (rule == FindAgain::Search) {
        if (!link.FindReader(protocol::kSearchHighestPort)) return Presence::Silent;
        ownPort = link.OpenPortNumber();
        return Presence::Answered;
    }
    if (!link.SelectPort(ownPort)) return Presence::PortGone;
    return link.Identify() ? Presence::Answered : Presence::Silent;
}

protocol::Identity ReaderSession::Reader() const {
    return {link.typeCode, link.serialNumber, link.firmwareVersion};
}

ImageVerdict ReaderSession::Judge(const std::optional<upgrade::Offer>& candidate) const {
    using Kind = ImageVerdict::Kind;
    ImageVerdict verdict;
    verdict.readerType = link.typeCode;
    verdict.firmwareVersion = link.firmwareVersion;
    if (!candidate) return verdict;
    const upgrade::Image image = candidate->image;
    verdict.offer = candidate;
    verdict.intact = upgrade::IsIntact(image);
    verdict.imageType = upgrade::TypeCode(image);
    verdict.imageVersion = upgrade::Version(image);
    // A file for another type would leave the reader without working firmware.
    if (verdict.imageType != verdict.readerType) {
        verdict.kind = Kind::WrongType;
    } else if (verdict.imageVersion <= verdict.firmwareVersion) {
        verdict.kind = Kind::UpToDate;
    } else if (upgrade::IsStandIn(image) && !link.OnStandInLine()) {
        // Filler goes only where a program plays the reader (a pseudo-terminal):
        // a reader on a serial device is treated as having no image.
        verdict.kind = Kind::StandInOnly;
    } else {
        verdict.kind = Kind::Due;
    }
    return verdict;
}

bool ReaderSession::Upgrade(upgrade::Image image, const UpgradeEvents& events) {
    Transfer(image, events);
    return LookAgain() == Presence::Answered;
}

void ReaderSession::Transfer(upgrade::Image image, const UpgradeEvents& events) {
    using Kind = UpgradeEvent::Kind;
    const auto tell = [&events](Kind kind, int step, int steps) {
        if (events) events({kind, step, steps});
    };
    link.UpgradeBegin(upgrade::Header(image), kBeginAllowanceMs);
    const uint16_t blocks = upgrade::BlockCount(image);
    tell(Kind::BlocksBegin, 0, blocks);
    try {
        for (uint16_t index = 0; index < blocks; ++index) {
            tell(Kind::BlockAcknowledged, index, blocks);
            try {
                link.UpgradeBlock(index, upgrade::Block(image, index), kBlockAllowanceMs);
            } catch (CommErr& error) {
                error.DuringBlock(index + 1, blocks);
                throw;
            }
        }
        tell(Kind::BlockAcknowledged, blocks, blocks);
        link.UpgradeSeal(upgrade::SerialRecord(image, link.serialNumber), kSealAllowanceMs);
        link.UpgradeFinish(kFinishAllowanceMs);
        tell(Kind::Closing, 0, kClosingSteps);
        for (int step = 1; step <= kClosingSteps; ++step) {
            services.Sleep(kClosingStepMs);
            tell(Kind::Closing, step, kClosingSteps);
        }
    } catch (...) {
        tell(Kind::TransferEnded, 0, 0);
        throw;
    }
    tell(Kind::TransferEnded, 0, 0);
}

ReaderConfig ReaderSession::Read() {
    ReaderConfig record{};
    link.ReadConfig(record);
    return record;
}

void ReaderSession::Write(const ReaderConfig& record) { link.WriteConfig(record); }

ReaderConfig ReaderSession::WriteAndReadBack(const ReaderConfig& record) {
    Write(record);
    return Read();
}

void ReaderSession::ShowResult(bool success) {
    const protocol::LFrame frame =
        protocol::BuildLFrame(success, !success, kShowForGood, success ? kShortBeep : kLongBeep);
    // The payload of the frame the Test page sends for the same choices.
    link.TransactStatus(protocol::kLeds, 3, frame.data() + 3, 0);
}

}  // namespace session
