// The program end to end against the emulator as COM3 of a private port folder:
// start, configuration write and read-back, the whole upgrade, the Test page.

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryFile>
#include <QtTest>
#include <sstream>
#include <string>
#include <vector>

#include "EndToEnd.h"
#include "RadioGroup.h"
#include "UpgradeImage.h"

namespace {

// A whole upgrade: 14 blocks of 527 bytes at 19200 baud, the 2.1 s closing phase
// and the checks around it.
constexpr int kUpgradeMs = 60000;

}  // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT

private slots:
    void startShowsTheReaderAndItsConfiguration_data();
    void startShowsTheReaderAndItsConfiguration();
    void writtenConfigurationIsWhatTheReaderHolds();
    void outdatedReaderIsUpgradedOnStart();
    void presentedCardIsLogged_data();
    void presentedCardIsLogged();
    void testCommandAndItsReplyAreLogged_data();
    void testCommandAndItsReplyAreLogged();
};

void TestEndToEnd::startShowsTheReaderAndItsConfiguration_data() {
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("radioGroup");
    QTest::addColumn<int>("radioIndex");
    QTest::addColumn<bool>("ledSignalling");
    QTest::addColumn<bool>("buzzerActive");
    QTest::addColumn<int>("ledStable");
    QTest::addColumn<QString>("ledTime");
    QTest::addColumn<int>("buzzerBits");

    // ASCII, "Dec (każdy bajt)", "6 bajtów", STX/ETX without CR LF; buzzer on,
    // no LED signalling, green; 1.2 s; boxes 0 and 7.
    QTest::newRow("ascii ZANTOR-40")
        << QStringList{"--config", "01 41 0C 81 B3 00 03 00"} << QString(kLabel40) << "AsciiPg"
        << "FormatRGrp" << 2 << false << true << 1 << "12" << 0x81;
    // Binary, "Zgłaszanie obecnej karty co 1s"; LED signalling, buzzer off,
    // red; 2 s; box 1.
    QTest::newRow("binary ZANTOR-50")
        << QStringList{"--type",     "2098", "--serial", "453",
                       "--firmware", "8",    "--config", "80 80 14 02 00 00 03 00"}
        << "Czytnik Zantor-50, Nr: 00453 (soft: 8)"
        << "BinarnyPg"
        << "BinRGrp" << 2 << true << false << 0 << "20" << 0x02;
}

void TestEndToEnd::startShowsTheReaderAndItsConfiguration() {
    QFETCH(QStringList, simArgs);
    QFETCH(QString, page);
    QFETCH(QString, radioGroup);
    std::vector<std::string> args;
    for (const QString& arg : simArgs) args.push_back(arg.toStdString());
    EndToEnd e(args);
    QVERIFY2(e.Start(), e.sim.Transcript().c_str());

    // The first activation identifies the reader, then reads its configuration.
    const std::vector<TraceLine> received = e.Frames("RX");
    QVERIFY2(received.size() >= 2, e.sim.Transcript().c_str());
    QCOMPARE(received[0].bytes, simtest::Bytes("05 00 4D A1 F4"));
    QCOMPARE(received[1].bytes, simtest::Bytes("05 00 63 21 E8"));
    QCOMPARE(e.dialogs.shown.size(), size_t{0});

    QTEST(e.Label(), "label");
    QCOMPARE(e.Find<QTabWidget>("TrybPgCtrl")->currentWidget()->objectName(), page);
    QTEST(e.Find<RadioGroup>(radioGroup.toLatin1().constData())->ItemIndex(), "radioIndex");
    if (page == QLatin1String("AsciiPg")) {
        QCOMPARE(e.Find<RadioGroup>("NrSizeRGrp")->ItemIndex(), 3);
        QVERIFY(!e.Find<QCheckBox>("CrLfChkBx")->isChecked());
        QVERIFY(e.Find<QCheckBox>("StxEtxChkBx")->isChecked());
    }
    QTEST(e.Find<QCheckBox>("LedChkBx")->isChecked(), "ledSignalling");
    QTEST(e.Find<QCheckBox>("BuzChkBx")->isChecked(), "buzzerActive");
    QTEST(e.Find<RadioGroup>("LedStabRGrp")->ItemIndex(), "ledStable");
    QTEST(e.Find<QLineEdit>("LedTim")->text(), "ledTime");
    QTEST(e.BuzzerBits(), "buzzerBits");
    QVERIFY(e.Find<QPushButton>("WrBtn")->isEnabled());
}

