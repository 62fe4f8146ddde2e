#include "BusyDisplay.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <QWidget>
#include <QWindow>

#include "ScopeExit.h"

namespace busydisplay {

namespace {

int serving = 0;

// How often the display is looked at while a window waits to be exposed.
constexpr unsigned long kExposurePollMs = 2;

}  // namespace

void Serve() {
    ++serving;
    const ScopeExit done([] { --serving; });
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

bool Serving() { return serving > 0; }

void ShowPainted(QWidget& window, int boundMs) {
    window.show();
    window.raise();
    const QWindow* handle = window.windowHandle();
    const QDeadlineTimer deadline(boundMs);
    Serve();
    while (handle != nullptr && !handle->isExposed() && !deadline.hasExpired()) {
        QThread::msleep(kExposurePollMs);
        Serve();
    }
    window.repaint();
}

}  // namespace busydisplay
