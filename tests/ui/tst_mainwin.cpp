// The main window: reader states, enabling rules, activation, and the
// configuration read and write over a reader double.

#include <QCheckBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QtTest>
#include <algorithm>

#include "RadioGroup.h"
#include "UiHarness.h"

namespace {

using Op = FakeSerialServices::Op;

constexpr char kCommError[] = "Błąd komunikacji.";
constexpr char kInvalidConfig[] = "Czytnik zawiera nieprawidłową konfigurację.";

// Controls that follow the reader state, in the order the window sets them.
const char* const kStateControls[] = {
    "BinRGrp",     "FormatRGrp",   "NrSizeRGrp",    "CrLfChkBx",
    "StxEtxChkBx", "WiegSizeRGrp", "WiegOrderRGrp", "WiegNoParBitChkBx",
    "LedStabRGrp", "LedChkBx",     "LedTim",        "BuzChkBx",
    "Buz0",        "Buz1",         "Buz2",          "Buz3",
    "Buz4",        "Buz5",         "Buz6",          "Buz7",
    "WrBtn",       "RozkMBtn",     "RozkTBtn"};

QByteArray Hex(const char* text) { return QByteArray::fromHex(text); }

ReaderConfig ToRecord(const QByteArray& bytes) {
    ReaderConfig record{};
    std::copy_n(bytes.begin(), record.size(), record.begin());
    return record;
}

int BuzzerBits(Harness& h) {
    int bits = 0;
    for (int i = 0; i < 8; ++i) {
        const QByteArray name = "Buz" + QByteArray::number(i);
        if (h.Find<QCheckBox>(name.constData())->isChecked()) bits |= 1 << i;
    }
    return bits;
}

std::function<std::optional<Bytes>(const Bytes&)> SilentOn(uint8_t command) {
    return [command](const Bytes& request) -> std::optional<Bytes> {
        if (request[2] == command) return Bytes{};
        return std::nullopt;
    };
}

}  // namespace

class TestMainWin : public QObject {
    Q_OBJECT

private slots:
    void startsInInitialStateWithoutTouchingThePort();
    void tabOrderFollowsTheLayout();
    void radioGroupsNumberItemsDownEachColumn_data();
    void radioGroupsNumberItemsDownEachColumn();
    void firstShowRunsOneCheckAndReadsConfig();
    void returnFromAnotherApplicationChecksAgain();
    void activationInsideAHandlersDialogStartsNothing();
    void readerLabel_data();
    void readerLabel();
    void stateControlsFollowTheReader_data();
    void stateControlsFollowTheReader();
    void parityGroupsFollowCheckBoxAndReader();
    void checkLeavesDependentLabelsAsTheyWere();
    void readFillsControls_data();
    void readFillsControls();
    void readAnimatesBeforeTheRequest();
    void writeSendsTheSealedRecord_data();
    void writeSendsTheSealedRecord();
    void writeWithoutReaderNormalisesAndSendsNothing();
    void failedExchangeShowsCommError_data();
    void failedExchangeShowsCommError();
    void vanishedReaderShowsNotConnected();
    void closingClosesThePort();
};

void TestMainWin::startsInInitialStateWithoutTouchingThePort() {
    Harness h;
    QCOMPARE(h.win.windowTitle(),
             QStringLiteral("Zantor_Cfg 2.6 (ZANTOR-40, ZANTOR-41, ZANTOR-50, ZANTOR-51)"));
    QCOMPARE(h.Label(), QStringLiteral("Czytnik"));
    QVERIFY(h.Find<QPushButton>("RdBtn")->isEnabled());
    QVERIFY(!h.Find<QPushButton>("WrBtn")->isEnabled());
    auto* modes = h.Find<QTabWidget>("TrybPgCtrl");
    QVERIFY(!modes->isTabVisible(2));
    QCOMPARE(modes->currentWidget()->objectName(), QStringLiteral("AsciiPg"));
    QCOMPARE(h.Find<QTabWidget>("CfgPgCtrl")->currentWidget()->objectName(),
             QStringLiteral("CfgTab"));
    QVERIFY(h.Find<QProgressBar>("RdProgrBar")->isHidden());
    QVERIFY(h.Find<QProgressBar>("WrProgrBar")->isHidden());
    QCOMPARE(h.Find<RadioGroup>("FormatRGrp")->ItemIndex(), 1);
    QCOMPARE(h.Find<RadioGroup>("WiegEndBitRGrp")->ItemIndex(), 1);
    QCOMPARE(h.Find<QLineEdit>("LedTim")->text(), QStringLiteral("5"));
    QCOMPARE(h.Find<QLineEdit>("LedTim")->maxLength(), 3);
    QCOMPARE(BuzzerBits(h), 0x03);
    QVERIFY(h.Timer()->isActive());
    QCOMPARE(h.Timer()->interval(), 100);
    QVERIFY(h.services.Calls().empty());
}

