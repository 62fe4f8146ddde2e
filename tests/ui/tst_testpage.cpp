// The Test page: the receive monitor on the 100 ms timer and the T, M and L
// test commands.

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QtTest>

#include "UiHarness.h"

namespace {

using Op = FakeSerialServices::Op;

Bytes ToBytes(const QByteArray& bytes) { return Bytes(bytes.begin(), bytes.end()); }

Bytes LastWrite(const FakeSerialServices& services) {
    const auto writes = services.CallsOf(Op::Write);
    return writes.empty() ? Bytes{} : writes.back().data;
}

// The frame that RozkLEdt shows, as bytes.
Bytes ShownFrame(Harness& h) {
    QString text = h.Find<QLineEdit>("RozkLEdt")->text();
    return ToBytes(QByteArray::fromHex(text.remove(QLatin1Char(',')).toLatin1()));
}

}  // namespace

class TestTestPage : public QObject {
    Q_OBJECT

private slots:
    void tickLogsTheChunk_data();
    void tickLogsTheChunk();
    void tickWithoutPortDoesNothing();
    void identificationReplyArrivesOnALaterTick();
    void fullLogIsClearedOnTheNextTickWithData();
    void wrappedLinesCountAsRows_data();
    void wrappedLinesCountAsRows();
    void showingThePageChecksTheReader();
    void commandButtonsWithReader_data();
    void commandButtonsWithReader();
    void commandButtonsWithoutReader_data();
    void commandButtonsWithoutReader();
    void echoingLine_data();
    void echoingLine();
    void lFrameFollowsItsControls_data();
    void lFrameFollowsItsControls();
};

void TestTestPage::tickLogsTheChunk_data() {
    QTest::addColumn<QByteArray>("chunk");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("number with CR LF")
        << QByteArray("1234567890\r\n") << QStringList{"1234567890<CR><LF>"};
    QTest::newRow("STX number ETX") << QByteArray(
                                           "\x02"
                                           "12345678\x03")
                                    << QStringList{"<STX>12345678<ETX>"};
    QTest::newRow("star begins a line")
        << QByteArray("12*34\r\n") << QStringList{"12", "*34<CR><LF>"};
    QTest::newRow("echo of M") << QByteArray::fromHex("05004DA1F4")
                               << QStringList{"Odebrane: 05,00,4D,A1,F4 - echo wysłanego rozkazu"};
    QTest::newRow("second length past the end")
        << QByteArray::fromHex("0301020500")
        << QStringList{"Odebrane: 03,01,02", "Odebrane: 05,00"};
    QTest::newRow("CR as last byte is binary")
        << QByteArray("1234\r") << QStringList{"Odebrane: 31,32,33,34,0D"};
}

void TestTestPage::tickLogsTheChunk() {
    QFETCH(QByteArray, chunk);
    QFETCH(QStringList, lines);
    Harness h;
    h.services.AttachReader(1, h.reader);
    QVERIFY(h.Start());
    h.services.Feed(1, ToBytes(chunk));
    h.win.Test().TimerTimer();
    QCOMPARE(h.Log(), lines);
}

void TestTestPage::tickWithoutPortDoesNothing() {
    Harness h;
    h.win.Test().TimerTimer();
    QVERIFY(h.services.Calls().empty());
    QVERIFY(h.Log().isEmpty());
}

void TestTestPage::identificationReplyArrivesOnALaterTick() {
    Harness h;
    h.services.AttachReader(2, h.reader);
    h.Find<QPushButton>("RozkMBtn")->click();
    QCOMPARE(h.Log(), QStringList{"Wysłane: 05,00,4D,A1,F4"});

    h.win.Test().TimerTimer();
    QCOMPARE(h.Log(), (QStringList{"Wysłane: 05,00,4D,A1,F4",
                                   "Odebrane: 0B,00,CD,28,04,39,01,07,00,CD,88"}));
}

void TestTestPage::fullLogIsClearedOnTheNextTickWithData() {
    Harness h;
    h.services.AttachReader(1, h.reader);
    QVERIFY(h.Start());
    for (int i = 0; i < 500; ++i) h.win.Test().LogLine(QStringLiteral("line"));

    h.services.Feed(1, {'A'});
    h.win.Test().TimerTimer();  // 500 rows are not more than 500: appended
    QCOMPARE(h.Log().size(), 501);
    QCOMPARE(h.Log().last(), QStringLiteral("A"));

    h.win.Test().TimerTimer();  // nothing arrived: nothing checked
    QCOMPARE(h.Log().size(), 501);

    h.services.Feed(1, {'B'});
    h.win.Test().TimerTimer();
    QCOMPARE(h.Log(), QStringList{"B"});
}

