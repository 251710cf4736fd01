#include "app/CommonPanel.h"

#include "app/KeyFilters.h"
#include "app/RadioGroup.h"
#include "model/ConfigImage.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

namespace tarvil {

namespace {

constexpr int kPanelWidth = 297;
constexpr int kLooseRowMargin = 11; // rows outside a group box line up with those inside
constexpr int kTypedPortLength = 5;

QLineEdit *makeEdit(const char *name, QWidget *parent, const QString &hint = {})
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    if (!hint.isEmpty())
        edit->setToolTip(hint);
    return edit;
}

QLineEdit *makeEdit(const Field &field, QWidget *parent, const QString &hint = {})
{
    return makeEdit(field.control, parent, hint);
}

QGridLayout *makeGrid(QWidget *owner, int labelWidth)
{
    auto *grid = new QGridLayout(owner);
    grid->setContentsMargins(8, 6, 8, 6);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);
    grid->setColumnMinimumWidth(0, labelWidth);
    grid->setColumnStretch(1, 1);
    return grid;
}

// A label left of its field.
QLabel *addRow(QGridLayout *grid, const QString &label, QWidget *field, QWidget *owner, Qt::Alignment alignment = {})
{
    const int row = grid->count() / 2;
    auto *text = new QLabel(label, owner);
    text->setBuddy(field);
    grid->addWidget(text, row, 0);
    grid->addWidget(field, row, 1, alignment);
    return text;
}

QLabel *addRow(QGridLayout *grid, const Field &field, QWidget *control, QWidget *owner, Qt::Alignment alignment = {})
{
    return addRow(grid, fieldLabel(field), control, owner, alignment);
}

// Keeps a short field (a port, a serial number) at a width that fits its text.
void setTextWidth(QLineEdit *edit, int characters)
{
    const int width = edit->fontMetrics().horizontalAdvance(QString(characters, QLatin1Char('0')));
    edit->setMaximumWidth(width + 16);
}

// The field's edit, labelled, in the grid: it takes from the keyboard what
// its kind holds, digits for a number and digits and dots for an address. A
// short one (a port, the serial number) is as wide as `shortWidth` digits and
// takes five of them typed.
QLineEdit *addEdit(QGridLayout *grid, const Field &field, QWidget *owner, const QString &hint = {}, int shortWidth = 0)
{
    QLineEdit *edit = makeEdit(field, owner, hint);
    if (field.kind == FieldKind::Ip)
        KeyFilter::install(edit, EditIP1_PCNKeyPress);
    else if (field.kind == FieldKind::Unsigned)
        KeyFilter::install(edit, EditMACKeyPress, shortWidth > 0 ? kTypedPortLength : 0);
    if (shortWidth > 0)
        setTextWidth(edit, shortWidth);
    addRow(grid, field, edit, owner, shortWidth > 0 ? Qt::AlignLeft : Qt::Alignment{});
    return edit;
}

RadioGroup *makeChoice(const Field &field, int columns, int start, QWidget *parent)
{
    auto *group = new RadioGroup(fieldLabel(field), itemNames(field), columns, parent);
    group->setObjectName(QString::fromLatin1(field.control));
    group->setItemIndex(start);
    return group;
}

// A control of the field's kind, for a row the layout does not place by name.
QWidget *makeControl(const Field &field, QWidget *parent)
{
    if (field.kind == FieldKind::Item)
        return makeChoice(field, 1, 0, parent);
    if (std::holds_alternative<std::uint32_t CommonSettings::*>(field.common)) {
        auto *spin = new QSpinBox(parent);
        spin->setObjectName(QString::fromLatin1(field.control));
        spin->setRange(0, INT_MAX);
        return spin;
    }
    QLineEdit *edit = makeEdit(field, parent);
    if (field.kind == FieldKind::Ip)
        KeyFilter::install(edit, EditIP1_PCNKeyPress);
    else if (field.kind == FieldKind::Unsigned)
        KeyFilter::install(edit, EditMACKeyPress);
    else
        edit->setMaxLength(field.width);
    return edit;
}

// A control's value as CommonSettings binds it: a text, an item index, a number.
QVariant valueOf(const QWidget *control)
{
    if (const auto *group = qobject_cast<const RadioGroup *>(control))
        return group->itemIndex();
    if (const auto *box = qobject_cast<const QComboBox *>(control))
        return box->currentText();
    if (const auto *spin = qobject_cast<const QSpinBox *>(control))
        return uint(spin->value());
    if (const auto *edit = qobject_cast<const QLineEdit *>(control))
        return edit->text();
    return {};
}

void setValue(QWidget *control, const QVariant &value)
{
    if (auto *group = qobject_cast<RadioGroup *>(control)) {
        group->setItemIndex(std::clamp(value.toInt(), 0, group->count() - 1));
    } else if (auto *box = qobject_cast<QComboBox *>(control)) {
        // A text that is none of the items is shown as typed.
        const int item = box->findText(value.toString(), Qt::MatchExactly);
        box->setCurrentIndex(item);
        if (item < 0)
            box->setEditText(value.toString());
    } else if (auto *spin = qobject_cast<QSpinBox *>(control)) {
        // A value outside the limits is shown at the nearer one.
        spin->setValue(int(std::min(value.toUInt(), uint(spin->maximum()))));
    } else if (auto *edit = qobject_cast<QLineEdit *>(control)) {
        edit->setText(value.toString());
    }
}

} // namespace