void TestMainWin::tabOrderFollowsTheLayout() {
    Harness h;
    QStringList chain;
    for (QWidget* widget = h.win.nextInFocusChain(); widget != &h.win;
         widget = widget->nextInFocusChain()) {
        if (widget->focusPolicy() & Qt::TabFocus) chain << widget->objectName();
    }
    const QStringList expected{"CfgPgCtrl", "RdBtn",    "WrBtn",     "TrybPgCtrl", "CrLfChkBx",
                               "LedChkBx",  "LedTim",   "Buz7",      "Buz0",       "BuzChkBx",
                               "RozkTBtn",  "RozkMBtn", "LGrnChkBx", "LBuz7",      "RozkLBtn"};
    qsizetype previous = -1;
    for (const QString& name : expected) {
        const qsizetype position = chain.indexOf(name);
        QVERIFY2(position > previous, qPrintable(name));
        previous = position;
    }
    QVERIFY(!chain.contains(QStringLiteral("RapWin")));
    QVERIFY(!chain.contains(QStringLiteral("RozkLEdt")));
}

void TestMainWin::radioGroupsNumberItemsDownEachColumn_data() {
    QTest::addColumn<QString>("group");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("item");
    QTest::newRow("last of first column") << "NrSizeRGrp" << 2 << "5 bajtów";
    QTest::newRow("top of second column") << "NrSizeRGrp" << 3 << "6 bajtów";
    QTest::newRow("two columns, one row") << "LedStabRGrp" << 1 << "Zielony";
    QTest::newRow("one column") << "BinRGrp" << 2 << "Zgłaszanie obecnej karty co 1s";
    QTest::newRow("wiegand size") << "WiegSizeRGrp" << 5 << "64+2 bity (standard)";
}

void TestMainWin::radioGroupsNumberItemsDownEachColumn() {
    QFETCH(QString, group);
    QFETCH(int, index);
    QFETCH(QString, item);
    Harness h;
    auto* radio = h.Find<RadioGroup>(group.toLatin1().constData());
    radio->SetItemIndex(index);
    QCOMPARE(radio->ItemIndex(), index);
    QStringList checked;
    for (QRadioButton* button : radio->findChildren<QRadioButton*>()) {
        if (button->isChecked()) checked << button->text();
    }
    QCOMPARE(checked, QStringList{item});
}

void TestMainWin::firstShowRunsOneCheckAndReadsConfig() {
    Harness h;
    h.reader.config = {0x01, 0xC0, 0x07, 0x03, 0x60, 0x00, 0x03, 0x00};
    h.services.AddPort(1);
    h.services.AttachReader(3, h.reader);
    QVERIFY(h.Start());
    QTest::qWait(50);  // a late activation report must not start another check

    QCOMPARE(h.Label(), QStringLiteral("Czytnik Zantor-40, Nr: 00313 (soft: 7)"));
    QCOMPARE(h.RequestsOf('M'), 1);
    QCOMPARE(h.RequestsOf('c'), 1);
    QCOMPARE(h.Find<QLineEdit>("LedTim")->text(), QStringLiteral("7"));
    QCOMPARE(h.services.OpenedPorts(), (std::vector<int>{1, 3}));
    QVERIFY(h.dialogs.shown.empty());
}

