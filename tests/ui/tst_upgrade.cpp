// The firmware upgrade offered by the reader check: the question, the image
// check, the transfer on the wire with its allowances and progress, and the
// ways it can end.

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>

#include "UiHarness.h"

namespace {

using Op = FakeSerialServices::Op;

constexpr char kQuestion[] =
    "    Czytnik zawiera nieaktualne oprogramowanie.\n"
    "    Niektóre ustawienia konfiguracji nie będą\n"
    "    prawidłowow realizowane.\n"
    "\n"
    "    Wykonać upgrade oprogramowania czytnika?";

// Byte k of block i; every block differs from the others.
uint8_t BlockByte(int block, int k) { return static_cast<uint8_t>(block * 31 + k); }

// The 8-byte per-serial record of group g, number r.
Bytes TableRecord(int group, int record) {
    const auto g = static_cast<uint8_t>(group);
    const auto r = static_cast<uint8_t>(record);
    return {static_cast<uint8_t>(0xA0 | g), r, g, r, 0x55, 0xAA, static_cast<uint8_t>(g ^ r), 0x5E};
}

// An image of the upgrade layout for type 1064.
Bytes MakeImage(uint16_t version, uint16_t blocks) {
    Bytes image{0x04,
                0x28,
                static_cast<uint8_t>(version & 0xFF),
                static_cast<uint8_t>(version >> 8),
                static_cast<uint8_t>(blocks & 0xFF),
                static_cast<uint8_t>(blocks >> 8),
                0x00,
                0x00,
                'H',
                'E',
                'A',
                'D',
                'E',
                'R',
                '-',
                '8'};
    for (int i = 0; i < blocks; ++i) {
        for (int k = 0; k < 520; ++k) image.push_back(BlockByte(i, k));
    }
    for (int group = 0; group < 4; ++group) {
        for (int record = 0; record < 65; ++record) {
            const Bytes bytes = TableRecord(group, record);
            image.insert(image.end(), bytes.begin(), bytes.end());
        }
    }
    return image;
}

Bytes Payload(const Bytes& frame) { return Bytes(frame.begin() + 3, frame.end() - 2); }

// An outdated ZANTOR-40 (firmware 6) whose upgrade image is the given one.
struct UpgradeHarness : Harness {
    Bytes image;

    explicit UpgradeHarness(Bytes upgradeImage) : image(std::move(upgradeImage)) {
        reader.firmwareVersion = 6;
        services.AttachReader(2, reader);
        win.SetImageSource([this](uint16_t typeCode) -> std::optional<upgrade::Offer> {
            if (typeCode != 1064) return std::nullopt;
            return upgrade::Offer{upgrade::Image(image), "Upgrade ZANTOR-40"};
        });
        Timer()->stop();
    }

    QString Commands() const {
        QString commands;
        for (const Bytes& request : reader.requests) commands += QChar(request[2]);
        return commands;
    }

    // The base-plus-extra read allowance in force for the reply to each request
    // with the given command: the wait for the reply's length field.
    std::vector<uint32_t> ReplyAllowances(uint8_t command) const {
        std::vector<uint32_t> allowances;
        bool awaiting = false;
        for (const auto& call : services.Calls()) {
            if (call.op == Op::Write) awaiting = call.data.size() > 2 && call.data[2] == command;
            if (awaiting && call.op == Op::Read && call.count == 2) {
                allowances.push_back(call.timeouts.readTotalTimeoutConstant);
                awaiting = false;
            }
        }
        return allowances;
    }
};

}  // namespace

class TestUpgrade : public QObject {
    Q_OBJECT

private slots:
    void offerFollowsTypeAndVersion_data();
    void offerFollowsTypeAndVersion();
    void declinedOfferIsMadeAgain();
    void brokenImageIsRefusedBeforeAnyFrame_data();
    void brokenImageIsRefusedBeforeAnyFrame();
    void fullTransfer();
    void refusedBlockEndsTheTransfer();
    void silentReaderAfterUpgradeKeepsOldValues();
};

void TestUpgrade::offerFollowsTypeAndVersion_data() {
    QTest::addColumn<int>("typeCode");
    QTest::addColumn<int>("firmwareVersion");
    QTest::addColumn<bool>("standInLine");
    QTest::addColumn<QString>("caption");  // empty: no offer
    QTest::newRow("ZANTOR-40 older") << 1064 << 6 << true << "Upgrade ZANTOR-40";
    QTest::newRow("ZANTOR-40 equal") << 1064 << 7 << true << "";
    QTest::newRow("ZANTOR-50 version 0") << 2098 << 0 << true << "Upgrade ZANTOR-50";
    QTest::newRow("ZANTOR-50 equal") << 2098 << 8 << true << "";
    QTest::newRow("type without image") << 1065 << 0 << true << "";
    // The built-in images are stand-ins: never offered over a serial device.
    QTest::newRow("ZANTOR-40 older, serial device") << 1064 << 6 << false << "";
}

