#pragma once

// The program end to end: the real main window over the POSIX serial services,
// with the reader emulator on a pseudo-terminal as the reader and its trace as
// the record of what crossed the line. Each window has its own port folder, in
// which the emulator is one COM number and no other number has a device.

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QtTest>
#include <sstream>
#include <string>
#include <vector>

#include "PosixSerialServices.h"
#include "SimProcess.h"
#include "UiHarness.h"

using simtest::TraceLine;

constexpr int kReadyMs = 10000;
constexpr int kExchangeMs = 10000;
// A whole upgrade: 14 blocks of 527 bytes at 19200 baud, the 2.1 s closing phase
// and the checks around it.

constexpr char kLabel40[] = "Czytnik Zantor-40, Nr: 00313 (soft: 7)";

// "Odebrane: " followed by the bytes as the Test page shows a binary frame.
inline QString ReceivedLine(const std::vector<uint8_t>& bytes) {
    QStringList hex;
    for (uint8_t byte : bytes) hex << QString::asprintf("%02X", byte);
    return QStringLiteral("Odebrane: ") + hex.join(QLatin1Char(','));
}

// The main window of the program wired as main.cpp wires it, but to a private
// port folder without the system's serial ports, and with dialogs that answer by
// themselves.
class EndToEnd {
public:
    explicit EndToEnd(std::vector<std::string> simArgs, int simPort = 3)
        : args(std::move(simArgs)), port(simPort) {
        win.SetWorkWin(work);
    }

    template <class Widget>
    Widget* Find(const char* name) {
        auto* widget = win.findChild<Widget*>(QString::fromLatin1(name));
        if (widget == nullptr) qFatal("no control %s", name);
        return widget;
    }
    QString Label() { return Find<QLabel>("RdLbl")->text(); }
    QStringList Log() {
        const QString text = Find<QPlainTextEdit>("RapWin")->toPlainText();
        return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
    }
    int BuzzerBits() {
        int bits = 0;
        for (int i = 0; i < 8; ++i) {
            const QByteArray name = "Buz" + QByteArray::number(i);
            if (Find<QCheckBox>(name.constData())->isChecked()) bits |= 1 << i;
        }
        return bits;
    }

    // Starts the emulator as COM3 of the folder, then shows the window as the
    // program does, and waits until the first activation has read the
    // configuration (the emulator has answered a 'c').
    [[nodiscard]] bool Start(int timeoutMs = kExchangeMs) {
        return Launch() && WaitForReply(0xE3, 1, timeoutMs);
    }
    // Starts the emulator and shows the window, without waiting for anything the
    // first activation does.
    [[nodiscard]] bool Launch() {
        std::vector<std::string> all = {"--port", std::to_string(port), "--folder", folder.Path(),
                                        "--trace"};
        all.insert(all.end(), args.begin(), args.end());
        if (!sim.Start(all) || !sim.WaitReady(kReadyMs)) return false;
        win.show();
        return QTest::qWaitForWindowExposed(&win);
    }

    // Frames of one direction ("RX" what the emulator received, "TX" what it
    // sent) that the trace holds so far, optionally only those of one command.
    std::vector<TraceLine> Frames(const std::string& tag, int command = -1) const {
        std::vector<TraceLine> frames;
        std::istringstream all(sim.Transcript());
        for (std::string line; std::getline(all, line);) {
            // Only frame lines are parsed: event lines ("-- upgrade to version 7")
            // hold words that are not bytes.
            std::istringstream words(line);
            std::string seconds;
            std::string lineTag;
            if (!(words >> seconds >> lineTag) || lineTag != tag) continue;
            std::optional<TraceLine> parsed = simtest::ParseTraceLine(line);
            if (!parsed || parsed->bytes.size() < 3) continue;
            if (command < 0 || parsed->bytes[2] == command) frames.push_back(*parsed);
        }
        return frames;
    }
    // The command letters of the received frames, in order.
    QString Commands() const {
        QString commands;
        for (const TraceLine& frame : Frames("RX")) commands += QLatin1Char(char(frame.bytes[2]));
        return commands;
    }
    // Waits until the emulator has sent count frames with this command. Checked
    // between events, so the handler that asked for the reply has ended too.
    [[nodiscard]] bool WaitForReply(int command, size_t count, int timeoutMs = kExchangeMs) {
        return QTest::qWaitFor([&] { return Frames("TX", command).size() >= count; }, timeoutMs);
    }
    [[nodiscard]] bool WaitForLogLine(const QString& line, int timeoutMs = kExchangeMs) {
        return QTest::qWaitFor([&] { return Log().contains(line); }, timeoutMs);
    }

    simtest::TempPortFolder folder;
    simtest::SimProcess sim;
    PosixSerialServices services{{folder.Path(), /*systemPorts=*/false}};
    FakeDialogs dialogs;
    TMainWin win{services, dialogs};
    TWorkWin work;

private:
    std::vector<std::string> args;
    int port;
};