void TestEndToEnd::writtenConfigurationIsWhatTheReaderHolds() {
    EndToEnd e({});
    QVERIFY2(e.Start(), e.sim.Transcript().c_str());

    // Binary, "Również zabranie karty", green, 2.5 s, boxes 0, 1 and 7.
    e.Find<QTabWidget>("TrybPgCtrl")->setCurrentIndex(0);
    e.Find<RadioGroup>("BinRGrp")->SetItemIndex(1);
    e.Find<RadioGroup>("LedStabRGrp")->SetItemIndex(1);
    e.Find<QLineEdit>("LedTim")->setText(QStringLiteral("25"));
    e.Find<QCheckBox>("Buz7")->setChecked(true);
    e.Find<QPushButton>("WrBtn")->click();

    const std::vector<uint8_t> expected = simtest::Bytes("40 C1 19 83 00 00 03 00");
    QVERIFY2(e.WaitForReply(0xC3, 1), e.sim.Transcript().c_str());
    const std::vector<TraceLine> writes = e.Frames("RX", 'C');
    QCOMPARE(writes.size(), size_t{1});
    QCOMPARE(writes[0].bytes.size(), size_t{17});
    QCOMPARE(std::vector<uint8_t>(writes[0].bytes.begin() + 3, writes[0].bytes.begin() + 11),
             expected);
    // Status 0: the seal was right and the reader took the record.
    QCOMPARE(e.Frames("TX", 0xC3)[0].bytes[3], uint8_t{0});
    QCOMPARE(e.dialogs.shown.size(), size_t{0});

    // Controls moved away again; a fresh read brings back what the reader holds.
    e.Find<QTabWidget>("TrybPgCtrl")->setCurrentIndex(1);
    e.Find<QLineEdit>("LedTim")->setText(QStringLiteral("7"));
    e.Find<QCheckBox>("Buz7")->setChecked(false);
    e.Find<QPushButton>("RdBtn")->click();
    QVERIFY2(e.WaitForReply(0xE3, 2), e.sim.Transcript().c_str());
    const TraceLine reply = e.Frames("TX", 0xE3)[1];
    QCOMPARE(std::vector<uint8_t>(reply.bytes.begin() + 3, reply.bytes.begin() + 11), expected);
    QCOMPARE(e.Find<QTabWidget>("TrybPgCtrl")->currentWidget()->objectName(),
             QStringLiteral("BinarnyPg"));
    QCOMPARE(e.Find<RadioGroup>("BinRGrp")->ItemIndex(), 1);
    QCOMPARE(e.Find<RadioGroup>("LedStabRGrp")->ItemIndex(), 1);
    QCOMPARE(e.Find<QLineEdit>("LedTim")->text(), QStringLiteral("25"));
    QCOMPARE(e.BuzzerBits(), 0x83);
}

void TestEndToEnd::outdatedReaderIsUpgradedOnStart() {
    // The reader takes nothing but the built-in image, with the record of its
    // own serial number.
    const std::optional<upgrade::Offer> offer = upgrade::BuiltInImageFor(1064);
    QVERIFY(offer.has_value());
    QTemporaryFile expected;
    QVERIFY(expected.open());
    expected.write(reinterpret_cast<const char*>(offer->image.data()),
                   static_cast<qint64>(offer->image.size()));
    QVERIFY(expected.flush());
    EndToEnd e({"--firmware", "6", "--image", expected.fileName().toStdString()});
    e.dialogs.answer = true;
    QVERIFY2(e.Start(kUpgradeMs), e.sim.Transcript().c_str());

    QCOMPARE(e.dialogs.Questions(), 1);
    QCOMPARE(e.dialogs.shown[0].caption, QStringLiteral("Upgrade ZANTOR-40"));
    QVERIFY(e.dialogs.Messages().isEmpty());
    // Identification, the transfer, the re-identification, then the read of the
    // configuration that every start makes.
    QCOMPARE(e.Commands(), QStringLiteral("MZYYYYYYYYYYYYYYyzMc"));

    const upgrade::Image image = offer->image;
    const auto slice = [&image](size_t offset, size_t size) {
        return std::vector<uint8_t>(image.begin() + offset, image.begin() + offset + size);
    };
    const auto payload = [](const TraceLine& frame) {
        return std::vector<uint8_t>(frame.bytes.begin() + 3, frame.bytes.end() - 2);
    };
    const std::vector<TraceLine> begin = e.Frames("RX", 'Z');
    QCOMPARE(begin[0].bytes.size(), size_t{21});
    QCOMPARE(payload(begin[0]), slice(0, 16));
    const std::vector<TraceLine> blocks = e.Frames("RX", 'Y');
    QCOMPARE(blocks.size(), size_t{14});
    for (size_t i = 0; i < blocks.size(); ++i) {
        const std::vector<uint8_t>& frame = blocks[i].bytes;
        QCOMPARE(frame.size(), size_t{527});
        QCOMPARE(frame[0], uint8_t{0x0F});
        QCOMPARE(frame[1], uint8_t{0x02});
        QCOMPARE(frame[3] | frame[4] << 8, int(i));
        QCOMPARE(std::vector<uint8_t>(frame.begin() + 5, frame.end() - 2),
                 slice(16 + 520 * i, 520));
    }
    // Serial number 313: table offset 456, after the header and the 14 blocks.
    QCOMPARE(payload(e.Frames("RX", 'y')[0]), slice(16 + 520 * 14 + 456, 8));
    QCOMPARE(e.Frames("RX", 'z')[0].bytes, simtest::Bytes("05 00 7A E0 22"));
    // Every command of the transfer was acknowledged with status 0.
    for (int reply : {0xDA, 0xD9, 0xF9, 0xFA}) {
        for (const TraceLine& frame : e.Frames("TX", reply)) QCOMPARE(frame.bytes[3], uint8_t{0});
    }

    // The re-identification reports the new firmware, and the window shows it.
    const std::vector<TraceLine> identified = e.Frames("TX", 0xCD);
    QCOMPARE(identified.size(), size_t{2});
    QCOMPARE(identified[0].bytes[7], uint8_t{6});
    QCOMPARE(identified[1].bytes[7], uint8_t{7});
    QCOMPARE(e.Label(), QString(kLabel40));
    QVERIFY(e.work.isHidden());
    QVERIFY(e.Find<QTimer>("Timer")->isActive());
}

