#include <QString>

#include "Dialogs.h"
#include "MainWin.h"
#include "ScopeExit.h"
#include "WorkWin.h"

namespace {

// Extra reply allowances of the upgrade commands, in milliseconds.
constexpr uint32_t kBeginAllowanceMs = 500;
constexpr uint32_t kBlockAllowanceMs = 500;
constexpr uint32_t kSealAllowanceMs = 1000;
constexpr uint32_t kFinishAllowanceMs = 200;

// The closing phase: the bar runs from 60 to 100 while the reader restarts.
constexpr int kClosingSteps = 21;
constexpr int kClosingFirstPosition = 60;
constexpr int kClosingPositionStep = 2;
constexpr uint32_t kClosingStepMs = 100;

const char kQuestion[] =
    "    Czytnik zawiera nieaktualne oprogramowanie.\n"
    "    Niektóre ustawienia konfiguracji nie będą\n"
    "    prawidłowow realizowane.\n"
    "\n"
    "    Wykonać upgrade oprogramowania czytnika?";

}  // namespace

bool TMainWin::OfferUpgrade() {
    const std::optional<upgrade::Offer> offer =
        upgrade::UpgradeDue(imageSource(link.typeCode), link.firmwareVersion, link.OnStandInLine());
    if (!offer) return false;
    const upgrade::Image image = offer->image;

    // No poll may read the port from the question to the end, however it ends.
    timer.stop();
    const ScopeExit restartTimer([this] { timer.start(); });
    if (!dialogs.AskYesNo(QString::fromUtf8(offer->caption), QString::fromUtf8(kQuestion))) {
        return false;
    }
    if (!upgrade::IsIntact(image)) {
        dialogs.ShowMessage(QStringLiteral("Błąd pliku upgrade."));
        return false;
    }

    link.UpgradeBegin(upgrade::Header(image), kBeginAllowanceMs);
    {
        Q_ASSERT(workWin != nullptr);
        TWorkWin& progress = *workWin;
        const ScopeExit hideProgress([&progress] { progress.hide(); });
        const uint16_t blocks = upgrade::BlockCount(image);
        progress.ShowProgress(QStringLiteral("Ładowanie nowej wersji oprogramowania"),
                              upgrade::BlocksBarMaximum(blocks));
        for (uint16_t index = 0; index < blocks; ++index) {
            progress.SetPosition(index);
            link.UpgradeBlock(index, upgrade::Block(image, index), kBlockAllowanceMs);
        }
        progress.SetPosition(blocks);
        link.UpgradeSeal(upgrade::SerialRecord(image, link.serialNumber), kSealAllowanceMs);
        link.UpgradeFinish(kFinishAllowanceMs);

        progress.SetMaximum(100);
        for (int step = 0; step < kClosingSteps; ++step) {
            services.Sleep(kClosingStepMs);
            progress.SetPosition(kClosingFirstPosition + step * kClosingPositionStep);
        }
    }
    // The new firmware reports its version; a reader that stays silent keeps the
    // values from before, and the upgrade counts as done all the same.
    link.FindReader(Zantor50::kHighestPort);
    return true;
}
