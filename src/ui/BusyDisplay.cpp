#include "BusyDisplay.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QList>
#include <QPointer>
#include <QThread>
#include <QWidget>
#include <QWindow>
#include <utility>

#include "ScopeExit.h"

namespace busydisplay {

namespace {

int serving = 0;

// How often the display is looked at while a window waits to be exposed.
constexpr unsigned long kExposurePollMs = 2;

// Holds the user's input while an operation is in progress, as an event filter
// of the application, so that it sees the input before any window or control.
class InputHold : public QObject {
public:
    int operations = 0;
    int dialogs = 0;
    QList<QPointer<QWidget>> closeRequests;

    static InputHold& Instance() {
        static QPointer<InputHold> hold;
        if (hold.isNull()) hold = new InputHold(QCoreApplication::instance());
        return *hold;
    }

protected:
    bool eventFilter(QObject* receiver, QEvent* event) override {
        if (dialogs > 0) return false;
        switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::MouseMove:
            case QEvent::Wheel:
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
            case QEvent::ShortcutOverride:
            case QEvent::Shortcut:
            case QEvent::InputMethod:
            case QEvent::TouchBegin:
            case QEvent::TouchUpdate:
            case QEvent::TouchEnd:
            case QEvent::TouchCancel:
            case QEvent::TabletPress:
            case QEvent::TabletMove:
            case QEvent::TabletRelease:
            case QEvent::ContextMenu:
            case QEvent::NativeGesture:
                return true;
            case QEvent::Close:
                // Only the window system's request reaches a widget as a
                // spontaneous close; the program's own close() does not.
                if (!receiver->isWidgetType() || !event->spontaneous()) return false;
                closeRequests.append(static_cast<QWidget*>(receiver));
                event->ignore();
                return true;
            default:
                return false;
        }
    }

private:
    using QObject::QObject;
};

// Serves the display once more after a round trip to it, so that input given
// until now has arrived and is dropped rather than left for the next loop.
void DropInputSoFar() {
    ++serving;
    const ScopeExit done([] { --serving; });
    QGuiApplication::sync();
}

}  // namespace

Operation::Operation() {
    InputHold& hold = InputHold::Instance();
    if (hold.operations++ == 0) QCoreApplication::instance()->installEventFilter(&hold);
}

Operation::~Operation() {
    InputHold& hold = InputHold::Instance();
    if (hold.operations > 1) {
        --hold.operations;
        return;
    }
    DropInputSoFar();
    hold.operations = 0;
    QCoreApplication::instance()->removeEventFilter(&hold);
    for (const QPointer<QWidget>& window : std::exchange(hold.closeRequests, {})) {
        if (!window.isNull()) window->close();
    }
}

DialogLoop::DialogLoop() {
    InputHold& hold = InputHold::Instance();
    if (hold.operations > 0) DropInputSoFar();
    ++hold.dialogs;
}

DialogLoop::~DialogLoop() { --InputHold::Instance().dialogs; }

void Serve() {
    const Operation operation;
    ++serving;
    const ScopeExit done([] { --serving; });
    QCoreApplication::processEvents();
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
