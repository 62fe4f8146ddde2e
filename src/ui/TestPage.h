#pragma once

#include <QObject>
#include <QTimer>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "ConfigBinding.h"
#include "ReaderSession.h"

class QString;

namespace Ui {
class MainWin;
}

// The Test page of the main window: the receive monitor, which logs whatever
// the reader sends, and the T, M and L commands, each sent after the window's
// reader check. The page's controls are the form's; its texts keep the
// window's context in the catalogue (TMainWin::tr).
class TestPage : public QObject {
    Q_OBJECT

public:
    // busy is the window's flag that one handler at a time holds (BusyScope);
    // checkReader is the window's reader check, which may offer the upgrade.
    TestPage(Ui::MainWin& ui, session::ReaderSession& session, bool& busy,
             std::function<bool()> checkReader);

    // The monitor's poll, while something else has the port to itself for
    // longer than one exchange (the upgrade, from its question to its end).
    void StopMonitor();
    void StartMonitor();

    // One tick of the monitor: logs what arrived since the last one.
    void TimerTimer();
    void LogLine(const QString& text);

private:
    void ConnectHandlers();
    size_t LogRows() const;
    void TestTabShow();
    void RozkTBtnClick();
    void RozkMBtnClick();
    void RozkLShow();
    void RozkLBtnClick();

    Ui::MainWin& ui;
    session::ReaderSession& session;
    bool& busy;
    std::function<bool()> checkReader;
    binding::BoxRow lBuz;
    std::array<uint8_t, 8> lFrame{};
    // A child of the page's widget, and so of the window, named "Timer".
    QTimer timer;
};
