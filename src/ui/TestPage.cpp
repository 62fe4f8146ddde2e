#include "TestPage.h"

#include <QPlainTextDocumentLayout>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>
#include <algorithm>
#include <string>
#include <utility>

#include "BusyDisplay.h"
#include "BusyScope.h"
#include "MainWin.h"
#include "Monitor.h"
#include "ui_MainWin.h"

namespace {

size_t LaidOutRows(const QPlainTextEdit& memo) {
    const QTextDocument* document = memo.document();
    auto* layout = qobject_cast<QPlainTextDocumentLayout*>(document->documentLayout());
    size_t rows = 0;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        if (layout != nullptr) layout->ensureBlockLayout(block);
        rows += static_cast<size_t>(std::max(1, block.layout()->lineCount()));
    }
    return rows;
}

// The rows that the lines take when wrapped at the given viewport width, as the
// memo would lay them out.
size_t RowsAtWidth(const QPlainTextEdit& memo, int viewportWidth) {
    const QTextDocument* document = memo.document();
    const qreal lineWidth = std::max<qreal>(1, viewportWidth - 2 * document->documentMargin());
    size_t rows = 0;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        QTextLayout layout(block.text(), memo.font());
        layout.setTextOption(document->defaultTextOption());
        layout.beginLayout();
        int lines = 0;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(lineWidth);
            ++lines;
        }
        layout.endLayout();
        rows += static_cast<size_t>(std::max(1, lines));
    }
    return rows;
}

// The words of the log in the window's language.
monitor::LogWords LogWords() {
    return {TMainWin::tr("Wysłane: ").toStdString(), TMainWin::tr("Odebrane: ").toStdString(),
            TMainWin::tr(" - echo wysłanego rozkazu").toStdString()};
}

}  // namespace

TestPage::TestPage(Ui::MainWin& ui, session::ReaderSession& session, bool& busy,
                   std::function<bool()> checkReader)
    : ui(ui),
      session(session),
      busy(busy),
      checkReader(std::move(checkReader)),
      lBuz(binding::LBuzzerBoxes(ui)),
      timer(ui.TestTab) {
    ConnectHandlers();
    // The L frame and its text follow the L controls from the start, so that
    // "Wyślij" sends what the page shows even before the user changes anything.
    RozkLShow();

    timer.setObjectName(QStringLiteral("Timer"));
    timer.setInterval(100);
    timer.start();
}

void TestPage::ConnectHandlers() {
    connect(&timer, &QTimer::timeout, this, &TestPage::TimerTimer);
    connect(ui.CfgPgCtrl, &QTabWidget::currentChanged, this, [this](int index) {
        if (ui.CfgPgCtrl->widget(index) == ui.TestTab) TestTabShow();
    });
    connect(ui.RozkTBtn, &QPushButton::clicked, this, &TestPage::RozkTBtnClick);
    connect(ui.RozkMBtn, &QPushButton::clicked, this, &TestPage::RozkMBtnClick);
    connect(ui.RozkLBtn, &QPushButton::clicked, this, &TestPage::RozkLBtnClick);
    connect(ui.LGrnChkBx, &QCheckBox::toggled, this, &TestPage::RozkLShow);
    connect(ui.LRedChkBx, &QCheckBox::toggled, this, &TestPage::RozkLShow);
    for (QCheckBox* box : lBuz) connect(box, &QCheckBox::toggled, this, &TestPage::RozkLShow);
    connect(ui.LLedTim, &QLineEdit::textChanged, this, &TestPage::RozkLShow);
}

void TestPage::StopMonitor() { timer.stop(); }

void TestPage::StartMonitor() { timer.start(); }

// Rows of the log as the memo shows them: a wrapped line counts once for every
// row that it occupies. Qt lays out a memo only while its page is shown, so with
// the Test page hidden the lines are wrapped here at the width that the memo has
// on its page, which is as wide as the page in front.
size_t TestPage::LogRows() const {
    const QPlainTextEdit& memo = *ui.RapWin;
    if (memo.document()->isEmpty()) return 0;
    if (memo.isVisible()) return LaidOutRows(memo);
    const QMargins margins = ui.TestTabLayout->contentsMargins();
    const int viewportWidth = ui.CfgPgCtrl->currentWidget()->width() - margins.left() -
                              margins.right() - 2 * memo.frameWidth() -
                              memo.verticalScrollBar()->sizeHint().width();
    return RowsAtWidth(memo, viewportWidth);
}

void TestPage::LogLine(const QString& text) { ui.RapWin->appendPlainText(text); }

void TestPage::TimerTimer() {
    // A tick served while an exchange runs would read in the middle of it.
    if (busydisplay::Serving()) return;
    std::array<uint8_t, Zantor50::kPollSize> chunk{};
    const size_t count = session.Raw().PollBytes(chunk.data());
    if (count == 0) return;
    // Checked once per chunk before it is logged, so the log may run past the
    // limit until the next chunk arrives.
    if (LogRows() > monitor::kMaxLogLines) {
        ui.RapWin->clear();
        ui.RapWin->repaint();
    }
    for (const std::string& line : monitor::ChunkToLines(chunk.data(), count, LogWords())) {
        LogLine(QString::fromStdString(line));
    }
}

void TestPage::TestTabShow() {
    const BusyScope scope(busy);
    if (!scope.Entered()) return;
    checkReader();
}

void TestPage::RozkTBtnClick() {
    const BusyScope scope(busy);
    if (!scope.Entered() || !checkReader()) return;
    LogLine(QString::fromStdString(monitor::SentLine(protocol::kCardInField, LogWords())));
    session.Raw().SendCardInFieldRequest();
}

void TestPage::RozkMBtnClick() {
    const BusyScope scope(busy);
    if (!scope.Entered() || !checkReader()) return;
    LogLine(QString::fromStdString(monitor::SentLine(protocol::kIdentify, LogWords())));
    session.Raw().SendIdentifyRequest();
}

void TestPage::RozkLShow() {
    const uint8_t time = config::ParseClampedByte(ui.LLedTim->text().toStdString());
    const QString normal = QString::number(time);
    // Correcting the edit changes its text and runs this once more; that inner run
    // finds the text in normal form and builds the same frame.
    if (ui.LLedTim->text() != normal) ui.LLedTim->setText(normal);
    lFrame = protocol::BuildLFrame(ui.LGrnChkBx->isChecked(), ui.LRedChkBx->isChecked(), time,
                                   binding::BoxesToBits(lBuz));
    ui.RozkLEdt->setText(QString::fromStdString(monitor::LFrameText(lFrame)));
}

void TestPage::RozkLBtnClick() {
    const BusyScope scope(busy);
    if (!scope.Entered() || !checkReader()) return;
    LogLine(TMainWin::tr("Rozkaz: ") + ui.RozkLEdt->text());
    session.Raw().SendRaw(lFrame);
}
