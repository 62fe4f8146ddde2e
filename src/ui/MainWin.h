#pragma once

#include <QMainWindow>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "ReaderConfig.h"
#include "ReaderSession.h"
#include "TestPage.h"
#include "UpgradeImage.h"

class Dialogs;
class QProgressBar;
class TWorkWin;

namespace Ui {
class MainWin;
}

// The main window: finds the reader, shows its state, binds its configuration
// record to the settings controls, offers the firmware upgrade and holds the
// Test page, each through the reader session. Every serial exchange runs
// synchronously on the GUI thread.
class TMainWin : public QMainWindow {
    Q_OBJECT

public:
    // Where the upgrade image of a reader type comes from.
    using ImageSource = std::function<std::optional<upgrade::Offer>(uint16_t typeCode)>;

    TMainWin(SerialServices& services, Dialogs& dialogs, QWidget* parent = nullptr);
    ~TMainWin() override;

    // The progress window that OfferUpgrade shows during a transfer; handed over
    // once, before the window is first shown.
    void SetWorkWin(TWorkWin& window);
    // Replaces the built-in upgrade images (upgrade::BuiltInImageFor).
    void SetImageSource(ImageSource source);

    // The Test page: the receive monitor, its log and the page's commands.
    TestPage& Test();

    // Reader check and configuration read (MainWin.cpp).
    bool CheckReader();
    void AnimateProgress(QProgressBar* bar);
    void LoadConfig();

    // Event handlers.
    void FormActivate();
    void RdBtnClick();
    void WrBtnClick();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;  // FormClose

private:
    void ConnectHandlers();
    void NameControls();
    void ApplicationStateChanged(Qt::ApplicationState state);

    // Window state (MainWin.cpp).
    void ShowReaderState(bool connected);
    void EnableParityGroups(bool enabled);
    void ShowCommError(bool invalidConfig);
    void WiegNoParBitChkBxClick();
    void LedChkBxClick();
    void BuzChkBxClick();

    // Configuration record and settings controls.
    void ConfigToControls();
    void ControlsToConfig();

    // Firmware upgrade (Upgrade.cpp).
    bool OfferUpgrade();

    std::unique_ptr<Ui::MainWin> ui;
    SerialServices& services;
    Dialogs& dialogs;
    session::ReaderSession session;
    ReaderConfig record{};
    TWorkWin* workWin = nullptr;
    ImageSource imageSource;
    // Built once the form is set up: the page binds the form's controls.
    std::unique_ptr<TestPage> test;

    bool busy = false;
    bool shownOnce = false;
    bool activatedOnce = false;
    bool awayFromProgram = false;
};
