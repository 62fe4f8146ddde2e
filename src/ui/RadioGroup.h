#pragma once

#include <QGroupBox>

class QButtonGroup;

// A captioned group of radio buttons whose value is the index of the selected
// item. The buttons come from the form, laid out in the group's grid in one or
// more columns; the items are numbered down the first column, then down the next,
// as the user reads them.
class RadioGroup : public QGroupBox {
    Q_OBJECT

public:
    explicit RadioGroup(QWidget* parent = nullptr);

    // Numbers the radio buttons of the grid layout 0..n-1. Called once the form
    // has put them in place.
    void Bind();

    int Count() const;
    // Index of the selected item, -1 when none is selected.
    int ItemIndex() const;
    void SetItemIndex(int index);

private:
    QButtonGroup* buttons;
};
