#include "WorkWin.h"

#include <QGuiApplication>
#include <QScreen>

#include "BusyDisplay.h"
#include "ui_WorkWin.h"

namespace {

// How long showing the window waits for the display to expose it before the
// transfer goes on; a window exposed later appears at the next move of the bar.
constexpr int kExposureBoundMs = 500;

}  // namespace

TWorkWin::TWorkWin(QWidget* parent) : QWidget(parent, Qt::Window), ui(new Ui::WorkWin) {
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::CustomizeWindowHint);
    // A hidden progress window must not keep the program alive once the main
    // window has closed.
    setAttribute(Qt::WA_QuitOnClose, false);
    ui->ProgrBar->setAccessibleName(tr("Postęp ładowania nowej wersji oprogramowania"));
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

TWorkWin::~TWorkWin() = default;

void TWorkWin::ShowProgress(const QString& text, int maximum) {
    ui->WorkLbl->setText(text);
    ui->ProgrBar->setMaximum(maximum);
    ui->ProgrBar->setValue(0);
    busydisplay::ShowPainted(*this, kExposureBoundMs);
}

void TWorkWin::SetMaximum(int maximum) { ui->ProgrBar->setMaximum(maximum); }

void TWorkWin::SetPosition(int position) {
    ui->ProgrBar->setValue(position);
    ui->ProgrBar->repaint();
    busydisplay::Serve();
}
