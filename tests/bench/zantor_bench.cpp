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
        : services{{folder.Path(), /*systemPorts=*/false, comports::DefaultLockFolders(), driver}} {
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
    YesDialogs dialogs;
    TMainWin win{services, dialogs};
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
          holders{"  of which the look for other holders", {}, 0, "ms"},
          check{"  of which the check (identification)", {}, kIdentify * kByteMs, "ms"},
          animation{"  of which the animation", {}, kAnimationMs, "ms"},
          load{"  of which the 'c' exchange and the controls", {}, kReadConfig * kByteMs, "ms"} {}

    std::vector<Row> All() const {
        return {start, holders, read, check, animation, load, write, upgrade};
    }

    Row start;
    Row read;
    Row write;
    Row upgrade;
    // Part of the start: every port that is opened is first looked for in
    // every process's descriptors. Its floor is nothing.
    Row holders;
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
        f.start.samples.push_back(MsSince(begun));
        b.Expect(b.Label().startsWith(QStringLiteral("Czytnik Zantor-40")), "start");
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