void TestMainWin::returnFromAnotherApplicationChecksAgain() {
    Harness h;
    h.services.AttachReader(2, h.reader);
    QVERIFY(h.Start());

    emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    QCOMPARE(h.RequestsOf('M'), 1);

    emit qGuiApp->applicationStateChanged(Qt::ApplicationInactive);
    emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    QCOMPARE(h.RequestsOf('M'), 2);
    QCOMPARE(h.RequestsOf('c'), 2);
}

void TestMainWin::activationInsideAHandlersDialogStartsNothing() {
    Harness h;
    h.services.AttachReader(2, h.reader);
    h.reader.script = SilentOn('c');
    int checksWhileTold = -1;
    h.dialogs.onShow = [&](const FakeDialogs::Shown&) {
        // The user switches to another program and back while the message is open.
        emit qGuiApp->applicationStateChanged(Qt::ApplicationInactive);
        emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
        checksWhileTold = h.RequestsOf('M');
    };
    QVERIFY(h.Start());
    QCOMPARE(checksWhileTold, 1);
    QCOMPARE(h.dialogs.Messages(), QStringList{kCommError});

    // Focus coming back from the closed message is no return from elsewhere.
    emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    QCOMPARE(h.RequestsOf('M'), 1);
    QCOMPARE(h.dialogs.Messages().size(), 1);
}

void TestMainWin::readerLabel_data() {
    QTest::addColumn<int>("typeCode");
    QTest::addColumn<int>("serialNumber");
    QTest::addColumn<int>("firmwareVersion");
    QTest::addColumn<QString>("label");
    QTest::newRow("ZANTOR-40") << 1064 << 123 << 7 << "Czytnik Zantor-40, Nr: 00123 (soft: 7)";
    QTest::newRow("ZANTOR-50, serial 0")
        << 2098 << 0 << 8 << "Czytnik Zantor-50, Nr: 00000 (soft: 8)";
    QTest::newRow("low ten bits 1023, widest numbers")
        << 0x07FF << 65535 << 65535 << "Czytnik Zantor-23, Nr: 65535 (soft: 65535)";
}

void TestMainWin::readerLabel() {
    QFETCH(int, typeCode);
    QFETCH(int, serialNumber);
    QFETCH(int, firmwareVersion);
    QFETCH(QString, label);
    Harness h;
    h.reader.typeCode = static_cast<uint16_t>(typeCode);
    h.reader.serialNumber = static_cast<uint16_t>(serialNumber);
    h.reader.firmwareVersion = static_cast<uint16_t>(firmwareVersion);
    h.services.AttachReader(4, h.reader);
    h.Find<QPushButton>("RdBtn")->click();
    QCOMPARE(h.Label(), label);
}

void TestMainWin::stateControlsFollowTheReader_data() {
    QTest::addColumn<bool>("readerAttached");
    QTest::addColumn<QString>("label");
    QTest::newRow("connected") << true << "Czytnik Zantor-40, Nr: 00313 (soft: 7)";
    QTest::newRow("not connected") << false << kNotConnected;
}

void TestMainWin::stateControlsFollowTheReader() {
    QFETCH(bool, readerAttached);
    QFETCH(QString, label);
    Harness h;
    if (readerAttached) h.services.AttachReader(2, h.reader);
    h.Find<QPushButton>("RdBtn")->click();

    QCOMPARE(h.Label(), label);
    for (const char* name : kStateControls) {
        QVERIFY2(h.Find<QWidget>(name)->isEnabled() == readerAttached, name);
    }
    QCOMPARE(h.Find<QWidget>("WiegBegBitRGrp")->isEnabled(), readerAttached);
    QCOMPARE(h.Find<QWidget>("WiegEndBitRGrp")->isEnabled(), readerAttached);
    QVERIFY(h.Find<QPushButton>("RdBtn")->isEnabled());
    QVERIFY(h.Find<QPushButton>("RozkLBtn")->isEnabled());
    QVERIFY(h.dialogs.shown.empty());
}

