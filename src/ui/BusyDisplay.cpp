#include "BusyDisplay.h"

#include <QAbstractEventDispatcher>
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
    // The input that this kept back waits on the platform's side (xcb puts it
    // aside until its event source is next dispatched, and only a wake-up of the
    // event loop has it dispatched; a timer's tick does not). Waking the loop
    // here has it delivered, in the order it came, by the first loop that takes
    // input: the window's own as soon as the operation is over, not whenever
    // something else happens to arrive from the display.
    if (QAbstractEventDispatcher* loop = QCoreApplication::eventDispatcher()) loop->wakeUp();
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