void TestUpgrade::offerFollowsTypeAndVersion() {
    QFETCH(int, typeCode);
    QFETCH(int, firmwareVersion);
    QFETCH(bool, standInLine);
    QFETCH(QString, caption);
    Harness h;  // the built-in images
    h.reader.typeCode = static_cast<uint16_t>(typeCode);
    h.reader.firmwareVersion = static_cast<uint16_t>(firmwareVersion);
    h.services.AttachReader(1, h.reader);
    if (standInLine) h.services.MakeStandInLine(1);
    h.dialogs.answer = false;
    bool timerRanWhenAsked = true;
    h.dialogs.onShow = [&](const FakeDialogs::Shown&) {
        timerRanWhenAsked = h.Timer()->isActive();
    };
    h.Timer()->stop();
    h.Find<QTabWidget>("CfgPgCtrl")->setCurrentIndex(1);

    const bool offered = !caption.isEmpty();
    QCOMPARE(h.dialogs.Questions(), offered ? 1 : 0);
    if (offered) {
        QCOMPARE(h.dialogs.shown.front().caption, caption);
        QCOMPARE(h.dialogs.shown.front().text, QString::fromUtf8(kQuestion));
        QVERIFY(!timerRanWhenAsked);
    }
    // Declined or not offered: nothing but the identification went out, and the
    // timer runs again only when the question stopped it.
    QCOMPARE(h.RequestsOf('M'), static_cast<int>(h.reader.requests.size()));
    QCOMPARE(h.Timer()->isActive(), offered);
    QVERIFY(h.Label().startsWith(QStringLiteral("Czytnik Zantor-")));
}

void TestUpgrade::declinedOfferIsMadeAgain() {
    UpgradeHarness h(MakeImage(8, 14));
    h.dialogs.answer = false;
    h.Find<QPushButton>("RdBtn")->click();
    h.Find<QPushButton>("RdBtn")->click();

    QCOMPARE(h.dialogs.Questions(), 2);
    QCOMPARE(h.Commands(), QStringLiteral("McMc"));
    QVERIFY(h.Timer()->isActive());
}

void TestUpgrade::brokenImageIsRefusedBeforeAnyFrame_data() {
    QTest::addColumn<int>("word6");
    QTest::addColumn<int>("lengthChange");
    QTest::newRow("word at offset 6 not 0") << 1 << 0;
    QTest::newRow("one byte short") << 0 << -1;
    QTest::newRow("one byte long") << 0 << 1;
}

void TestUpgrade::brokenImageIsRefusedBeforeAnyFrame() {
    QFETCH(int, word6);
    QFETCH(int, lengthChange);
    Bytes image = MakeImage(8, 14);
    image[6] = static_cast<uint8_t>(word6);
    image.resize(image.size() + lengthChange);
    UpgradeHarness h(std::move(image));
    h.Find<QTabWidget>("CfgPgCtrl")->setCurrentIndex(1);

    QCOMPARE(h.dialogs.Questions(), 1);
    QCOMPARE(h.dialogs.Messages(), QStringList{"Błąd pliku upgrade."});
    QCOMPARE(h.Commands(), QStringLiteral("M"));
    QVERIFY(h.Timer()->isActive());
    QVERIFY(!h.work.isVisible());
    QCOMPARE(h.Label(), QStringLiteral("Czytnik Zantor-40, Nr: 00313 (soft: 6)"));
}

