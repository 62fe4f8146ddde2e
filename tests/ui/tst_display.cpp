// What a person sees and reaches on a real X display (run under xvfb-run with
// the xcb platform): the progress window of an upgrade as the screen shows it,
// the mode pages under the wheel and the keyboard, and the names that
// assistive technology reads.

#include <poll.h>
#include <xcb/xcb.h>

#include <QAccessible>
#include <QAccessibleInterface>
#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QTabBar>
#include <QTabWidget>
#include <QThread>
#include <QWheelEvent>
#include <QtTest>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <iterator>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "EndToEnd.h"
#include "QtDialogs.h"
#include "RadioGroup.h"

namespace {

// The fault that this watches for comes and goes with the display's timing: one
// upgrade for each delay of the window manager.
constexpr int kWindowManagerLatencyMs[] = {0, 10, 20, 50, 100};
constexpr int kUpgrades = std::size(kWindowManagerLatencyMs);
constexpr int kUpgradeMs = 30000;
constexpr int kExposedMs = 5000;

QRect GlobalRect(const QWidget& widget) {
    return {widget.mapToGlobal(QPoint(0, 0)), widget.size()};
}

QImage Screen(const QRect& area) {
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

QImage Rendered(QWidget& widget) {
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Share of the pixels of `part` that the screen shot `shot` (taken of an area
// whose top left is `origin`) shows as `part` placed at `at`.
double SameShare(const QImage& shot, QPoint origin, const QImage& part, QPoint at) {
    int same = 0;
    for (int y = 0; y < part.height(); ++y) {
        for (int x = 0; x < part.width(); ++x) {
            same += shot.pixel(at - origin + QPoint(x, y)) == part.pixel(x, y) ? 1 : 0;
        }
    }
    return double(same) / (part.width() * part.height());
}

// How much of the bar's width the highlighted chunk fills on screen, read along a
// row in the bar's upper half.
double FilledShare(const QImage& shot, QPoint origin, const QRect& bar) {
    int filled = 0;
    const int y = bar.top() + bar.height() / 3 - origin.y();
    for (int x = bar.left(); x <= bar.right(); ++x) {
        const QColor color = shot.pixelColor(x - origin.x(), y);
        filled += color.blue() > color.red() + 60 ? 1 : 0;
    }
    return double(filled) / bar.width();
}

xcb_atom_t InternAtom(xcb_connection_t* connection, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, uint16_t(strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    free(reply);
    return atom;
}

// A window manager that maps each window a moment after the program asked for
// it, as a desktop's window manager does: a window is exposed only after a round
// trip through it, never while the program's request is still on its way. Like
// a desktop's, it pings the windows it manages every 100 ms.
class WindowManager {
    using Clock = std::chrono::steady_clock;

public:
    explicit WindowManager(std::chrono::milliseconds latency)
        : connection(xcb_connect(nullptr, nullptr)),
          protocols(Atom("WM_PROTOCOLS")),
          ping(Atom("_NET_WM_PING")) {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        const uint32_t redirect =
            XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        free(xcb_request_check(connection,
                               xcb_change_window_attributes_checked(connection, screen->root,
                                                                    XCB_CW_EVENT_MASK, &redirect)));
        serve = std::thread([this, latency] {
            for (Clock::time_point pinged = Clock::now(); !stop;) {
                pollfd socket{xcb_get_file_descriptor(connection), POLLIN, 0};
                poll(&socket, 1, 20);
                while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
                    Handle(event, latency);
                    free(event);
                }
                if (Clock::now() - pinged > std::chrono::milliseconds(100)) {
                    pinged = Clock::now();
                    PingAll();
                }
                xcb_flush(connection);
            }
        });
    }
    ~WindowManager() {
        stop = true;
        serve.join();
        xcb_disconnect(connection);
    }
    WindowManager(const WindowManager&) = delete;
    WindowManager& operator=(const WindowManager&) = delete;

    // The longest that a window has left a ping unanswered so far; a desktop
    // shows a window as not responding after 5 s.
    std::chrono::milliseconds LongestPingWait() {
        const std::lock_guard<std::mutex> lock(mutex);
        Clock::duration longest = longestAnswer;
        for (const auto& [stamp, sent] : pending) {
            longest = std::max(longest, Clock::now() - sent.second);
        }
        return std::chrono::duration_cast<std::chrono::milliseconds>(longest);
    }

private:
    xcb_atom_t Atom(const char* name) { return InternAtom(connection, name); }

    void PingAll() {
        const std::lock_guard<std::mutex> lock(mutex);
        for (const xcb_window_t window : managed) {
            xcb_client_message_event_t message{};
            message.response_type = XCB_CLIENT_MESSAGE;
            message.format = 32;
            message.window = window;
            message.type = protocols;
            message.data.data32[0] = ping;
            message.data.data32[1] = ++stamp;
            message.data.data32[2] = window;
            xcb_send_event(connection, 0, window, XCB_EVENT_MASK_NO_EVENT,
                           reinterpret_cast<const char*>(&message));
            pending[stamp] = {window, Clock::now()};
        }
    }

    void Forget(xcb_window_t window) {
        const std::lock_guard<std::mutex> lock(mutex);
        managed.erase(std::remove(managed.begin(), managed.end(), window), managed.end());
        std::erase_if(pending,
                      [window](const auto& entry) { return entry.second.first == window; });
    }

    void Handle(const xcb_generic_event_t* event, std::chrono::milliseconds latency) {
        switch (event->response_type & 0x7F) {
            case XCB_MAP_REQUEST: {
                const xcb_window_t window =
                    reinterpret_cast<const xcb_map_request_event_t*>(event)->window;
                std::this_thread::sleep_for(latency);
                xcb_map_window(connection, window);
                const std::lock_guard<std::mutex> lock(mutex);
                managed.push_back(window);
                break;
            }
            case XCB_UNMAP_NOTIFY:
                Forget(reinterpret_cast<const xcb_unmap_notify_event_t*>(event)->window);
                break;
            case XCB_DESTROY_NOTIFY:
                Forget(reinterpret_cast<const xcb_destroy_notify_event_t*>(event)->window);
                break;
            case XCB_CLIENT_MESSAGE: {
                const auto* answer = reinterpret_cast<const xcb_client_message_event_t*>(event);
                if (answer->type != protocols || answer->data.data32[0] != ping) break;
                const std::lock_guard<std::mutex> lock(mutex);
                const auto sent = pending.find(answer->data.data32[1]);
                if (sent == pending.end()) break;
                longestAnswer = std::max(longestAnswer, Clock::now() - sent->second.second);
                pending.erase(sent);
                break;
            }
            default:
                break;
        }
    }

    xcb_connection_t* connection;
    xcb_atom_t protocols;
    xcb_atom_t ping;
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::vector<xcb_window_t> managed;
    uint32_t stamp = 0;
    std::map<uint32_t, std::pair<xcb_window_t, Clock::time_point>> pending;  // by time stamp
    Clock::duration longestAnswer{};
    std::thread serve;
};

// Input as the display delivers it, through the X server from a client of its
// own: a window manager's close request (WM_DELETE_WINDOW) to target, or a click
// of the first button on it. No window manager runs, so nothing else from the
// display wakes the program meanwhile.
void SendThroughTheServer(const QWidget& target, bool click) {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const xcb_window_t window = target.window()->winId();
    const QPoint at = target.mapTo(target.window(), target.rect().center());
    auto send = [&](const auto& event) {
        xcb_send_event(connection, 0, window, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&event));
    };
    if (click) {
        xcb_button_press_event_t button{};
        button.detail = 1;  // the first button
        button.event = window;
        button.event_x = int16_t(at.x());
        button.event_y = int16_t(at.y());
        button.same_screen = 1;
        for (const uint8_t type : {XCB_BUTTON_PRESS, XCB_BUTTON_RELEASE}) {
            button.response_type = type;
            send(button);
        }
    } else {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = InternAtom(connection, "WM_PROTOCOLS");
        message.data.data32[0] = InternAtom(connection, "WM_DELETE_WINDOW");
        send(message);
    }
    // Through the server, and on to the program's own connection.
    free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    xcb_disconnect(connection);
    QThread::msleep(50);
}

// What the screen showed during one upgrade. The question box is answered on
// screen; every move of the progress bar takes a shot of the screen around the
// progress window and the place where the box was.
class UpgradeWatch {
public:
    explicit UpgradeWatch(EndToEnd& e)
        : e(e), bar(*e.work.findChild<QProgressBar*>(QStringLiteral("ProgrBar"))) {
        e.dialogs.onShow = [this](const FakeDialogs::Shown& shown) {
            if (shown.question) AnswerOnScreen(shown);
        };
        QObject::connect(&bar, &QProgressBar::valueChanged, &bar,
                         [this](int value) { Sample(value); });
    }

    int samples = 0;
    QStringList faults;

private:
    void AnswerOnScreen(const FakeDialogs::Shown& shown) {
        QTimer answer;
        QDeadlineTimer deadline(kExposedMs);
        QObject::connect(&answer, &QTimer::timeout, [this, &answer, &deadline] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) return;
            if (!box->windowHandle()->isExposed()) {
                if (!deadline.hasExpired()) return;
                faults << QStringLiteral("the question box was never shown");
                answer.stop();
                box->reject();
                return;
            }
            answer.stop();
            QTest::qWait(100);  // painted
            boxArea = box->frameGeometry();
            boxShown = Screen(boxArea);
            mainUnder = e.win.grab(QRect(e.win.mapFromGlobal(boxArea.topLeft()), boxArea.size()))
                            .toImage()
                            .convertToFormat(QImage::Format_RGB32);
            box->button(QMessageBox::Yes)->click();
        });
        answer.start(20);
        QtDialogs().AskYesNo(shown.caption, shown.text);
    }

    // The screen shows the bar as it was drawn before this move: between the
    // previous position and this one.
    void Sample(int value) {
        ++samples;
        const double now = double(value) / bar.maximum();
        const double before = std::exchange(shown, now);
        auto* label = e.work.findChild<QLabel*>(QStringLiteral("WorkLbl"));
        const QRect work = GlobalRect(e.work);
        const QRect area = work.united(boxArea);
        const QImage shot = Screen(area);

        if (SameShare(shot, area.topLeft(), Rendered(*label), GlobalRect(*label).topLeft()) < 0.9) {
            faults << QStringLiteral("at %1: no progress window").arg(value);
            return;
        }
        const double filled = FilledShare(shot, area.topLeft(), GlobalRect(bar));
        if (filled < std::min(before, now) - 0.1 || filled > std::max(before, now) + 0.1) {
            faults << QStringLiteral("at %1: the bar shows %2").arg(value).arg(filled);
        }
        // Where the question box stood beside the progress window, the main window
        // shows again.
        int differing = 0;
        int restored = 0;
        for (int y = 0; y < boxArea.height(); ++y) {
            for (int x = 0; x < boxArea.width(); ++x) {
                const QPoint at = boxArea.topLeft() + QPoint(x, y);
                if (work.contains(at) || boxShown.pixel(x, y) == mainUnder.pixel(x, y)) continue;
                ++differing;
                restored += shot.pixel(at - area.topLeft()) == mainUnder.pixel(x, y) ? 1 : 0;
            }
        }
        if (restored < differing * 9 / 10) {
            faults << QStringLiteral("at %1: the question box is still on screen").arg(value);
        }
    }

    EndToEnd& e;
    QProgressBar& bar;
    QRect boxArea;
    QImage boxShown;
    QImage mainUnder;
    double shown = 0;
};

struct Path {
    const char* focus;  // control that has the focus, or the tab bar
    Qt::Key key;        // Qt::Key_unknown: a turn of the wheel over the tabs
    Qt::KeyboardModifiers modifiers;
};

}  // namespace