void TestMainWin::parityGroupsFollowCheckBoxAndReader() {
    Harness h;
    h.services.AttachReader(2, h.reader);
    h.Find<QPushButton>("RdBtn")->click();
    auto* noParity = h.Find<QCheckBox>("WiegNoParBitChkBx");
    auto* begin = h.Find<QWidget>("WiegBegBitRGrp");
    auto* end = h.Find<QWidget>("WiegEndBitRGrp");
    QVERIFY(begin->isEnabled() && end->isEnabled());

    noParity->setChecked(true);
    QVERIFY(!begin->isEnabled() && !end->isEnabled());
    h.Find<QTabWidget>("CfgPgCtrl")->setCurrentIndex(1);  // a check that finds the reader
    QVERIFY(!begin->isEnabled() && !end->isEnabled());

    noParity->setChecked(false);
    QVERIFY(begin->isEnabled() && end->isEnabled());
    h.services.Vanish(2);
    h.Find<QPushButton>("RdBtn")->click();
    QVERIFY(!begin->isEnabled() && !end->isEnabled());
}

void TestMainWin::checkLeavesDependentLabelsAsTheyWere() {
    Harness h;
    h.services.AttachReader(2, h.reader);
    h.Find<QCheckBox>("LedChkBx")->setChecked(false);
    h.Find<QCheckBox>("BuzChkBx")->setChecked(false);
    for (const char* name : {"LedTimLbl", "LedTim", "LedSLbl", "BuzSygnLbl", "Buz0", "Buz7"}) {
        QVERIFY2(!h.Find<QWidget>(name)->isEnabled(), name);
    }
    QVERIFY(h.Find<QWidget>("BuzDescrLbl")->isEnabled());

    h.Find<QTabWidget>("CfgPgCtrl")->setCurrentIndex(1);  // check without a read
    QCOMPARE(h.RequestsOf('M'), 1);
    for (const char* name : {"LedTim", "Buz0", "Buz7"}) {
        QVERIFY2(h.Find<QWidget>(name)->isEnabled(), name);
    }
    for (const char* name : {"LedTimLbl", "LedSLbl", "BuzSygnLbl"}) {
        QVERIFY2(!h.Find<QWidget>(name)->isEnabled(), name);
    }

    h.Find<QCheckBox>("LedChkBx")->setChecked(true);
    QVERIFY(h.Find<QWidget>("LedTimLbl")->isEnabled() && h.Find<QWidget>("LedSLbl")->isEnabled());
}

void TestMainWin::readFillsControls_data() {
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<bool>("invalid");
    QTest::addColumn<QString>("page");
    QTest::addColumn<int>("binSignalling");
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("numberSize");
    QTest::addColumn<bool>("crLf");
    QTest::addColumn<bool>("stxEtx");
    QTest::addColumn<bool>("ledRead");
    QTest::addColumn<bool>("buzzer");
    QTest::addColumn<int>("ledStable");
    QTest::addColumn<QString>("ledTime");
    QTest::addColumn<int>("buzzerBits");
    // Controls of the mode page not chosen keep their initial values.
    QTest::newRow("ascii F5") << Hex("01C005F3F5000300") << false << "AsciiPg" << 0 << 2 << 5
                              << true << true << true << true << 0 << "5" << 0xF3;
    QTest::newRow("binary C0") << Hex("C000000000000000") << false << "BinarnyPg" << 2 << 1 << 0
                               << true << false << false << false << 0 << "0" << 0x00;
    QTest::newRow("invalid 82 shown as binary")
        << Hex("8200000000000000") << true << "BinarnyPg" << 2 << 1 << 0 << true << false << false
        << false << 0 << "0" << 0x00;
    QTest::newRow("invalid 03 shown as ascii")
        << Hex("0381FF8117000300") << true << "AsciiPg" << 0 << 0 << 5 << false << false << true
        << false << 1 << "255" << 0x81;
    QTest::newRow("ignored bits of byte 1")
        << Hex("013E050360FFFFFF") << false << "AsciiPg" << 0 << 1 << 0 << true << false << false
        << false << 0 << "5" << 0x03;
}

