// The program under faults, end to end: the emulator vanishing in the middle of
// an upgrade, a configuration write and the Test page's polling, lost replies,
// a port that another program holds, and a flood of random bytes. The
// emulator's trace is the record of what crossed the line.

#include <fcntl.h>
#include <pty.h>
#include <sys/file.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <filesystem>
#include <fstream>

#include "EndToEnd.h"

namespace {

// However the reader fails, a search over the empty folder and every other
// handler end well within this.
constexpr qint64 kAnswersWithinMs = 3000;

constexpr char kCommError[] = "Błąd komunikacji.";

// Resident memory of this process in kB.
long ResidentKb() {
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Clicks a button and returns how long its handler held the GUI thread.
qint64 ClickAndTime(QPushButton* button) {
    QElapsedTimer watch;
    watch.start();
    button->click();
    return watch.elapsed();
}

int Count(const QString& commands, char command) { return commands.count(QLatin1Char(command)); }

}  // namespace

class TestFaults : public QObject {
    Q_OBJECT

private slots:
    void readerVanishingDuringAnUpgrade();
    void readerVanishingDuringAWrite();
    void readerVanishingWhileTheTestPagePolls();
    void lostReplyIsAskedForAgain_data();
    void lostReplyIsAskedForAgain();
    void threeLostRepliesAreACommunicationError();
    void portHeldByAnotherProgramIsPassedOver();
    void floodKeepsTheLogBoundedAndTheTimerTicking();
};

void TestFaults::readerVanishingDuringAnUpgrade() {
    // M, Z and blocks 0 to 3 are answered; then the reader is gone, and block 4
    // reaches nobody.
    EndToEnd e({"--firmware", "6", "--vanish-after", "6"});
    e.dialogs.answer = true;
    QVERIFY(e.Launch());
    QVERIFY2(QTest::qWaitFor([&] { return e.Label() == QString(kNotConnected); }, 30000),
             qPrintable(e.Commands() + " / " + e.Label()));
    QCOMPARE(e.Commands(), QStringLiteral("MZYYYY"));
    QCOMPARE(e.dialogs.Questions(), 1);
    QVERIFY(e.dialogs.Messages().isEmpty());
    QVERIFY(!e.work.isVisible());
    QVERIFY(e.Find<QTimer>("Timer")->isActive());

    QVERIFY(ClickAndTime(e.Find<QPushButton>("RdBtn")) < kAnswersWithinMs);
    QCOMPARE(e.Label(), QString(kNotConnected));
    QVERIFY(e.dialogs.Messages().isEmpty());
}

void TestFaults::readerVanishingDuringAWrite() {
    // M and c at start, M of the write's check; the 'C' finds nobody.
    EndToEnd e({"--vanish-after", "3"});
    QVERIFY(e.Start());
    QVERIFY(ClickAndTime(e.Find<QPushButton>("WrBtn")) < kAnswersWithinMs);
    QCOMPARE(e.dialogs.Messages(), QStringList{kCommError});
    QCOMPARE(Count(e.Commands(), 'C'), 0);

    QVERIFY(ClickAndTime(e.Find<QPushButton>("RdBtn")) < kAnswersWithinMs);
    QCOMPARE(e.Label(), QString(kNotConnected));
    QCOMPARE(e.dialogs.Messages(), QStringList{kCommError});
}

void TestFaults::readerVanishingWhileTheTestPagePolls() {
    // M and c at start, M when the Test page is shown; cards come meanwhile.
    EndToEnd e({"--vanish-after", "3", "--card-every", "0.3"});
    QVERIFY(e.Start());
    QSignalSpy ticks(e.Find<QTimer>("Timer"), &QTimer::timeout);
    e.Find<QTabWidget>("CfgPgCtrl")->setCurrentIndex(1);
    QVERIFY(e.sim.WaitExit(10000).has_value());
    QTest::qWait(1000);
    QVERIFY2(ticks.count() >= 5, QByteArray::number(ticks.count()).constData());

    QVERIFY(ClickAndTime(e.Find<QPushButton>("RozkTBtn")) < kAnswersWithinMs);
    QCOMPARE(e.Label(), QString(kNotConnected));
    QVERIFY(!e.Log().contains(QStringLiteral("Wysłane: 05,00,54,60,3E")));
    QVERIFY(e.dialogs.Messages().isEmpty());
}

void TestFaults::lostReplyIsAskedForAgain_data() {
    QTest::addColumn<QString>("ignored");
    QTest::addColumn<QString>("commands");
    // Identification makes two requests; a transaction sends the same frame again.
    QTest::newRow("identification") << "1"
                                    << "MMc";
    QTest::newRow("configuration read") << "2"
                                        << "Mcc";
    QTest::newRow("two configuration reads") << "2,3"
                                             << "Mccc";
}

void TestFaults::lostReplyIsAskedForAgain() {
    QFETCH(QString, ignored);
    EndToEnd e({"--ignore-request", ignored.toStdString()});
    QVERIFY2(e.Start(), e.sim.Transcript().c_str());
    QTEST(e.Commands(), "commands");
    const std::vector<TraceLine> reads = e.Frames("RX", 'c');
    for (const TraceLine& read : reads) QCOMPARE(read.bytes, simtest::Bytes("05 00 63 21 E8"));
    QCOMPARE(e.Label(), QStringLiteral("Czytnik Zantor-40, Nr: 00313 (soft: 7)"));
    QVERIFY(e.dialogs.Messages().isEmpty());
}

void TestFaults::threeLostRepliesAreACommunicationError() {
    EndToEnd e({"--ignore-request", "2,3,4"});
    QVERIFY(e.Launch());
    QVERIFY(QTest::qWaitFor([&] { return !e.dialogs.Messages().isEmpty(); }, 10000));
    QCOMPARE(e.dialogs.Messages(), QStringList{kCommError});
    QTest::qWait(300);
    QCOMPARE(e.Commands(), QStringLiteral("Mccc"));
    // The reader did answer its identification: the label stays connected.
    QCOMPARE(e.Label(), QStringLiteral("Czytnik Zantor-40, Nr: 00313 (soft: 7)"));
}

void TestFaults::portHeldByAnotherProgramIsPassedOver() {
    // COM1 is a terminal that another program holds; the reader is COM2.
    int master = -1;
    int slave = -1;
    char name[256] = {};
    QVERIFY(openpty(&master, &slave, name, nullptr, nullptr) == 0);
    EndToEnd e({}, 2);
    const std::string held = e.folder.Path() + "/com1";
    QVERIFY(symlink(name, held.c_str()) == 0);
    const int holder = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    QVERIFY(holder >= 0);
    QVERIFY(flock(holder, LOCK_EX | LOCK_NB) == 0);

    QVERIFY2(e.Start(), e.sim.Transcript().c_str());
    QCOMPARE(e.Commands(), QStringLiteral("Mc"));

    // Nothing reached the held port.
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    char byte;
    QCOMPARE(read(master, &byte, 1), ssize_t{-1});
    QCOMPARE(errno, EAGAIN);
    close(holder);
    close(slave);
    close(master);
    std::filesystem::remove(held);
}

void TestFaults::floodKeepsTheLogBoundedAndTheTimerTicking() {
    // M and c at start, M when the Test page is shown; then random bytes at the
    // line rate.
    EndToEnd e({"--flood-after", "3"});
    QVERIFY(e.Start());
    e.Find<QTabWidget>("CfgPgCtrl")->setCurrentIndex(1);
    QCOMPARE(e.Label(), QStringLiteral("Czytnik Zantor-40, Nr: 00313 (soft: 7)"));
    auto* memo = e.Find<QPlainTextEdit>("RapWin");
    QSignalSpy ticks(e.Find<QTimer>("Timer"), &QTimer::timeout);

    const long residentBefore = ResidentKb();
    int mostLines = 0;
    int clears = 0;
    int lastLines = 0;
    QElapsedTimer watch;
    watch.start();
    while (watch.elapsed() < 8000) {
        QTest::qWait(20);
        const int lines = memo->document()->blockCount();
        if (lines < lastLines) ++clears;
        lastLines = lines;
        mostLines = std::max(mostLines, lines);
    }
    const long grownKb = ResidentKb() - residentBefore;

    // A chunk of 256 random bytes makes at most 256 lines, each at least a row.
    QVERIFY2(mostLines <= 500 + 256, QByteArray::number(mostLines).constData());
    QVERIFY2(clears >= 1, "the log was never cleared");
    QVERIFY2(ticks.count() >= 20, QByteArray::number(ticks.count()).constData());
#ifndef __SANITIZE_ADDRESS__
    // AddressSanitizer keeps freed memory in quarantine, and LeakSanitizer
    // watches for leaks there; elsewhere the resident size must stay flat.
    QVERIFY2(grownKb < 20 * 1024, QByteArray::number(qlonglong(grownKb)).constData());
#else
    Q_UNUSED(grownKb);
#endif
}

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