Q_DECLARE_METATYPE(Path)

class TestDisplay : public QObject {
    Q_OBJECT

private slots:
    void upgradeShowsItsProgressEveryTime();
    void hiddenModePageIsNeverReached_data();
    void hiddenModePageIsNeverReached();
    void everyControlHasAName();
    void inputDuringAnOperationIsHeld_data();
    void inputDuringAnOperationIsHeld();
    void closeAfterAFailedSearchEndsTheProgram();
};

void TestDisplay::upgradeShowsItsProgressEveryTime() {
    QVERIFY(QGuiApplication::platformName() == QLatin1String("xcb"));
    int showed = 0;
    QStringList faults;
    std::chrono::milliseconds longestPing{};
    for (const int latencyMs : kWindowManagerLatencyMs) {
        WindowManager manager{std::chrono::milliseconds(latencyMs)};
        EndToEnd e({"--firmware", "6", "--no-pacing"});
        UpgradeWatch watch(e);
        QVERIFY2(e.Start(kUpgradeMs), e.sim.Transcript().c_str());
        QCOMPARE(e.Frames("RX", 'z').size(), size_t{1});
        // 14 blocks, then 60 to 100 in steps of 2.
        QCOMPARE(watch.samples, 14 + 21);
        // The window manager's pings are answered all along, the transfer included.
        longestPing = std::max(longestPing, manager.LongestPingWait());
        if (watch.faults.isEmpty()) ++showed;
        for (const QString& fault : watch.faults) {
            faults << QStringLiteral("%1 ms: %2").arg(latencyMs).arg(fault);
        }
    }
    qInfo(
        "%d of %d upgrades showed the progress window throughout; the longest wait for an answer "
        "to a ping was %d ms",
        showed, kUpgrades, int(longestPing.count()));
    QVERIFY2(showed == kUpgrades, qPrintable(faults.join(QLatin1String("; "))));
    QVERIFY(longestPing < std::chrono::seconds(1));
}

