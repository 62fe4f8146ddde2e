#include "RadioGroup.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QGridLayout>
#include <QRadioButton>
#include <algorithm>
#include <tuple>
#include <vector>

RadioGroup::RadioGroup(QWidget* parent) : QGroupBox(parent), buttons(new QButtonGroup(this)) {}

void RadioGroup::Bind() {
    auto* grid = qobject_cast<QGridLayout*>(layout());
    if (grid == nullptr) return;
    std::vector<std::tuple<int, int, QRadioButton*>> placed;  // column, row, button
    for (int i = 0; i < grid->count(); ++i) {
        auto* button = qobject_cast<QRadioButton*>(grid->itemAt(i)->widget());
        if (button == nullptr) continue;
        int row = 0, column = 0, rowSpan = 0, columnSpan = 0;
        grid->getItemPosition(i, &row, &column, &rowSpan, &columnSpan);
        placed.emplace_back(column, row, button);
    }
    std::sort(placed.begin(), placed.end());
    for (const auto& [column, row, button] : placed) {
        buttons->addButton(button, buttons->buttons().size());
    }
}

int RadioGroup::Count() const { return static_cast<int>(buttons->buttons().size()); }

int RadioGroup::ItemIndex() const { return buttons->checkedId(); }

void RadioGroup::SetItemIndex(int index) {
    if (QAbstractButton* button = buttons->button(index)) button->setChecked(true);
}
