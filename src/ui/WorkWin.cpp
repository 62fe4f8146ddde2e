#include "WorkWin.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>

#include "ui_WorkWin.h"

TWorkWin::TWorkWin(QWidget* parent) : QWidget(parent, Qt::Window), ui(new Ui::WorkWin) {
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::CustomizeWindowHint);
    // A hidden progress window must not keep the program alive once the main
    // window has closed.
    setAttribute(Qt::WA_QuitOnClose, false);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

TWorkWin::~TWorkWin() = default;

void TWorkWin::ShowProgress(const QString& text, int maximum) {
    ui->WorkLbl->setText(text);
    ui->ProgrBar->setMaximum(maximum);
    ui->ProgrBar->setValue(0);
    show();
    raise();
    repaint();
    // Some platforms map and expose a new window only from their event queue; user
    // input stays queued so that nothing can start while the transfer runs.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TWorkWin::SetMaximum(int maximum) { ui->ProgrBar->setMaximum(maximum); }

void TWorkWin::SetPosition(int position) {
    ui->ProgrBar->setValue(position);
    ui->ProgrBar->repaint();
}