void TestDisplay::hiddenModePageIsNeverReached_data() {
    QTest::addColumn<int>("page");
    QTest::addColumn<Path>("path");
    QTest::newRow("wheel over the tabs") << 1 << Path{"", Qt::Key_unknown, {}};
    QTest::newRow("Right on the tabs") << 1 << Path{"", Qt::Key_Right, {}};
    QTest::newRow("Ctrl+Tab") << 1 << Path{"CrLfChkBx", Qt::Key_Tab, Qt::ControlModifier};
    QTest::newRow("Ctrl+Shift+Tab")
        << 0 << Path{"BinRGrp", Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier};
}

void TestDisplay::hiddenModePageIsNeverReached() {
    QFETCH(int, page);
    QFETCH(Path, path);
    Harness h;
    h.services.AttachReader(1, h.reader);
    QVERIFY(h.Start());
    h.win.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&h.win));
    auto* modes = h.Find<QTabWidget>("TrybPgCtrl");
    modes->setCurrentIndex(page);
    QTabBar* tabs = modes->tabBar();

    if (path.key == Qt::Key_unknown) {
        const QPoint at = tabs->mapTo(&h.win, tabs->tabRect(page).center());
        QWheelEvent wheel(at, h.win.mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(h.win.windowHandle(), &wheel);
    } else {
        QWidget* focus = *path.focus != 0 ? h.Find<QWidget>(path.focus) : tabs;
        if (auto* group = qobject_cast<RadioGroup*>(focus)) {
            focus = group->findChildren<QAbstractButton*>().value(0);
        }
        focus->setFocus();
        QTest::keyClick(h.win.windowHandle(), path.key, path.modifiers);
    }
    QCoreApplication::processEvents();

    QCOMPARE(modes->currentIndex(), page);
    QWidget* wiegand = h.Find<QWidget>("WiegandPg");
    QVERIFY(!wiegand->isAncestorOf(QApplication::focusWidget()));
    QCOMPARE(h.Find<RadioGroup>("WiegSizeRGrp")->ItemIndex(), 0);
    QCOMPARE(h.Find<RadioGroup>("WiegOrderRGrp")->ItemIndex(), 0);
    QCOMPARE(h.Find<RadioGroup>("WiegBegBitRGrp")->ItemIndex(), 0);
    QCOMPARE(h.Find<RadioGroup>("WiegEndBitRGrp")->ItemIndex(), 1);
    QVERIFY(!h.Find<QCheckBox>("WiegNoParBitChkBx")->isChecked());
    QVERIFY(h.Find<RadioGroup>("WiegBegBitRGrp")->isEnabled());

    h.Find<QPushButton>("WrBtn")->click();
    QCOMPARE(h.RequestsOf('C'), 1);
    QCOMPARE(int{h.reader.requests.back()[3]} & 3, page);
}

