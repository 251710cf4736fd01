#pragma once

#include <QGroupBox>
#include <QStringList>

class QButtonGroup;
class QRadioButton;

namespace tarvil {

// A titled group of radio buttons whose selection is an item index that the
// program can read and set, like the settings the transceiver stores as one
// byte per choice. Items fill the columns top to bottom, left to right.
class RadioGroup : public QGroupBox {
    Q_OBJECT
public:
    RadioGroup(const QString &title, const QStringList &items, int columns = 1,
               QWidget *parent = nullptr);

    int count() const;
    // -1 when no item is selected.
    int itemIndex() const;
    // An index past the last item selects the last one; a negative index
    // clears the selection. Setting the current index changes nothing.
    void setItemIndex(int index);
    QRadioButton *button(int index) const;

signals:
    // Emitted whenever the selection changes, by the user or by the program.
    void itemIndexChanged(int index);

private:
    QButtonGroup *group_;
    int current_ = -1;
};

} // namespace tarvil
