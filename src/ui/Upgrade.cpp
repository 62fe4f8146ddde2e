#include <QString>
#include <algorithm>

#include "Dialogs.h"
#include "MainWin.h"
#include "ScopeExit.h"
#include "WorkWin.h"

namespace {

// Where the bar stands at the first of the restart's waits; the last one
// brings it to 100.
constexpr int kClosingFirstPosition = 60;

}  // namespace

bool TMainWin::OfferUpgrade() {
    const session::ImageVerdict verdict = session.Judge(imageSource(session.Reader().typeCode));
    if (verdict.kind != session::ImageVerdict::Kind::Due) return false;
    const upgrade::Offer& offer = *verdict.offer;

    // No poll may read the port from the question to the end, however it ends.
    test->StopMonitor();
    const ScopeExit restartMonitor([this] { test->StartMonitor(); });
    if (!dialogs.AskYesNo(QString::fromUtf8(offer.caption),
                          tr("    Czytnik zawiera nieaktualne oprogramowanie.\n"
                             "    Niektóre ustawienia konfiguracji nie będą\n"
                             "    prawidłowow realizowane.\n"
                             "\n"
                             "    Wykonać upgrade oprogramowania czytnika?"))) {
        return false;
    }
    if (!verdict.intact) {
        dialogs.ShowMessage(tr("Błąd pliku upgrade."));
        return false;
    }

    // The bar runs over the blocks at N of N * 100 / 60, then from 60 to 100 in
    // even steps while the reader restarts, one at the end of each wait; the
    // window is hidden again however the transfer ends.
    Q_ASSERT(workWin != nullptr);
    TWorkWin& window = *workWin;
    const QString loading = tr("Ładowanie nowej wersji oprogramowania");
    const auto showProgress = [&window, &loading](const session::UpgradeEvent& event) {
        using Kind = session::UpgradeEvent::Kind;
        switch (event.kind) {
            case Kind::BlocksBegin:
                window.ShowProgress(loading,
                                    upgrade::BlocksBarMaximum(static_cast<uint16_t>(event.steps)));
                break;
            case Kind::BlockAcknowledged:
                window.SetPosition(event.step);
                break;
            case Kind::Closing:
                if (event.step == 0) {
                    window.SetMaximum(100);
                } else {
                    window.SetPosition(kClosingFirstPosition + (event.step - 1) *
                                                                   (100 - kClosingFirstPosition) /
                                                                   std::max(event.steps - 1, 1));
                }
                break;
            case Kind::TransferEnded:
                window.hide();
                break;
        }
    };
    // The new firmware reports its version; a reader that stays silent keeps the
    // values from before, and the upgrade counts as done all the same.
    session.Upgrade(offer.image, showProgress);
    return true;
}
