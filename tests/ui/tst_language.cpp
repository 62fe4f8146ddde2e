// The window in its two languages: every text it shows comes from the English
// catalogue when English is asked for, and stays Polish otherwise.

#include <QAbstractButton>
#include <QGroupBox>
#include <QMap>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTranslator>
#include <QtTest>

#include "Translation.h"
#include "UiHarness.h"

namespace {

// Every text the windows' controls show or name for assistive technology, by
// control and property; a tab bar's scroll buttons are Qt's own.
QMap<QString, QString> ShownTexts(const Harness& h) {
    QMap<QString, QString> texts;
    const auto note = [&texts](const QObject* control, const char* what, const QString& text) {
        if (!text.isEmpty()) texts[control->objectName() + QLatin1Char('.') + what] = text;
    };
    for (const QWidget* window : std::initializer_list<const QWidget*>{&h.win, &h.work}) {
        for (const QWidget* control : window->findChildren<QWidget*>()) {
            if (qobject_cast<const QTabBar*>(control->parentWidget()) != nullptr) continue;
            note(control, "accessibleName", control->accessibleName());
            if (const auto* label = qobject_cast<const QLabel*>(control)) {
                note(control, "text", label->text());
            } else if (const auto* button = qobject_cast<const QAbstractButton*>(control)) {
                note(control, "text", button->text());
            } else if (const auto* group = qobject_cast<const QGroupBox*>(control)) {
                note(control, "title", group->title());
            } else if (const auto* pages = qobject_cast<const QTabWidget*>(control)) {
                for (int i = 0; i < pages->count(); ++i)
                    note(pages->widget(i), "tab", pages->tabText(i));
            }
        }
    }
    return texts;
}

// The English catalogue among the program's resources, installed for the life
// of a test.
struct English {
    QTranslator catalogue;
    English() {
        QVERIFY(catalogue.load(QStringLiteral(":/i18n/zantor_cfg_en.qm")));
        QCoreApplication::installTranslator(&catalogue);
    }
    ~English() { QCoreApplication::removeTranslator(&catalogue); }
};

}  // namespace

class TestLanguage : public QObject {
    Q_OBJECT

private slots:
    void everyShownTextIsTranslated();
    void messagesInEnglish_data();
    void messagesInEnglish();
    void otherLanguagesKeepPolishWithPolishButtons();
};

// Each Polish text of the windows has its English in the catalogue, and the
// English window shows it; a name made of catalogue texts (a buzzer box's)
// differs at least.
void TestLanguage::everyShownTextIsTranslated() {
    QMap<QString, QString> polish;
    {
        const Harness h;
        polish = ShownTexts(h);
    }
    QVERIFY(polish.size() > 80);
    const English english;
    const Harness h;
    const QMap<QString, QString> shown = ShownTexts(h);
    QCOMPARE(shown.keys(), polish.keys());
    for (auto it = polish.cbegin(); it != polish.cend(); ++it) {
        QString expected;
        for (const char* context : {"MainWin", "TMainWin", "TWorkWin"}) {
            if (expected.isEmpty())
                expected = english.catalogue.translate(context, qUtf8Printable(*it));
        }
        QVERIFY2(!expected.isEmpty() || shown[it.key()] != *it, qPrintable(it.key() + ": " + *it));
        if (!expected.isEmpty()) QCOMPARE(shown[it.key()], expected);
    }
}

void TestLanguage::messagesInEnglish_data() {
    QTest::addColumn<QString>("polish");
    QTest::addColumn<QString>("english");
    QTest::newRow("no reader") << kNotConnected << "No reader connected.";
    QTest::newRow("reader label") << "Czytnik Zantor-40, Nr: 00313 (soft: 6)"
                                  << "Reader Zantor-40, serial 00313 (firmware 6)";
    QTest::newRow("upgrade question")
        << "    Czytnik zawiera nieaktualne oprogramowanie.\n    Niektóre ustawienia konfiguracji "
           "nie będą\n    prawidłowow realizowane.\n\n    Wykonać upgrade oprogramowania czytnika?"
        << "    The reader has outdated firmware.\n    Some configuration settings will not\n    "
           "work as set.\n\n    Upgrade the reader's firmware?";
    QTest::newRow("upgrade caption") << "Upgrade ZANTOR-40"
                                     << "Upgrade ZANTOR-40";
    QTest::newRow("communication error") << "Błąd komunikacji."
                                         << "Communication error.";
    QTest::newRow("invalid configuration") << "Czytnik zawiera nieprawidłową konfigurację."
                                           << "The reader holds an invalid configuration.";
    QTest::newRow("upgrade file error") << "Błąd pliku upgrade."
                                        << "Upgrade file error.";
    QTest::newRow("sent T") << "Wysłane: 05,00,54,60,3E"
                            << "Sent: 05,00,54,60,3E";
    QTest::newRow("echo") << "Odebrane: 05,00,54,60,3E - echo wysłanego rozkazu"
                          << "Received: 05,00,54,60,3E - echo of the sent command";
}

// One run through the window meets each text the code says: no reader, then an
// outdated reader offered the upgrade (declined, then taken with a broken
// image) whose configuration is invalid and whose write is refused, and the
// Test page's T command, which the line echoes.
void TestLanguage::messagesInEnglish() {
    QFETCH(QString, polish);
    QFETCH(QString, english);
    const auto run = [](bool inEnglish) {
        std::optional<English> installed;
        if (inEnglish) installed.emplace();
        Harness h;
        h.win.SetImageSource([](uint16_t) {
            static const uint8_t kBroken[] = {0x04, 0x28, 0x07, 0x00, 0x01, 0x00, 0x01, 0x00};
            return std::optional(upgrade::Offer{upgrade::Image(kBroken), "Upgrade ZANTOR-40"});
        });
        h.Find<QPushButton>("RdBtn")->click();
        QStringList seen = {h.Label()};
        h.reader.firmwareVersion = 6;
        h.reader.config[0] = 0x02;  // output mode 2: invalid
        h.reader.statusFor['C'] = 1;
        h.reader.script = [](const Bytes& request) -> std::optional<Bytes> {
            return request[2] == 'T' ? std::optional(request) : std::nullopt;
        };
        h.services.AttachReader(3, h.reader);
        h.dialogs.answer = false;
        h.Find<QPushButton>("RdBtn")->click();
        seen << h.Label();
        h.dialogs.answer = true;
        h.Find<QPushButton>("WrBtn")->click();
        for (const FakeDialogs::Shown& shown : h.dialogs.shown) seen << shown.caption << shown.text;
        h.Find<QPushButton>("RozkTBtn")->click();
        h.win.Test().TimerTimer();
        return seen + h.Log();
    };
    const QStringList inPolish = run(false);
    const QStringList inEnglish = run(true);
    QCOMPARE(inEnglish.size(), inPolish.size());
    QVERIFY2(inPolish.contains(polish), qPrintable(inPolish.join(QLatin1Char('|'))));
    QCOMPARE(inEnglish[inPolish.indexOf(polish)], english);
}

// Any language but English keeps the Polish texts, and Qt's Yes and No of the
// upgrade question say Tak and Nie.
void TestLanguage::otherLanguagesKeepPolishWithPolishButtons() {
    translation::Install(*QCoreApplication::instance(), language::Language::None);
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "&Yes"), QStringLiteral("&Tak"));
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "&No"), QStringLiteral("&Nie"));
    Harness h;
    QCOMPARE(h.Find<QPushButton>("RdBtn")->text(), QStringLiteral("Odczyt konfiguracji"));
}

QTEST_MAIN(TestLanguage)
#include "tst_language.moc"
