#include "app/RadioGroup.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QRadioButton>

#include <algorithm>

namespace tarvil {

RadioGroup::RadioGroup(const QString &title, const QStringList &items, int columns, QWidget *parent)
    : QGroupBox(title, parent), group_(new QButtonGroup(this))
{
    auto *layout = new QGridLayout(this);
    layout->setContentsMargins(5, 2, 5, 4);
    layout->setHorizontalSpacing(4);
    layout->setVerticalSpacing(2);
    const int cols = std::max(1, columns);
    const int perColumn = std::max<int>(1, int((items.size() + cols - 1) / cols));
    for (int i = 0; i < items.size(); ++i) {
        auto *radio = new QRadioButton(items.at(i), this);
        group_->addButton(radio, i);
        layout->addWidget(radio, i % perColumn, i / perColumn);
    }
    connect(group_, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (!checked || id == current_)
            return;
        current_ = id;
        emit itemIndexChanged(id);
    });
}

int RadioGroup::count() const { return int(group_->buttons().size()); }

int RadioGroup::itemIndex() const { return current_; }

void RadioGroup::setItemIndex(int index)
{
    if (count() == 0)
        return;
    index = std::min(index, count() - 1);
    if (index == current_)
        return;
    if (index < 0) {
        // An exclusive group never lets the last checked button go.
        group_->setExclusive(false);
        group_->button(current_)->setChecked(false);
        group_->setExclusive(true);
        current_ = -1;
        emit itemIndexChanged(-1);
        return;
    }
    group_->button(index)->setChecked(true); // idToggled updates current_ and notifies
}

QRadioButton *RadioGroup::button(int index) const
{
    return qobject_cast<QRadioButton *>(group_->button(index));
}

} // namespace tarvil
