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

}  // namespace

ReaderSession::ReaderSession(SerialServices& services, AfterUpgrade afterUpgrade)
    : services(services), afterUpgrade(afterUpgrade), link(services) {}

bool ReaderSession::Connect(int port) {
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

std::optional<upgrade::Offer> ReaderSession::UpgradeDue(
    const std::optional<upgrade::Offer>& candidate) const {
    return upgrade::UpgradeDue(candidate, link.firmwareVersion, link.OnStandInLine());
}

bool ReaderSession::Upgrade(upgrade::Image image, const UpgradeEvents& events) {
    const int port = link.OpenPortNumber();
    Transfer(image, events);
    if (afterUpgrade == AfterUpgrade::Search) {
        return link.FindReader(protocol::kSearchHighestPort);
    }
    return link.SelectPort(port) && link.Identify();
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

}  // namespace session