void TestMainWin::readFillsControls() {
    QFETCH(QByteArray, config);
    QFETCH(bool, invalid);
    Harness h;
    h.reader.config = ToRecord(config);
    h.services.AttachReader(1, h.reader);
    QString pageWhenTold;
    h.dialogs.onShow = [&](const FakeDialogs::Shown&) {
        pageWhenTold = h.Find<QTabWidget>("TrybPgCtrl")->currentWidget()->objectName();
    };
    h.Find<QPushButton>("RdBtn")->click();

    QCOMPARE(h.dialogs.Messages(), invalid ? QStringList{kInvalidConfig} : QStringList{});
    if (invalid) QCOMPARE(pageWhenTold, QStringLiteral("AsciiPg"));  // told before the mapping
    auto* modes = h.Find<QTabWidget>("TrybPgCtrl");
    QTEST(modes->currentWidget()->objectName(), "page");
    QVERIFY(!modes->isTabVisible(2));
    QTEST(h.Find<RadioGroup>("BinRGrp")->ItemIndex(), "binSignalling");
    QTEST(h.Find<RadioGroup>("FormatRGrp")->ItemIndex(), "format");
    QTEST(h.Find<RadioGroup>("NrSizeRGrp")->ItemIndex(), "numberSize");
    QTEST(h.Find<QCheckBox>("CrLfChkBx")->isChecked(), "crLf");
    QTEST(h.Find<QCheckBox>("StxEtxChkBx")->isChecked(), "stxEtx");
    QTEST(h.Find<QCheckBox>("LedChkBx")->isChecked(), "ledRead");
    QTEST(h.Find<QCheckBox>("BuzChkBx")->isChecked(), "buzzer");
    QTEST(h.Find<RadioGroup>("LedStabRGrp")->ItemIndex(), "ledStable");
    QTEST(h.Find<QLineEdit>("LedTim")->text(), "ledTime");
    QTEST(BuzzerBits(h), "buzzerBits");
    // The enabling rules follow the check boxes that the record set.
    QCOMPARE(h.Find<QWidget>("LedTimLbl")->isEnabled(), h.Find<QCheckBox>("LedChkBx")->isChecked());
    QCOMPARE(h.Find<QWidget>("BuzSygnLbl")->isEnabled(),
             h.Find<QCheckBox>("BuzChkBx")->isChecked());
}

void TestMainWin::readAnimatesBeforeTheRequest() {
    Harness h;
    h.services.AttachReader(1, h.reader);
    h.Timer()->start(0);  // due at every serving of the display
    h.Find<QPushButton>("RdBtn")->click();

    std::vector<uint32_t> sleeps;
    bool identified = false;
    int polls = 0;  // the poll reads one byte at a time
    for (const auto& call : h.services.Calls()) {
        if (call.op == Op::Write && call.data.at(2) == 'M') identified = true;
        if (call.op == Op::Write && call.data.at(2) == 'c') break;
        if (identified && call.op == Op::Sleep) sleeps.push_back(call.count);
        polls += identified && call.op == Op::Read && call.count == 1 ? 1 : 0;
    }
    std::vector<uint32_t> expected(21, 5);
    expected.push_back(50);
    QCOMPARE(sleeps, expected);
    QCOMPARE(polls, 0);
    QVERIFY(h.Find<QProgressBar>("RdProgrBar")->isHidden());
}

void TestMainWin::writeSendsTheSealedRecord_data() {
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("binSignalling");
    QTest::addColumn<QString>("ledTime");
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<QString>("ledTimeShown");
    QTest::newRow("controls untouched") << 1 << 0 << "5" << Hex("01C0050360000300") << "5";
    QTest::newRow("binary page, item 2") << 0 << 2 << "5" << Hex("80C0050300000300") << "5";
    QTest::newRow("time 300 clamped") << 1 << 0 << "300" << Hex("01C0FF0360000300") << "255";
}

