#pragma once

#include "model/CommonSettings.h"
#include "model/ImageLayout.h"

#include <QFrame>
#include <QHash>

#include <span>

class QComboBox;
class QGridLayout;

namespace tarvil {

class RadioGroup;

// The right-hand panel Panel1: the transceiver-wide settings. Every common
// field whose row in the image layout names a control has that control here,
// labelled with the row's label; the values go out and in, a read empties
// them and the write's refusals focus them by looping over the layout, not
// field by field. A row that the panel's layout does not place by name gets
// a control of its kind at the panel's foot.
class CommonPanel : public QFrame {
    Q_OBJECT
public:
    // `fields`: the rows it shows, the image layout's common fields unless a
    // test gives others.
    explicit CommonPanel(QWidget *parent = nullptr, std::span<const Field> fields = kCommonFields);

    CommonSettings settings() const;
    void apply(const CommonSettings &settings);
    // Empties the controls of the fields a read empties.
    void clearForRead();
    // Moves the input focus to the field's control, only when it can take it.
    void focus(const Field &field);
    QWidget *control(const Field &field) const { return controls_.value(&field, nullptr); }

    // The window shown: BaudBox selects item 2 ("9600").
    void FormShow();
    // LocLAN is visible exactly while DHCP is off ("Выкл.").
    void DHCP_OnOffClick();

signals:
    // The DHCP selection changed, by the user or by the program.
    void dhcpChanged();
    // "Пуск".
    void startUploadClicked();

private:
    QWidget *buildUsb();
    QWidget *buildLan(int labelWidth);
    QWidget *buildServer(int labelWidth);
    // The controls of rows placed nowhere else, in the layout's order.
    void placeTheRest(QGridLayout *grid);

    std::span<const Field> fields_;
    QHash<const Field *, QWidget *> controls_;
    RadioGroup *DHCP_OnOff_ = nullptr;
    QWidget *LocLAN_ = nullptr;
    QComboBox *BaudBox_ = nullptr;
};

} // namespace tarvil
