// Timings of the line-bound work against the emulator paced at 19200 baud 8-N-1,
// each next to its floor: the bytes that must cross the line at the line rate,
// both ways, plus the waits that the program must make. Every figure is taken
// twice: on the pseudo-terminal, whose output queue reads empty at once, and on
// a modelled UART, whose queue drains at the line rate. Not a test: it prints a
// table (`make bench`).

#include <time.h>

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "ComPortsInternal.h"
#include "Dialogs.h"
#include "MainWin.h"
#include "PosixSerialServices.h"
#include "SimProcess.h"
#include "UartModel.h"
#include "WorkWin.h"

namespace {

// Start, read and write are short and vary by a few tenths of a millisecond from
// run to run; their median is taken over more runs than the upgrade's.
constexpr int kRuns = 9;
constexpr int kUpgradeRuns = 5;
constexpr int kIdleRuns = 3;
constexpr int kIdleMs = 10000;
// One byte of 8-N-1 (start, 8 data, stop) at 19200 baud, in milliseconds.
constexpr double kByteMs = 10.0 * 1000.0 / 19200.0;
constexpr double kOpenPauseMs = 100;          // after every fresh opening
constexpr double kAnimationMs = 21 * 5 + 50;  // under the read and write buttons
constexpr double kClosingPhaseMs = 21 * 100;  // after the last upgrade command

// Request and reply sizes on the wire, in bytes.
constexpr int kIdentify = 5 + 11;
constexpr int kReadConfig = 5 + 13;
constexpr int kWriteConfig = 17 + 6;
constexpr int kUpgrade14 = (21 + 6) + 14 * (527 + 6) + (13 + 6) + (5 + 6);

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double ProcessCpuMs() {
    timespec cpu{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
    return cpu.tv_sec * 1000.0 + cpu.tv_nsec / 1e6;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Notes when each call into the serial services began and ended, so that the
// start can be told apart into its parts without touching the program.
class TimedServices : public SerialServices {
public:
    struct Call {
        const char* op;
        int port;  // for Open
        Clock::time_point begun;
        Clock::time_point ended;
        double Ms() const {
            return std::chrono::duration<double, std::milli>(ended - begun).count();
        }
    };

    explicit TimedServices(SerialServices& inner) : inner(inner) {}
    std::vector<Call> calls;

    PortHandle Open(int n) override {
        return Timed("Open", n, [&] { return inner.Open(n); });
    }
    bool GetState(PortHandle h, LineSettings& s) override {
        return Timed("GetState", 0, [&] { return inner.GetState(h, s); });
    }
    bool SetState(PortHandle h, const LineSettings& s) override {
        return Timed("SetState", 0, [&] { return inner.SetState(h, s); });
    }
    bool SetupQueues(PortHandle h, uint32_t in, uint32_t out) override {
        return Timed("SetupQueues", 0, [&] { return inner.SetupQueues(h, in, out); });
    }
    bool SetTimeouts(PortHandle h, const CommTimeouts& t) override {
        return Timed("SetTimeouts", 0, [&] { return inner.SetTimeouts(h, t); });
    }
    uint32_t Read(PortHandle h, uint8_t* buffer, uint32_t count) override {
        return Timed("Read", 0, [&] { return inner.Read(h, buffer, count); });
    }
    uint32_t Write(PortHandle h, const uint8_t* bytes, uint32_t count) override {
        return Timed("Write", 0, [&] { return inner.Write(h, bytes, count); });
    }
    void Close(PortHandle h) override {
        Timed("Close", 0, [&] {
            inner.Close(h);
            return 0;
        });
    }
    void Sleep(uint32_t ms) override {
        Timed("Sleep", 0, [&] {
            inner.Sleep(ms);
            return 0;
        });
    }
    uint64_t NowMs() override { return inner.NowMs(); }
    bool IsStandInLine(PortHandle h) override { return inner.IsStandInLine(h); }
    OpenFailure LastOpenFailure() override { return inner.LastOpenFailure(); }

private:
    template <class Action>
    std::invoke_result_t<Action> Timed(const char* op, int port, Action action) {
        const Clock::time_point begun = Clock::now();
        auto result = action();
        calls.push_back({op, port, begun, Clock::now()});
        return result;
    }

    SerialServices& inner;
};

// Answers every question with Yes and notes when it did.
class YesDialogs : public Dialogs {
public:
    Clock::time_point answeredAt;
    int messages = 0;
    void ShowMessage(const QString& text) override {
        ++messages;
        std::fprintf(stderr, "bench: unexpected message: %s\n", text.toUtf8().constData());
    }
    bool AskYesNo(const QString&, const QString&) override {
        answeredAt = Clock::now();
        return true;
    }
};

// The main window over the POSIX serial services, with the emulator as COM3 of
// a private port folder (COM1 and COM2 have no device).
class Bench {
public:
    Bench(const std::vector<std::string>& simArgs, TtyDriver* driver)
        : services{{folder.Path(), /*systemPorts=*/false, comports::DefaultLockFolders(), driver}},
          timed(services) {
        std::vector<std::string> all = {"--port",        "3", "--folder",  folder.Path(),
                                        "--reply-delay", "0", "--no-stdin"};
        all.insert(all.end(), simArgs.begin(), simArgs.end());
        if (!sim.Start(all) || !sim.WaitReady()) {
            std::fprintf(stderr, "bench: the emulator did not start\n%s", sim.Transcript().c_str());
            std::exit(1);
        }
        win.SetWorkWin(work);
        // The window has finished building before anything is timed (its posted
        // polish and layout work is served), as a shown window has before its
        // first activation.
        QCoreApplication::processEvents();
    }
    // The window is shown once its first activation has been timed, so that what
    // follows paints as it would on screen; the activation that showing queues
    // finds the window activated already.
    void Show() {
        win.show();
        QCoreApplication::processEvents();
    }
    QString Label() const { return win.findChild<QLabel*>(QStringLiteral("RdLbl"))->text(); }
    void Expect(bool ok, const char* what) const {
        if (ok) return;
        std::fprintf(stderr, "bench: %s failed (label: %s)\n", what, Label().toUtf8().constData());
        std::exit(1);
    }

    simtest::TempPortFolder folder;
    simtest::SimProcess sim;
    PosixSerialServices services;
    TimedServices timed;
    YesDialogs dialogs;
    TMainWin win{timed, dialogs};
    TWorkWin work;
};

struct Row {
    std::string what;
    std::vector<double> samples;
    double floor;
    const char* unit;
};

void Print(const std::vector<Row>& rows) {
    std::printf("%-50s %10s %10s %8s\n", "measured (median of runs)", "figure", "floor", "ratio");
    for (const Row& row : rows) {
        const double figure = Median(row.samples);
        if (row.floor == 0) {
            std::printf("%-50s %7.1f %s %10s %8s\n", row.what.c_str(), figure, row.unit, "-", "-");
            continue;
        }
        std::printf("%-50s %7.1f %s %7.1f %s %8.3f\n", row.what.c_str(), figure, row.unit,
                    row.floor, row.unit, figure / row.floor);
    }
}

// The offscreen platform cannot raise windows or pass size hints on; it says so
// each time a window is shown.
void DropPlatformNotes(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtWarningMsg && text.startsWith(QStringLiteral("This plugin does not support"))) {
        return;
    }
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
}

// The rows of one kind of line, "(pty)" or "(UART)" after each name.
struct Figures {
    explicit Figures(const std::string& line)
        : start{"start to connected, reader on COM3 " + line,
                {},
                kOpenPauseMs + (kIdentify + kReadConfig) * kByteMs,
                "ms"},
          read{"configuration read, press to done " + line,
               {},
               kAnimationMs + (kIdentify + kReadConfig) * kByteMs,
               "ms"},
          write{"configuration write, press to done " + line,
                {},
                kAnimationMs + (kIdentify + kWriteConfig) * kByteMs,
                "ms"},
          upgrade{"14-block upgrade, answer to label " + line,
                  {},
                  kClosingPhaseMs + (kUpgrade14 + kIdentify) * kByteMs,
                  "ms"},
          resolveCom1{"  of which resolving COM1 (no device)", {}, 0, "ms"},
          resolveCom2{"  of which resolving COM2 (no device)", {}, 0, "ms"},
          resolveSystem{"    the same among system ports, console left out", {}, 0, "ms"},
          served{"  of which the display served before each port", {}, 0, "ms"},
          open{"  of which opening COM3", {}, 0, "ms"},
          console{"    of which the console check", {}, 0, "ms"},
          holders{"    of which the look for other holders", {}, 0, "ms"},
          lineSettings{"  of which the line settings and timeouts", {}, 0, "ms"},
          settle{"  of which the pause after opening", {}, kOpenPauseMs, "ms"},
          identify{"  of which the identification", {}, kIdentify * kByteMs, "ms"},
          startLoad{
              "  of which the 'c' exchange and the controls", {}, kReadConfig * kByteMs, "ms"},
          check{"  of which the check (identification)", {}, kIdentify * kByteMs, "ms"},
          animation{"  of which the animation", {}, kAnimationMs, "ms"},
          load{"  of which the 'c' exchange and the controls", {}, kReadConfig * kByteMs, "ms"} {}

    std::vector<Row> All() const {
        return {start,   resolveCom1, resolveCom2,  resolveSystem, served,   open,
                console, holders,     lineSettings, settle,        identify, startLoad,
                read,    check,       animation,    load,          write,    upgrade};
    }

    // The start, told apart by the calls it made into the serial services: the
    // time spent in each and between them.
    void AddStartParts(const std::vector<TimedServices::Call>& calls, Clock::time_point begun,
                       Clock::time_point ended) {
        const auto ms = [](Clock::time_point from, Clock::time_point to) {
            return std::chrono::duration<double, std::milli>(to - from).count();
        };
        const auto is = [](const TimedServices::Call& call, std::string_view op) {
            return op == call.op;
        };
        double betweenPorts = 0;
        Clock::time_point last = begun;
        Clock::time_point opened{};
        Clock::time_point settled{};
        std::vector<Clock::time_point> writes;
        for (const TimedServices::Call& call : calls) {
            if (is(call, "Open")) {
                betweenPorts += ms(last, call.begun);
                if (call.port == 1) resolveCom1.samples.push_back(call.Ms());
                if (call.port == 2) resolveCom2.samples.push_back(call.Ms());
                if (call.port == 3) {
                    open.samples.push_back(call.Ms());
                    opened = call.ended;
                }
            } else if (is(call, "Sleep") && settled == Clock::time_point{}) {
                lineSettings.samples.push_back(ms(opened, call.begun));
                settle.samples.push_back(call.Ms());
                settled = call.ended;
            } else if (is(call, "Write")) {
                writes.push_back(call.begun);
            }
            last = call.ended;
        }
        served.samples.push_back(betweenPorts);
        if (writes.size() >= 2) {
            identify.samples.push_back(ms(settled, writes[1]));
            startLoad.samples.push_back(ms(writes[1], ended));
        }
    }

    Row start;
    Row read;
    Row write;
    Row upgrade;
    // Parts of the start: resolving the numbers before the reader's, serving the
    // display before each port, opening the reader's port (the console check and
    // the look for other holders, each timed again on its own), the line
    // settings, the pause, the identification, and the record.
    Row resolveCom1;
    Row resolveCom2;
    Row resolveSystem;
    Row served;
    Row open;
    Row console;
    Row holders;
    Row lineSettings;
    Row settle;
    Row identify;
    Row startLoad;
    // Parts of the read, to tell where its time goes.
    Row check;
    Row animation;
    Row load;
};

void Measure(TtyDriver* driver, Figures& f) {
    for (int run = 0; run < kRuns; ++run) {
        Bench b({}, driver);
        // The first activation: the scan finds COM3, identifies, reads the record.
        const Clock::time_point begun = Clock::now();
        b.win.FormActivate();
        const Clock::time_point ended = Clock::now();
        f.start.samples.push_back(MsSince(begun));
        b.Expect(b.Label().startsWith(QStringLiteral("Czytnik Zantor-40")), "start");
        f.AddStartParts(b.timed.calls, begun, ended);
        // In the installed program COM1 and COM2 take the system's serial ports;
        // on a machine whose only one is its console they lead nowhere. Resolving
        // opens nothing.
        const Clock::time_point systemBegun = Clock::now();
        comports::ResolvePort(1, b.folder.Path(), /*systemPorts=*/true);
        f.resolveSystem.samples.push_back(MsSince(systemBegun));
        const Clock::time_point consoleBegun = Clock::now();
        comports::IsConsole(b.sim.Device(), comports::kTtyClassDir);
        f.console.samples.push_back(MsSince(consoleBegun));
        const Clock::time_point holdersBegun = Clock::now();
        comports::FindOpener(b.sim.Device());
        f.holders.samples.push_back(MsSince(holdersBegun));
        b.Show();

        const Clock::time_point readBegun = Clock::now();
        b.win.RdBtnClick();
        f.read.samples.push_back(MsSince(readBegun));

        const Clock::time_point writeBegun = Clock::now();
        b.win.WrBtnClick();
        f.write.samples.push_back(MsSince(writeBegun));

        const Clock::time_point checkBegun = Clock::now();
        b.Expect(b.win.CheckReader(), "check");
        f.check.samples.push_back(MsSince(checkBegun));

        const Clock::time_point animationBegun = Clock::now();
        b.win.AnimateProgress(b.win.findChild<QProgressBar*>(QStringLiteral("RdProgrBar")));
        f.animation.samples.push_back(MsSince(animationBegun));

        const Clock::time_point loadBegun = Clock::now();
        b.win.LoadConfig();
        f.load.samples.push_back(MsSince(loadBegun));
        b.Expect(b.dialogs.messages == 0, "read and write");
    }

    for (int run = 0; run < kUpgradeRuns; ++run) {
        // The main window stays hidden: showing it would queue its first
        // activation, which would run this check itself. The progress window
        // shows and paints as on screen.
        Bench b({"--firmware", "6"}, driver);
        b.Expect(b.win.CheckReader(), "upgrade");
        f.upgrade.samples.push_back(MsSince(b.dialogs.answeredAt));
        b.Expect(b.Label().endsWith(QStringLiteral("(soft: 7)")), "upgrade");
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(DropPlatformNotes);
    QApplication app(argc, argv);

    Figures pty("(pty)");
    Figures uart("(UART)");
    UartModel model;
    Measure(nullptr, pty);
    Measure(&model, uart);
    std::vector<double> idleCpuMs;

    {
        // Connected and silent: every tick waits up to 62 ms for a byte that does
        // not come, and that wait must sleep in the kernel.
        Bench b({}, nullptr);
        b.win.FormActivate();
        b.Show();
        b.win.findChild<QTabWidget*>(QStringLiteral("CfgPgCtrl"))->setCurrentIndex(1);
        b.Expect(b.Label().startsWith(QStringLiteral("Czytnik Zantor-40")), "idle");
        for (int run = 0; run < kIdleRuns; ++run) {
            const double cpuBefore = ProcessCpuMs();
            QTimer::singleShot(kIdleMs, &app, &QCoreApplication::quit);
            QApplication::exec();
            idleCpuMs.push_back(ProcessCpuMs() - cpuBefore);
        }
    }

    std::vector<Row> rows = pty.All();
    for (const Row& row : uart.All()) rows.push_back(row);
    Print(rows);
    const double idleMs = Median(idleCpuMs);
    std::printf("%-50s %7.1f ms per %d s = %.2f %% of one core (median of %d)\n",
                "CPU while connected and idle on the Test page", idleMs, kIdleMs / 1000,
                100.0 * idleMs / kIdleMs, kIdleRuns);
    return 0;
}