CommonPanel::CommonPanel(QWidget *parent, std::span<const Field> fields) : QFrame(parent), fields_(fields)
{
    setObjectName(QStringLiteral("Panel1"));
    setFrameShape(QFrame::Panel);
    setFrameShadow(QFrame::Sunken);
    setFixedWidth(kPanelWidth);

    const int labelWidth = QFontMetrics(font()).horizontalAdvance(fieldLabel(CommonField::OwnIp)) + 4;

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(6, 6, 6, 6);
    column->setSpacing(6);

    // Serial number
    auto *top = new QWidget(this);
    auto *topGrid = makeGrid(top, labelWidth);
    topGrid->setContentsMargins(kLooseRowMargin, 0, kLooseRowMargin, 0);
    addEdit(topGrid, CommonField::Serial, top, {}, 10);
    column->addWidget(top);

    column->addWidget(makeChoice(CommonField::Format, 1, 0, this));
    column->addWidget(buildUsb());

    // GPRS
    auto *gprs = new QGroupBox(QStringLiteral(" Настройка GPRS"), this);
    gprs->setObjectName(QStringLiteral("GroupBox4"));
    auto *gprsGrid = new QGridLayout(gprs);
    gprsGrid->setContentsMargins(8, 4, 8, 6);
    addEdit(gprsGrid, CommonField::Apn, gprs, QStringLiteral("Имя точки доступа GPRS-канала "))
        ->setMaxLength(CommonField::Apn.width);
    column->addWidget(gprs);

    column->addWidget(buildLan(labelWidth));
    column->addWidget(buildServer(labelWidth));

    auto *rest = new QWidget(this);
    auto *restGrid = makeGrid(rest, labelWidth);
    restGrid->setContentsMargins(kLooseRowMargin, 0, kLooseRowMargin, 0);
    column->addWidget(rest);
    placeTheRest(restGrid);
    rest->setVisible(restGrid->count() > 0);

    column->addStretch(1);
}

QWidget *CommonPanel::buildUsb()
{
    auto *usb = new QGroupBox(QStringLiteral(" Настройка USB"), this);
    usb->setObjectName(QStringLiteral("GroupBox3"));
    auto *usbRow = new QHBoxLayout(usb);
    usbRow->setContentsMargins(8, 4, 8, 6);
    BaudBox_ = new QComboBox(usb);
    BaudBox_->setObjectName(QString::fromLatin1(CommonField::Baud.control));
    BaudBox_->setEditable(true);
    BaudBox_->setInsertPolicy(QComboBox::NoInsert);
    BaudBox_->addItems({QStringLiteral("2400"), QStringLiteral("4800"), QStringLiteral("9600"), QStringLiteral("19200"),
                        QStringLiteral("38400"), QStringLiteral("57600"), QStringLiteral("115200")});
    BaudBox_->lineEdit()->setMaxLength(CommonField::Baud.width); // what the image holds of it
    BaudBox_->setToolTip(fieldLabel(CommonField::Baud));         // it has no label of its own
    BaudBox_->setMinimumContentsLength(7);
    usbRow->addWidget(BaudBox_);
    usbRow->addStretch(1);
    auto *period = new QSpinBox(usb);
    period->setObjectName(QString::fromLatin1(CommonField::PeriodHB.control));
    period->setRange(1, 3600);
    period->setValue(10);
    period->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    period->setToolTip(QStringLiteral("Период передачи тестового извещения в канал USB"));
    auto *periodLabel = new QLabel(fieldLabel(CommonField::PeriodHB), usb);
    periodLabel->setBuddy(period);
    usbRow->addWidget(periodLabel);
    usbRow->addWidget(period);
    return usb;
}

