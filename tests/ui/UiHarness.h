#pragma once

// Shared by the window tests: fake dialogs and a main window wired to fake
// serial services with a reader double.

#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <functional>
#include <vector>

#include "Dialogs.h"
#include "FakeSerialServices.h"
#include "Frame.h"
#include "MainWin.h"
#include "WorkWin.h"

// Records every dialog and answers questions; onShow runs while the dialog is
// "open", as a modal loop would run events then.
class FakeDialogs : public Dialogs {
public:
    struct Shown {
        QString caption;  // empty for messages, which carry the application's name
        QString text;
        bool question = false;
    };
    std::vector<Shown> shown;
    bool answer = true;
    std::function<void(const Shown&)> onShow;

    void ShowMessage(const QString& text) override { Record({QString(), text, false}); }
    bool AskYesNo(const QString& caption, const QString& text) override {
        Record({caption, text, true});
        return answer;
    }

    QStringList Messages() const {
        QStringList texts;
        for (const Shown& dialog : shown) {
            if (!dialog.question) texts << dialog.text;
        }
        return texts;
    }
    int Questions() const {
        int count = 0;
        for (const Shown& dialog : shown) count += dialog.question ? 1 : 0;
        return count;
    }

private:
    void Record(const Shown& dialog) {
        shown.push_back(dialog);
        if (onShow) onShow(dialog);
    }
};

inline constexpr char kNotConnected[] = "Nie podłączony żaden czytnik.";

struct Harness {
    FakeSerialServices services;
    FakeReader reader;
    FakeDialogs dialogs;
    TMainWin win{services, dialogs};
    TWorkWin work;

    Harness() { win.SetWorkWin(work); }

    template <class Widget>
    Widget* Find(const char* name) {
        auto* widget = win.findChild<Widget*>(QString::fromLatin1(name));
        if (widget == nullptr) qFatal("no control %s", name);
        return widget;
    }
    QTimer* Timer() { return Find<QTimer>("Timer"); }
    QString Label() { return Find<QLabel>("RdLbl")->text(); }
    QStringList Log() {
        const QString text = Find<QPlainTextEdit>("RapWin")->toPlainText();
        return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
    }

    // Shows the window as the program does and waits for its first activation's
    // check; the receive timer is then stopped so that tests poll by hand.
    [[nodiscard]] bool Start() {
        win.show();
        if (!QTest::qWaitForWindowExposed(&win)) return false;
        const bool checked =
            QTest::qWaitFor([this] { return Label() != QStringLiteral("Czytnik"); });
        Timer()->stop();
        return checked;
    }

    // Whole request frames that the reader received with the given command.
    int RequestsOf(uint8_t command) const {
        int count = 0;
        for (const Bytes& request : reader.requests) count += request[2] == command ? 1 : 0;
        return count;
    }
};

// Reply frame of a status command with the given status.
inline Bytes StatusReply(uint8_t command, uint8_t status) {
    return BuildFrame(static_cast<uint8_t>(command | 0x80), &status, 1);
}
