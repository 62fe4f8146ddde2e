#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class WorkWin;
}

// The progress window of a firmware upgrade. It stays hidden except while an
// upgrade transfers. The GUI thread is busy with the transfer, so the window is
// painted explicitly, and each move of the bar also serves the display.
class TWorkWin : public QWidget {
    Q_OBJECT

public:
    explicit TWorkWin(QWidget* parent = nullptr);
    ~TWorkWin() override;

    // Shows the window with the text and an empty bar of the given maximum, and
    // has it painted before returning.
    void ShowProgress(const QString& text, int maximum);
    void SetMaximum(int maximum);
    // Moves the bar, redraws it at once and serves the display.
    void SetPosition(int position);

private:
    std::unique_ptr<Ui::WorkWin> ui;
};