QWidget *CommonPanel::buildLan(int labelWidth)
{
    auto *lan = new QGroupBox(QStringLiteral(" Настройка LAN"), this);
    lan->setObjectName(QStringLiteral("GroupBox2"));
    auto *lanGrid = makeGrid(lan, labelWidth);
    lanGrid->setContentsMargins(8, 4, 8, 6);
    addEdit(lanGrid, CommonField::MasterIp, lan, QStringLiteral("IP-адрес получатели извещений по ЛВС"));
    QLineEdit *masterPort = addEdit(lanGrid, CommonField::MasterPort, lan, {}, 6);
    masterPort->setText(QStringLiteral("9999"));
    masterPort->setReadOnly(true);

    auto *choices = new QHBoxLayout;
    choices->setSpacing(4);
    RadioGroup *etherProt = makeChoice(CommonField::EtherProt, 2, 0, lan);
    etherProt->setEnabled(false);
    DHCP_OnOff_ = makeChoice(CommonField::Dhcp, 2, 1, lan);
    choices->addWidget(etherProt, 1);
    choices->addWidget(DHCP_OnOff_, 1);
    lanGrid->addLayout(choices, lanGrid->rowCount(), 0, 1, 2);

    LocLAN_ = new QWidget(lan);
    LocLAN_->setObjectName(QStringLiteral("LocLAN"));
    auto *locGrid = makeGrid(LocLAN_, labelWidth);
    locGrid->setContentsMargins(0, 0, 0, 0);
    addEdit(locGrid, CommonField::OwnIp, LocLAN_, QStringLiteral("Собственный IP-адрес трансивера"));
    addEdit(locGrid, CommonField::OwnPort, LocLAN_, QStringLiteral("IP-порт трансивера"), 6);
    addEdit(locGrid, CommonField::GatewayIp, LocLAN_, QStringLiteral("IP-адрес сетевого роутера"));
    LocLAN_->hide();
    lanGrid->addWidget(LocLAN_, lanGrid->rowCount(), 0, 1, 2);
    connect(DHCP_OnOff_, &RadioGroup::itemIndexChanged, this, &CommonPanel::dhcpChanged);
    return lan;
}

// The update server: shown and kept, read by nothing.
QWidget *CommonPanel::buildServer(int labelWidth)
{
    auto *server = new QWidget(this);
    auto *serverGrid = makeGrid(server, labelWidth);
    serverGrid->setContentsMargins(kLooseRowMargin, 0, kLooseRowMargin, 0);
    QLineEdit *address = makeEdit("ServerIPEdit", server, QStringLiteral("IP-адрес сервера обновлений ПО Трансивера"));
    address->setText(QStringLiteral("203.0.113.10"));
    KeyFilter::install(address, EditIP1_PCNKeyPress);
    addRow(serverGrid, QStringLiteral("IP загрузчика"), address, server);

    auto *portRow = new QWidget(server);
    auto *portLayout = new QHBoxLayout(portRow);
    portLayout->setContentsMargins(0, 0, 0, 0);
    QLineEdit *port = makeEdit("ServerPortEdit", portRow);
    port->setText(QStringLiteral("9999"));
    port->setReadOnly(true);
    setTextWidth(port, 6);
    KeyFilter::install(port, EditMACKeyPress, kTypedPortLength);
    portLayout->addWidget(port);
    portLayout->addStretch(1);
    auto *start = new QPushButton(QStringLiteral("Пуск"), portRow);
    start->setObjectName(QStringLiteral("StartUploadBtn"));
    start->setFlat(true);
    QFont bold = start->font();
    bold.setBold(true);
    start->setFont(bold);
    QPalette red = start->palette();
    red.setColor(QPalette::ButtonText, Qt::red);
    start->setPalette(red);
    connect(start, &QPushButton::clicked, this, &CommonPanel::startUploadClicked);
    portLayout->addWidget(start);
    // The label names the port edit, not the row that holds it.
    addRow(serverGrid, QStringLiteral("Порт загрузчика"), portRow, server)->setBuddy(port);
    return server;
}

void CommonPanel::placeTheRest(QGridLayout *grid)
{
    QWidget *owner = grid->parentWidget();
    for (const Field &field : fields_) {
        if (!field.control)
            continue;
        auto *placed = findChild<QWidget *>(QString::fromLatin1(field.control));
        if (!placed) {
            placed = makeControl(field, owner);
            if (field.kind == FieldKind::Item)
                grid->addWidget(placed, grid->rowCount(), 0, 1, 2);
            else
                addRow(grid, field, placed, owner);
        }
        controls_.insert(&field, placed);
    }
}

CommonSettings CommonPanel::settings() const
{
    CommonSettings s;
    for (auto it = controls_.cbegin(); it != controls_.cend(); ++it)
        setBoundValue(*it.key(), s, valueOf(it.value()));
    return s;
}

void CommonPanel::apply(const CommonSettings &s)
{
    // In the order a read's decode fills them; the DHCP choice shows or
    // hides LocLAN.
    for (const Field *field : commonFieldsBy(&Field::readFills, fields_)) {
        if (QWidget *c = control(*field))
            setValue(c, boundValue(*field, s));
    }
}

void CommonPanel::clearForRead()
{
    for (const Field *field : commonFieldsBy(&Field::readClears, fields_)) {
        if (auto *edit = qobject_cast<QLineEdit *>(control(*field)))
            edit->clear();
    }
}

void CommonPanel::focus(const Field &field)
{
    QWidget *widget = control(field);
    if (widget && widget->isVisible() && widget->isEnabled() && widget->focusPolicy() != Qt::NoFocus)
        widget->setFocus(Qt::OtherFocusReason);
}

void CommonPanel::FormShow() { BaudBox_->setCurrentIndex(2); }

void CommonPanel::DHCP_OnOffClick() { LocLAN_->setVisible(DHCP_OnOff_->itemIndex() == 0); }

} // namespace tarvil