void TestMainWin::writeSendsTheSealedRecord() {
    QFETCH(int, page);
    QFETCH(int, binSignalling);
    QFETCH(QString, ledTime);
    QFETCH(QByteArray, record);
    Harness h;
    h.reader.config = {};
    h.services.AttachReader(1, h.reader);
    h.Find<QTabWidget>("TrybPgCtrl")->setCurrentIndex(page);
    h.Find<RadioGroup>("BinRGrp")->SetItemIndex(binSignalling);
    h.Find<QLineEdit>("LedTim")->setText(ledTime);
    h.Find<QPushButton>("WrBtn")->setEnabled(true);  // as after an earlier check
    h.Find<QPushButton>("WrBtn")->click();

    QCOMPARE(h.RequestsOf('C'), 1);
    const Bytes& frame = h.reader.requests.back();
    QCOMPARE(frame.size(), size_t{17});
    const Bytes head{0x11, 0x00, 0x43};
    QVERIFY(std::equal(head.begin(), head.end(), frame.begin()));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(frame.data()) + 3, 8).toHex(),
             record.toHex());
    // The double stores the record only when its CRC-32 seal matches and
    // acknowledges it; no message follows an acknowledged write.
    QVERIFY(h.reader.config == ToRecord(record));
    QVERIFY(h.dialogs.shown.empty());
    QTEST(h.Find<QLineEdit>("LedTim")->text(), "ledTimeShown");
    QVERIFY(h.Find<QProgressBar>("WrProgrBar")->isHidden());
}

void TestMainWin::writeWithoutReaderNormalisesAndSendsNothing() {
    Harness h;
    h.services.AddPort(1);
    h.Find<QLineEdit>("LedTim")->setText(QStringLiteral("-7"));
    h.Find<QPushButton>("WrBtn")->setEnabled(true);
    h.Find<QPushButton>("WrBtn")->click();

    QCOMPARE(h.Find<QLineEdit>("LedTim")->text(), QStringLiteral("0"));
    QCOMPARE(h.Label(), QString::fromUtf8(kNotConnected));
    QVERIFY(!h.Find<QPushButton>("WrBtn")->isEnabled());
    for (const auto& call : h.services.CallsOf(Op::Write)) QVERIFY(call.data.at(2) == 'M');
    QVERIFY(h.dialogs.shown.empty());
}

void TestMainWin::failedExchangeShowsCommError_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<char>("silentCommand");
    QTest::newRow("read unanswered") << "RdBtn" << 'c';
    QTest::newRow("write unanswered") << "WrBtn" << 'C';
}

void TestMainWin::failedExchangeShowsCommError() {
    QFETCH(QString, button);
    QFETCH(char, silentCommand);
    Harness h;
    h.services.AttachReader(2, h.reader);
    h.Find<QPushButton>("RdBtn")->click();  // connected, controls filled
    h.reader.script = SilentOn(static_cast<uint8_t>(silentCommand));
    h.Find<QLineEdit>("LedTim")->setText(QStringLiteral("9"));

    h.Find<QPushButton>(button.toLatin1().constData())->click();
    QCOMPARE(h.dialogs.Messages(), QStringList{kCommError});
    QCOMPARE(h.RequestsOf(static_cast<uint8_t>(silentCommand)), silentCommand == 'c' ? 4 : 3);
    QCOMPARE(h.Label(), QStringLiteral("Czytnik Zantor-40, Nr: 00313 (soft: 7)"));
    QVERIFY(h.Find<QPushButton>("WrBtn")->isEnabled());
    QCOMPARE(h.Find<QLineEdit>("LedTim")->text(), QStringLiteral("9"));
    QVERIFY(h.services.IsOpen(2));
}

void TestMainWin::vanishedReaderShowsNotConnected() {
    Harness h;
    h.services.AttachReader(2, h.reader);
    h.Find<QPushButton>("RdBtn")->click();
    QVERIFY(h.services.IsOpen(2));

    h.services.Vanish(2);
    h.Find<QPushButton>("RdBtn")->click();
    QCOMPARE(h.Label(), QString::fromUtf8(kNotConnected));
    QVERIFY(!h.services.IsOpen(2));
    QVERIFY(!h.Find<QPushButton>("WrBtn")->isEnabled());
    QVERIFY(h.dialogs.shown.empty());
}

void TestMainWin::closingClosesThePort() {
    Harness h;
    h.services.AttachReader(2, h.reader);
    h.Find<QPushButton>("RdBtn")->click();
    h.services.ClearCalls();

    h.win.close();
    QVERIFY(!h.services.IsOpen(2));
    QCOMPARE(h.services.CallsOf(Op::Close).size(), size_t{1});
}

QTEST_MAIN(TestMainWin)
#include "tst_mainwin.moc"
