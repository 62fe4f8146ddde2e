#include <QString>

#include "Dialogs.h"
#include "MainWin.h"
#include "ScopeExit.h"
#include "UpgradeTransfer.h"
#include "WorkWin.h"

namespace {

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

    // The window's bar follows the transfer; the window is hidden again however
    // the transfer ends.
    class WindowProgress : public upgrade::Progress {
    public:
        explicit WindowProgress(TWorkWin& window) : window(window) {}
        void Show(int maximum) override {
            window.ShowProgress(QStringLiteral("Ładowanie nowej wersji oprogramowania"), maximum);
        }
        void SetMaximum(int maximum) override { window.SetMaximum(maximum); }
        void SetPosition(int position) override { window.SetPosition(position); }
        void Hide() override { window.hide(); }

    private:
        TWorkWin& window;
    };
    Q_ASSERT(workWin != nullptr);
    WindowProgress progress(*workWin);
    upgrade::Transfer(link, services, image, progress);
    // The new firmware reports its version; a reader that stays silent keeps the
    // values from before, and the upgrade counts as done all the same.
    link.FindReader(Zantor50::kHighestPort);
    return true;
}