void TestEndToEnd::presentedCardIsLogged_data() {
    QTest::addColumn<QString>("config");
    QTest::addColumn<QString>("line");  // empty: the binary frame as the emulator sent it

    QTest::newRow("ascii decimal with CR LF")
        << "01 C0 05 03 60 00 03 00" << QStringLiteral("0004886718345<CR><LF>");
    QTest::newRow("ascii hex with CR LF")
        << "01 C0 05 03 40 00 03 00" << QStringLiteral("0123456789<CR><LF>");
    QTest::newRow("ascii with STX and ETX")
        << "01 C0 05 03 E0 00 03 00" << QStringLiteral("<STX>0004886718345<CR><LF><ETX>");
    QTest::newRow("binary") << "00 C0 05 03 00 00 03 00" << QString();
}

void TestEndToEnd::presentedCardIsLogged() {
    QFETCH(QString, config);
    QFETCH(QString, line);
    EndToEnd e({"--config", config.toStdString()});
    QVERIFY2(e.Start(), e.sim.Transcript().c_str());

    e.sim.SendLine("c");
    if (line.isEmpty()) {
        QVERIFY2(e.WaitForReply(0xC1, 1), e.sim.Transcript().c_str());
        const std::vector<uint8_t> frame = e.Frames("TX", 0xC1)[0].bytes;
        QCOMPARE(frame.size(), size_t{10});
        line = ReceivedLine(frame);
        QVERIFY2(line.startsWith(QStringLiteral("Odebrane: 0A,00,C1,01,23,45,67,89,")),
                 qPrintable(line));
    }
    QVERIFY2(e.WaitForLogLine(line), qPrintable(e.Log().join(QLatin1Char('\n'))));
    QCOMPARE(e.Log().count(line), 1);
}

void TestEndToEnd::testCommandAndItsReplyAreLogged_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("sentLine");
    QTest::addColumn<QString>("request");
    QTest::addColumn<int>("reply");
    QTest::addColumn<int>("replySize");

    QTest::newRow("T") << "RozkTBtn" << QStringLiteral("Wysłane: 05,00,54,60,3E")
                       << "05 00 54 60 3E" << 0xD4 << 6;
    QTest::newRow("M") << "RozkMBtn" << QStringLiteral("Wysłane: 05,00,4D,A1,F4")
                       << "05 00 4D A1 F4" << 0xCD << 11;
    // The L controls as the window starts: green, 0.5 s, buzzer boxes 0 and 1.
    QTest::newRow("L") << "RozkLBtn" << QStringLiteral("Rozkaz: 08,00,4C,02,05,03,F5,52")
                       << "08 00 4C 02 05 03 F5 52" << 0xCC << 6;
}

void TestEndToEnd::testCommandAndItsReplyAreLogged() {
    QFETCH(QString, button);
    QFETCH(QString, sentLine);
    QFETCH(QString, request);
    QFETCH(int, reply);
    EndToEnd e({});
    QVERIFY2(e.Start(), e.sim.Transcript().c_str());

    // Showing the page checks the reader once more.
    const size_t identifications = e.Frames("RX", 'M').size();
    e.Find<QTabWidget>("CfgPgCtrl")->setCurrentIndex(1);
    QVERIFY2(e.WaitForReply(0xCD, identifications + 1), e.sim.Transcript().c_str());

    const size_t replies = e.Frames("TX", reply).size();
    e.Find<QPushButton>(button.toLatin1().constData())->click();
    QVERIFY2(e.WaitForReply(reply, replies + 1), e.sim.Transcript().c_str());
    QCOMPARE(e.Frames("RX").back().bytes, simtest::Bytes(request.toStdString()));

    const std::vector<uint8_t> answer = e.Frames("TX", reply).back().bytes;
    QTEST(int(answer.size()), "replySize");
    const QString replyLine = ReceivedLine(answer);
    QVERIFY2(e.WaitForLogLine(replyLine), qPrintable(e.Log().join(QLatin1Char('\n'))));
    const QStringList log = e.Log();
    QVERIFY(log.indexOf(sentLine) >= 0);
    QVERIFY(log.indexOf(sentLine) < log.indexOf(replyLine));
    if (reply == 0xCD) QVERIFY(replyLine.startsWith(QStringLiteral("Odebrane: 0B,00,CD,")));
}

QTEST_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