void TestTestPage::wrappedLinesCountAsRows_data() {
    QTest::addColumn<bool>("testPageShown");
    QTest::addColumn<int>(
        "pastWrapPoint");  // 1: just past the memo's width, -1: just short, 0: far
    QTest::addColumn<bool>("cleared");
    QTest::newRow("Test page shown") << true << 0 << true;
    QTest::newRow("Konfiguracja page shown") << false << 0 << true;
    // 251 lines of two rows each are 502 rows, of one row 251, with the page
    // shown or hidden alike: the scroll bar takes its width from the lines.
    QTest::newRow("just past the wrap point, shown") << true << 1 << true;
    QTest::newRow("just past the wrap point, hidden") << false << 1 << true;
    QTest::newRow("just short of the wrap point, hidden") << false << -1 << false;
}

void TestTestPage::wrappedLinesCountAsRows() {
    QFETCH(bool, testPageShown);
    QFETCH(int, pastWrapPoint);
    QFETCH(bool, cleared);
    Harness h;
    h.services.AttachReader(1, h.reader);
    QVERIFY(h.Start());
    auto* pages = h.Find<QTabWidget>("CfgPgCtrl");
    auto* memo = h.Find<QPlainTextEdit>("RapWin");
    if (pastWrapPoint == 0) {
        if (testPageShown) pages->setCurrentIndex(1);
        // 200 lines, each far wider than the memo: well over 500 rows on screen.
        const QString wide = QStringLiteral("0123456789 ").repeated(40);
        for (int i = 0; i < 200; ++i) h.win.Test().LogLine(wide);
    } else {
        // The width that a line may take, measured on the page with the scroll
        // bar that a full log shows.
        pages->setCurrentIndex(1);
        for (int i = 0; i < 251; ++i) h.win.Test().LogLine(QStringLiteral("x"));
        QTRY_VERIFY(memo->verticalScrollBar()->isVisible());
        const qreal room = memo->viewport()->width() - 2 * memo->document()->documentMargin();
        const QFontMetricsF metrics(memo->font());
        QString line;
        while (metrics.horizontalAdvance(line) <= room + 1) line += QLatin1Char('x');
        if (pastWrapPoint < 0) line.chop(2);
        memo->clear();
        for (int i = 0; i < 251; ++i) h.win.Test().LogLine(line);
        if (!testPageShown) pages->setCurrentIndex(0);
    }

    h.services.Feed(1, {'A'});
    h.win.Test().TimerTimer();
    QCOMPARE(h.Log().size() == 1, cleared);
}

void TestTestPage::showingThePageChecksTheReader() {
    Harness h;
    h.services.AttachReader(3, h.reader);
    auto* pages = h.Find<QTabWidget>("CfgPgCtrl");
    pages->setCurrentIndex(1);
    QCOMPARE(h.RequestsOf('M'), 1);
    QCOMPARE(h.Label(), QStringLiteral("Czytnik Zantor-40, Nr: 00313 (soft: 7)"));

    pages->setCurrentIndex(0);
    QCOMPARE(h.RequestsOf('M'), 1);
    QVERIFY(h.dialogs.shown.empty());
}

void TestTestPage::commandButtonsWithReader_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("T") << "RozkTBtn"
                       << "Wysłane: 05,00,54,60,3E" << QByteArray::fromHex("050054603E");
    QTest::newRow("M") << "RozkMBtn"
                       << "Wysłane: 05,00,4D,A1,F4" << QByteArray::fromHex("05004DA1F4");
    // The L frame matches its controls from the start.
    QTest::newRow("L at start") << "RozkLBtn"
                                << "Rozkaz: 08,00,4C,02,05,03,F5,52"
                                << QByteArray::fromHex("08004C020503F552");
}

void TestTestPage::commandButtonsWithReader() {
    QFETCH(QString, button);
    QFETCH(QString, line);
    QFETCH(QByteArray, frame);
    Harness h;
    h.services.AttachReader(2, h.reader);
    h.Find<QPushButton>(button.toLatin1().constData())->click();

    QCOMPARE(h.RequestsOf('M'), button == QStringLiteral("RozkMBtn") ? 2 : 1);
    QCOMPARE(h.Log(), QStringList{line});
    QVERIFY(LastWrite(h.services) == ToBytes(frame));
}

void TestTestPage::commandButtonsWithoutReader_data() {
    QTest::addColumn<QString>("button");
    QTest::newRow("T") << "RozkTBtn";
    QTest::newRow("M") << "RozkMBtn";
    QTest::newRow("L") << "RozkLBtn";
}

void TestTestPage::commandButtonsWithoutReader() {
    QFETCH(QString, button);
    Harness h;
    h.services.AddPort(1);
    h.Find<QPushButton>(button.toLatin1().constData())->click();

    QVERIFY(h.Log().isEmpty());
    for (const auto& call : h.services.CallsOf(Op::Write)) QVERIFY(call.data.at(2) == 'M');
    QCOMPARE(h.Label(), QString::fromUtf8(kNotConnected));
    QVERIFY(h.dialogs.shown.empty());
}