// Every control that a screen reader announces says what it is, the boxes
// without caption included.
void TestDisplay::everyControlHasAName() {
    Harness h;
    QSet<QString> names;
    for (QWidget* top : {static_cast<QWidget*>(&h.win), static_cast<QWidget*>(&h.work)}) {
        for (QWidget* widget : top->findChildren<QWidget*>()) {
            QAccessibleInterface* control = QAccessible::queryAccessibleInterface(widget);
            QVERIFY(control != nullptr);
            const QAccessible::Role role = control->role();
            if (role != QAccessible::CheckBox && role != QAccessible::RadioButton &&
                role != QAccessible::Button && role != QAccessible::EditableText &&
                role != QAccessible::ProgressBar) {
                continue;
            }
            const QString name = control->text(QAccessible::Name);
            QVERIFY2(!name.trimmed().isEmpty(), qPrintable(widget->objectName()));
            if (widget->objectName().contains(QLatin1String("Buz"))) names << name;
        }
    }
    // "Aktywny", and one name for each box of the two rows.
    QCOMPARE(names.size(), 1 + 16);
}

void TestDisplay::inputDuringAnOperationIsHeld_data() {
    QTest::addColumn<bool>("upgrade");  // else a scan that finds no reader, started by RdBtn
    QTest::addColumn<bool>("during");   // else sent right after the operation
    QTest::addColumn<bool>("click");    // on RdBtn; else a close request
    QTest::newRow("close during a scan") << false << true << false;
    QTest::newRow("close right after a scan") << false << false << false;
    QTest::newRow("close during an upgrade") << true << true << false;
    QTest::newRow("click during a scan") << false << true << true;
    QTest::newRow("Return typed in the search does not answer the upgrade question")
        << true << false << true;
}

