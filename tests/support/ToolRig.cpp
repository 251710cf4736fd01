#include "ToolRig.h"

#include "TestEnv.h"

#include "app/ObjectPanel.h"
#include "app/RadioGroup.h"
#include "link/Links.h"
#include "model/ObjectTable.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>

namespace tarvil::test {

LinkTimings answeringTimings()
{
    LinkTimings t;
    t.waitAck = Millis(3000);
    t.waitBlock = Millis(3000);
    t.keepAlive = Millis(20);
    t.connectTurn = Millis(102);
    t.serialTick = Millis(55);
    t.usbWriteTimeout = Millis(5000);
    return t;
}

LinkTimings silentTimings()
{
    LinkTimings t = answeringTimings();
    t.waitAck = Millis(25);
    t.waitBlock = Millis(25);
    t.usbWriteTimeout = Millis(100);
    return t;
}

ToolRig::ToolRig(const LinkTimings &timings) : port(udpPort())
{
    // The tool reads CentralType.txt from its working folder.
    QFile::copy(dataDir() + QStringLiteral("/CentralType.txt"), folder.filePath(QStringLiteral("CentralType.txt")));
    QDir::setCurrent(folder.path());
    LinkConfig config;
    config.timings = timings;
    config.localPort = port;
    config.remotePort = port;
    window = std::make_unique<TA_Form>(&dialogs, config);
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        qWarning("the main window was not exposed");
}

ToolRig::~ToolRig()
{
    window.reset();
    QDir::setCurrent(QDir::tempPath());
}

QAction *ToolRig::action(const char *name) const { return find<QAction>(name); }

bool ToolRig::connectLan()
{
    if (!lan.isRunning() && !lan.start(QHostAddress(QStringLiteral("127.0.0.2")), port)) {
        qWarning("the LAN simulator did not start: %s", qPrintable(lan.errorString()));
        return false;
    }
    dialogs.texts.enqueue(QStringLiteral("127.0.0.2"));
    chooseLan();
    return window->links().lan().state() == lsIdle && action("ItemRead")->isEnabled();
}

void ToolRig::chooseLan()
{
    action("Lan")->trigger();
    LanLink &lan = window->links().lan();
    (void)QTest::qWaitFor([&lan] { return !lan.connecting(); }, 60000);
}

WriteOutcome ToolRig::write(const char *command)
{
    std::optional<WriteOutcome> outcome;
    const auto c = QObject::connect(&window->links().writer(), &WriteTransaction::finished,
                                    [&outcome](const WriteOutcome &o) { outcome = o; });
    if (qstrcmp(command, "ItemWr") == 0)
        action("ItemWr")->trigger();
    else
        find<QAbstractButton>(command)->click();
    runUntil([&outcome] { return outcome.has_value(); }, 60000);
    QObject::disconnect(c);
    if (outcome)
        return *outcome;
    WriteOutcome none;
    none.result = Outcome::Result::Interrupted;
    return none;
}

Outcome ToolRig::read()
{
    std::optional<Outcome> outcome;
    const auto c = QObject::connect(&window->links().reader(), &ReadTransaction::finished,
                                    [&outcome](const Outcome &o) { outcome = o; });
    action("ItemRead")->trigger();
    if (window->links().reader().state() == ReadTransaction::State::Reading)
        runUntil([&outcome] { return outcome.has_value(); }, 60000);
    QObject::disconnect(c);
    return outcome.value_or(Outcome{Outcome::Result::Interrupted, {}});
}

bool ToolRig::connectUsb()
{
    if (!usb.isOpen() && !usb.open())
        return false;
    dialogs.ports.enqueue(usb.devicePath());
    action("USB1")->trigger();
    return QTest::qWaitFor([this] { return window->links().usb().connected(); }, 10000);
}

void ToolRig::typeSettings(const CommonSettings &s)
{
    auto type = [this](const char *name, const QString &text) {
        auto *edit = find<QLineEdit>(name);
        edit->clear();
        QTest::keyClicks(edit, text);
    };
    find<RadioGroup>("EtherProt")->setItemIndex(s.etherProt); // disabled: only a load or a read sets it
    // The local-address panel shows with DHCP off.
    QTest::mouseClick(find<RadioGroup>("DHCP_OnOff")->button(s.dhcp), Qt::LeftButton);
    type("EditMAC", s.serial);
    type("EditIP1_PCN", s.masterIp);
    type("DHCP_IP", s.ownIp);
    type("EditPort_Loc", s.ownPort);
    type("Shl_IP", s.gatewayIp);
    type("EditAPN", s.apn);
    find<QLineEdit>("EditPort1_PCN")->setText(s.masterPort); // read-only
    QTest::mouseClick(find<RadioGroup>("FrmtRadioGroup")->button(s.format), Qt::LeftButton);
    auto *baud = find<QComboBox>("BaudBox");
    baud->setCurrentIndex(baud->findText(s.baud));
    find<QSpinBox>("PeriodHB")->setValue(int(s.periodHB));
}

void ToolRig::addRows(const QList<ObjectRow> &rows)
{
    storeRows(window->objectPanel().table(), rows);
}

void storeRows(ObjectTable &table, const QList<ObjectRow> &rows)
{
    for (const ObjectRow &r : rows) {
        table.insert();
        table.setFieldText(ObjectField::Obj, r.Obj);
        table.setFieldText(ObjectField::Account, r.Account);
        table.setFieldText(ObjectField::P1, r.P1);
        table.setFieldText(ObjectField::P2, r.P2);
        table.setFieldText(ObjectField::WaitTest, QString::number(r.WaitTest));
        table.post();
    }
}

QByteArray ToolRig::builtImage() const
{
    return QByteArray(reinterpret_cast<const char *>(window->image().data()), kImageSize);
}

int ToolRig::messageCount(const QString &text) const
{
    int n = 0;
    for (const UserMessage &m : dialogs.messages)
        n += m.text == text;
    return n;
}

} // namespace tarvil::test