void TestUpgrade::fullTransfer() {
    UpgradeHarness h(MakeImage(8, 14));
    h.reader.serialNumber = 453;  // low byte 197: group 3, record 5
    auto* bar = h.work.findChild<QProgressBar*>(QStringLiteral("ProgrBar"));
    QVERIFY(bar != nullptr);

    struct Seen {
        char command;
        bool shown;
        int value;
        int maximum;
        bool timerRunning;
    };
    std::vector<Seen> seen;
    h.reader.script = [&](const Bytes& request) -> std::optional<Bytes> {
        seen.push_back({static_cast<char>(request[2]), h.work.isVisible(), bar->value(),
                        bar->maximum(), h.Timer()->isActive()});
        if (request[2] == 'z') h.reader.firmwareVersion = 8;  // the new firmware answers
        return std::nullopt;
    };
    std::vector<int> closingPositions;
    QObject::connect(bar, &QProgressBar::valueChanged, [&](int value) {
        if (h.RequestsOf('z') == 1) closingPositions.push_back(value);
    });
    QString labelWhenAsked;
    h.dialogs.onShow = [&](const FakeDialogs::Shown&) { labelWhenAsked = h.Label(); };

    h.Find<QPushButton>("RdBtn")->click();

    QCOMPARE(labelWhenAsked, QStringLiteral("Czytnik Zantor-40, Nr: 00453 (soft: 6)"));
    QCOMPARE(h.Commands(), QStringLiteral("MZYYYYYYYYYYYYYYyzMc"));
    const auto& requests = h.reader.requests;
    QVERIFY(Payload(requests[1]) == Bytes(h.image.begin(), h.image.begin() + 16));
    QCOMPARE(requests[1].size(), size_t{21});
    for (int i = 0; i < 14; ++i) {
        const Bytes& frame = requests[2 + i];
        QCOMPARE(frame.size(), size_t{527});
        QVERIFY(frame[0] == 0x0F && frame[1] == 0x02);
        const Bytes payload = Payload(frame);
        QVERIFY(payload[0] == i && payload[1] == 0);
        for (int k = 0; k < 520; ++k) QVERIFY(payload[2 + k] == BlockByte(i, k));
    }
    QVERIFY(Payload(requests[16]) == TableRecord(3, 5));
    QVERIFY(requests[17] == (Bytes{0x05, 0x00, 0x7A, 0xE0, 0x22}));

    QCOMPARE(h.ReplyAllowances('Z'), std::vector<uint32_t>{561});
    QCOMPARE(h.ReplyAllowances('Y'), std::vector<uint32_t>(14, 561));
    QCOMPARE(h.ReplyAllowances('y'), std::vector<uint32_t>{1061});
    QCOMPARE(h.ReplyAllowances('z'), std::vector<uint32_t>{261});

    // Before the header the progress window is hidden; then each block goes out
    // with the bar at its index, and the record with the bar at 14 of 23.
    QVERIFY(!seen[1].shown);
    for (int i = 0; i < 14; ++i) {
        const Seen& block = seen[2 + i];
        QVERIFY(block.shown);
        QCOMPARE(block.value, i);
        QCOMPARE(block.maximum, 23);
    }
    QCOMPARE(seen[16].value, 14);
    for (const Seen& request : seen) {
        if (request.command != 'M' && request.command != 'c') QVERIFY(!request.timerRunning);
    }

    std::vector<int> expectedClosing;
    for (int position = 60; position <= 100; position += 2) expectedClosing.push_back(position);
    QCOMPARE(closingPositions, expectedClosing);
    QCOMPARE(bar->maximum(), 100);
    std::vector<uint32_t> closingSleeps;
    bool finished = false;
    for (const auto& call : h.services.Calls()) {
        if (call.op == Op::Write && call.data.at(2) == 'z') finished = true;
        if (finished && call.op == Op::Write && call.data.at(2) == 'M') break;
        if (finished && call.op == Op::Sleep) closingSleeps.push_back(call.count);
    }
    QCOMPARE(closingSleeps, std::vector<uint32_t>(21, 100));

    QCOMPARE(h.work.findChild<QLabel*>(QStringLiteral("WorkLbl"))->text(),
             QStringLiteral("Ładowanie nowej wersji oprogramowania"));
    QVERIFY(!h.work.isVisible());
    QVERIFY(h.Timer()->isActive());
    QCOMPARE(h.Label(), QStringLiteral("Czytnik Zantor-40, Nr: 00453 (soft: 8)"));
    QCOMPARE(h.dialogs.Questions(), 1);
    QVERIFY(h.dialogs.Messages().isEmpty());
}

void TestUpgrade::refusedBlockEndsTheTransfer() {
    UpgradeHarness h(MakeImage(8, 14));
    h.reader.script = [](const Bytes& request) -> std::optional<Bytes> {
        if (request[2] == 'Y' && request[3] == 5) return StatusReply('Y', 1);
        return std::nullopt;
    };
    h.Find<QPushButton>("RdBtn")->click();

    QCOMPARE(h.Commands(), QStringLiteral("MZYYYYYY"));
    QVERIFY(!h.work.isVisible());
    QVERIFY(h.Timer()->isActive());
    QCOMPARE(h.Label(), QString::fromUtf8(kNotConnected));
    QVERIFY(!h.services.IsOpen(2));
    QVERIFY(h.dialogs.Messages().isEmpty());
}

void TestUpgrade::silentReaderAfterUpgradeKeepsOldValues() {
    UpgradeHarness h(MakeImage(8, 14));
    bool finished = false;
    h.reader.script = [&](const Bytes& request) -> std::optional<Bytes> {
        if (request[2] == 'z') finished = true;
        if (finished && request[2] == 'M') return Bytes{};
        return std::nullopt;
    };
    h.Find<QTabWidget>("CfgPgCtrl")->setCurrentIndex(1);

    QCOMPARE(h.Commands(), QStringLiteral("MZYYYYYYYYYYYYYYyzMM"));
    QCOMPARE(h.Label(), QStringLiteral("Czytnik Zantor-40, Nr: 00313 (soft: 6)"));
    QVERIFY(h.Find<QPushButton>("WrBtn")->isEnabled());
    QVERIFY(h.Timer()->isActive());
    QVERIFY(!h.work.isVisible());
    QVERIFY(h.dialogs.Messages().isEmpty());
}

QTEST_MAIN(TestUpgrade)
#include "tst_upgrade.moc"
