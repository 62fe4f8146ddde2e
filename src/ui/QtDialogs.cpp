#include "QtDialogs.h"

#include <QCoreApplication>
#include <QMessageBox>

#include "BusyDisplay.h"

void QtDialogs::ShowMessage(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(), text,
                    QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    const busydisplay::DialogLoop loop;
    box.exec();
}

bool QtDialogs::AskYesNo(const QString& caption, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Yes | QMessageBox::No);
    // The question's lines are indented with spaces, which rich text would drop.
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Yes);
    const busydisplay::DialogLoop loop;
    return box.exec() == QMessageBox::Yes;
}