// Input during an operation is held by the program: a close request is carried
// out as soon as the operation is over, the rest is dropped, not left for later.
void TestDisplay::inputDuringAnOperationIsHeld() {
    QFETCH(bool, upgrade);
    QFETCH(bool, during);
    QFETCH(bool, click);
    Harness h;
    QPushButton* rdBtn = h.Find<QPushButton>("RdBtn");
    int scans = 0;
    QObject::connect(rdBtn, &QPushButton::clicked, [&] { ++scans; });
    auto send = [&] { SendThroughTheServer(click ? *rdBtn : static_cast<QWidget&>(h.win), click); };
    if (upgrade) {
        h.reader.firmwareVersion = 6;
        h.services.AttachReader(1, h.reader);
        h.services.MakeStandInLine(1);  // where the image built in is offered
        QObject::connect(h.work.findChild<QProgressBar*>(), &QProgressBar::valueChanged,
                         [&](int value) { value == 1 ? send() : void(); });
    }
    QTimer no;  // answers the question No on screen
    QObject::connect(&no, &QTimer::timeout, [] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box && box->windowHandle()->isExposed()) box->button(QMessageBox::No)->click();
    });
    if (upgrade && !during) {
        no.start(20);
        h.dialogs.onShow = [&h](const FakeDialogs::Shown& shown) {
            h.dialogs.answer = QtDialogs().AskYesNo(shown.caption, shown.text);
        };
        h.win.show();
        QTimer::singleShot(0, [&] {  // runs in the start-up search's first serving
            QProcess::execute("xdotool",
                              {"key", "--window", QString::number(h.win.winId()), "Return"});
        });
    }
    QVERIFY(h.Start() || (upgrade && during));  // the first check (and upgrade) is over
    if (!upgrade) {
        if (during) QTimer::singleShot(0, send);  // runs in the scan's first serving
        rdBtn->click();
        if (!during) send();
    }
    if (click) SendThroughTheServer(h.win, false);  // delivered after the input
    QVERIFY(QTest::qWaitFor([&] { return !h.win.isVisible(); }, 1000));
    QVERIFY(scans == (upgrade ? 0 : 1) && h.RequestsOf('Z') == (upgrade && during ? 1 : 0));
}

// As a user meets it: the reader goes, a real click (XTest) on "Odczyt
// konfiguracji" finds none, and 1.5 s later a window manager asks to close.
void TestDisplay::closeAfterAFailedSearchEndsTheProgram() {
    EndToEnd e({});
    QVERIFY(e.Start());
    e.sim.Stop();
    const QPushButton* rdBtn = e.Find<QPushButton>("RdBtn");
    const QPoint at = rdBtn->mapTo(&e.win, rdBtn->rect().center());
    QProcess::execute("xdotool", {"mousemove", "--window", QString::number(e.win.winId()),
                                  QString::number(at.x()), QString::number(at.y()), "click", "1"});
    QVERIFY(QTest::qWaitFor([&] { return e.Label() == QString::fromUtf8(kNotConnected); }));
    QTest::qWait(1500);
    SendThroughTheServer(e.win, false);
    QVERIFY(QTest::qWaitFor([&] { return !e.win.isVisible(); }, 1000));
}

QTEST_MAIN(TestDisplay)
#include "tst_display.moc"