// A line that gives back every request: the echoes of the program's own checks
// and reads are no part of the log, those of the test commands are. What a
// check passed over besides is a chunk of its own.
void TestTestPage::echoingLine_data() {
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<QByteArray>("beforeFirstReply");
    QTest::addColumn<QStringList>("lines");
    const QString echoM = QStringLiteral("Odebrane: 05,00,4D,A1,F4 - echo wysłanego rozkazu");
    const QString replyM = QStringLiteral("Odebrane: 0B,00,CD,28,04,39,01,07,00,CD,88");
    QTest::newRow("visit and T") << QStringList{"page", "RozkTBtn"} << QByteArray()
                                 << QStringList{"Wysłane: 05,00,54,60,3E",
                                                "Odebrane: 05,00,54,60,3E - echo wysłanego "
                                                "rozkazu"};
    QTest::newRow("read") << QStringList{"RdBtn"} << QByteArray() << QStringList{};
    QTest::newRow("card text amid a check, then M")
        << QStringList{"RozkMBtn"} << QByteArray("0004886718345\r\n")
        << QStringList{"Wysłane: 05,00,4D,A1,F4", "0004886718345<CR><LF>", echoM, replyM};
}

void TestTestPage::echoingLine() {
    QFETCH(QStringList, actions);
    QFETCH(QByteArray, beforeFirstReply);
    Harness h;
    h.reader.script = [&](const Bytes& request) {
        Bytes reply = h.reader.requests.size() == 1 ? ToBytes(beforeFirstReply) : Bytes{};
        const Bytes answer = h.reader.Answer(request);
        reply.insert(reply.end(), request.begin(), request.end());
        reply.insert(reply.end(), answer.begin(), answer.end());
        return std::optional<Bytes>(reply);
    };
    h.services.AttachReader(2, h.reader);
    for (const QString& action : actions) {
        if (action == QStringLiteral("page")) {
            h.Find<QTabWidget>("CfgPgCtrl")->setCurrentIndex(1);
        } else {
            h.Find<QPushButton>(action.toLatin1().constData())->click();
        }
        for (int tick = 0; tick < 3; ++tick) h.win.Test().TimerTimer();
    }
    QVERIFY(h.dialogs.shown.empty());
    QTEST(h.Log(), "lines");
}

void TestTestPage::lFrameFollowsItsControls_data() {
    QTest::addColumn<bool>("red");
    QTest::addColumn<bool>("toggleBuz1");
    QTest::addColumn<QString>("time");  // null: edit untouched
    QTest::addColumn<QString>("timeShown");
    QTest::addColumn<QString>("frameStart");
    QTest::newRow("at start") << false << false << QString() << "5"
                              << "08,00,4C,02,05,03,F5,52";
    QTest::newRow("LBuz1 off and on again") << false << true << QString() << "5"
                                            << "08,00,4C,02,05,03,F5,52";
    QTest::newRow("red ticked") << true << false << QString() << "5"
                                << "08,00,4C,03,05,03,A4,92";
    QTest::newRow("time 300") << false << false << "300"
                              << "255"
                              << "08,00,4C,02,FF,03,";
    QTest::newRow("time emptied") << false << false << ""
                                  << "0"
                                  << "08,00,4C,02,00,03,";
    QTest::newRow("lone minus") << false << false << "-"
                                << "0"
                                << "08,00,4C,02,00,03,";
}

void TestTestPage::lFrameFollowsItsControls() {
    QFETCH(bool, red);
    QFETCH(bool, toggleBuz1);
    QFETCH(QString, time);
    Harness h;
    h.services.AttachReader(2, h.reader);
    h.Find<QCheckBox>("LRedChkBx")->setChecked(red);
    if (toggleBuz1) {
        h.Find<QCheckBox>("LBuz1")->setChecked(false);
        h.Find<QCheckBox>("LBuz1")->setChecked(true);
    }
    if (!time.isNull()) h.Find<QLineEdit>("LLedTim")->setText(time);

    QTEST(h.Find<QLineEdit>("LLedTim")->text(), "timeShown");
    QFETCH(QString, frameStart);
    const QString shown = h.Find<QLineEdit>("RozkLEdt")->text();
    QVERIFY2(shown.startsWith(frameStart), qPrintable(shown));

    // "Wyślij" sends exactly what the edit shows.
    h.Find<QPushButton>("RozkLBtn")->click();
    QCOMPARE(h.Log(), QStringList{"Rozkaz: " + shown});
    QVERIFY(LastWrite(h.services) == ShownFrame(h));
}

QTEST_MAIN(TestTestPage)
#include "tst_testpage.moc"
