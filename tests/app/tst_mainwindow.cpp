#include "app/BForm.h"
#include "app/CommonPanel.h"
#include "app/MainWindow.h"
#include "app/ObjectPanel.h"
#include "app/QtDialogs.h"
#include "app/RadioGroup.h"
#include "files/ConfigFile.h"
#include "link/Links.h"
#include "model/IpAddress.h"
#include "support/FakeLinkView.h"
#include "support/SampleConfiguration.h"
#include "support/ScriptedDialogs.h"
#include "support/TestEnv.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace tarvil;
using tarvil::test::ScriptedDialogs;
using tarvil::test::validSettings;

namespace {

const QString kOffline = QStringLiteral(
    "Трансивер ЛТКЗ \"Тарвил-QZT\" (версия 31.00.13)" "      " "Автономный режим");

// Records, in order, the changes of the watched actions and widgets.
class ChangeLog : public QObject {
public:
    QStringList entries;

    void watch(QAction *action)
    {
        connect(action, &QAction::changed, this, [this, action] { entries << action->objectName(); });
    }
    void watchVisibility(QWidget *widget) { widget->installEventFilter(this); }
    void watchText(QLineEdit *edit)
    {
        connect(edit, &QLineEdit::textChanged, this, [this, edit] { entries << edit->objectName(); });
    }
    void watch(RadioGroup *group)
    {
        connect(group, &RadioGroup::itemIndexChanged, this, [this, group] { entries << group->objectName(); });
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Hide || event->type() == QEvent::Show)
            entries << watched->objectName();
        return false;
    }
};

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<ScriptedDialogs> dialogs;
    std::unique_ptr<TA_Form> window;

    template <typename T = QWidget>
    T *find(const char *name) const
    {
        T *child = window->findChild<T *>(QString::fromLatin1(name));
        if (!child)
            qWarning("no child named %s", name);
        return child;
    }
    QAction *action(const char *name) const { return find<QAction>(name); }

    QString labelOf(const QWidget *field) const
    {
        for (const QLabel *label : window->findChildren<QLabel *>())
            if (label->buddy() == field)
                return label->text();
        return QStringLiteral("<none>");
    }

    // The link's timer of that name, or a running stand-in while the link keeps none.
    // One of the link's timers, running.
    QTimer *runningLinkTimer(const char *name)
    {
        auto *timer = window->findChild<QTimer *>(QString::fromLatin1(name));
        if (timer)
            timer->start();
        return timer;
    }

private slots:
    void init()
    {
        dialogs = std::make_unique<ScriptedDialogs>();
        LinkConfig config;
        config.timings = LinkTimings{}.scaled(0.01);
        config.localPort = tarvil::test::udpPort();
        config.remotePort = quint16(tarvil::test::udpPort() + 1);
        window = std::make_unique<TA_Form>(dialogs.get(), config);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
    void cleanup()
    {
        window.reset();
        dialogs.reset();
    }

    // ---- start state ----

    void window_geometryAndPanels()
    {
        QCOMPARE(window->objectName(), QStringLiteral("A_Form"));
        QCOMPARE(window->frameGeometry().size(), QSize(855, 592)); // the outer size
        if (const QScreen *screen = window->screen()) {
            // Centred; on a screen too small for it, from the top left corner.
            const QRect area = screen->availableGeometry();
            const QRect outer = window->frameGeometry();
            const int left = outer.left() - area.left(), right = area.right() - outer.right();
            const int top = outer.top() - area.top(), bottom = area.bottom() - outer.bottom();
            QVERIFY(right < 0 ? left == 0 : qAbs(left - right) <= 1);
            QVERIFY(bottom < 0 ? top == 0 : qAbs(top - bottom) <= 1);
        }
        auto *right = find<QFrame>("Panel1");
        auto *left = find<QFrame>("Panel2");
        QVERIFY(right && left);
        QCOMPARE(right->width(), 297);
        QCOMPARE(right->minimumWidth(), right->maximumWidth());
        QCOMPARE(right->frameShadow(), QFrame::Sunken);
        QVERIFY(right->frameShape() != QFrame::NoFrame);
        QCOMPARE(right->geometry().right(), window->centralWidget()->width() - 1);
        QVERIFY(left->geometry().right() < right->geometry().left());

        auto *bar = find<QStatusBar>("SB");
        QCOMPARE(window->statusBar(), bar);
        QCOMPARE(bar->height(), 28);
        QVERIFY(!bar->isSizeGripEnabled());
        QCOMPARE(window->statusText(), QString());
        QVERIFY(bar->currentMessage().isEmpty());
    }

    void leftPanel_objectPanelAboveGaugeAndWrBtn()
    {
        auto *left = find("Panel2");
        auto *gauge = find<QProgressBar>("Gauge");
        auto *wrBtn = find<QPushButton>("WrBtn");
        QWidget *objects = &window->objectPanel();
        QVERIFY(left->isAncestorOf(objects) && left->isAncestorOf(gauge) && left->isAncestorOf(wrBtn));
        QVERIFY(!gauge->isVisible());
        QVERIFY(!wrBtn->isVisible());
        QCOMPARE(gauge->minimum(), 0);
        QCOMPARE(gauge->maximum(), 100);
        QVERIFY(wrBtn->isFlat());
        QCOMPARE(wrBtn->text(), QStringLiteral("Записать"));
        QCOMPARE(wrBtn->iconSize(), QSize(16, 16));
        QVERIFY(!wrBtn->icon().pixmap(16, 16).isNull());

        window->setGaugeVisible(true);
        window->setWrBtnVisible(true);
        QVERIFY(gauge->isVisible() && wrBtn->isVisible());
        QTRY_VERIFY(objects->geometry().bottom() < gauge->geometry().top());
        QVERIFY(objects->geometry().bottom() < wrBtn->geometry().top());
    }

    void rightPanel_fields_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("hint");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<QString>("group");
        QTest::newRow("EditMAC") << "EditMAC" << "Заводской номер" << "" << "" << false << "";
        QTest::newRow("EditAPN") << "EditAPN" << "APN" << "Имя точки доступа GPRS-канала " << "" << false << "GroupBox4";
        QTest::newRow("EditIP1_PCN") << "EditIP1_PCN" << "IP-адрес мастера" << "IP-адрес получатели извещений по ЛВС" << "" << false << "GroupBox2";
        QTest::newRow("EditPort1_PCN") << "EditPort1_PCN" << "IP-порт мастера" << "" << "9999" << true << "GroupBox2";
        QTest::newRow("DHCP_IP") << "DHCP_IP" << "Локальный IP-адрес" << "Собственный IP-адрес трансивера" << "" << false << "LocLAN";
        QTest::newRow("EditPort_Loc") << "EditPort_Loc" << "Локальный IP- порт" << "IP-порт трансивера" << "" << false << "LocLAN";
        QTest::newRow("Shl_IP") << "Shl_IP" << "IP- адрес шлюза" << "IP-адрес сетевого роутера" << "" << false << "LocLAN";
        QTest::newRow("ServerIPEdit") << "ServerIPEdit" << "IP загрузчика" << "IP-адрес сервера обновлений ПО Трансивера" << "203.0.113.10" << false << "";
        QTest::newRow("ServerPortEdit") << "ServerPortEdit" << "Порт загрузчика" << "" << "9999" << true << "";
    }
    void rightPanel_fields()
    {
        QFETCH(QString, name);
        QFETCH(QString, label);
        QFETCH(QString, hint);
        QFETCH(QString, text);
        QFETCH(bool, readOnly);
        QFETCH(QString, group);
        auto *edit = window->findChild<QLineEdit *>(name);
        QVERIFY(edit);
        QVERIFY(find("Panel1")->isAncestorOf(edit));
        if (!group.isEmpty())
            QVERIFY(window->findChild<QWidget *>(group)->isAncestorOf(edit));
        QCOMPARE(labelOf(edit), label);
        QCOMPARE(edit->toolTip(), hint);
        QCOMPARE(edit->text(), text);
        QCOMPARE(edit->isReadOnly(), readOnly);
        QVERIFY(edit->isEnabled());
    }

    void rightPanel_choices()
    {
        auto *format = find<RadioGroup>("FrmtRadioGroup");
        QCOMPARE(format->title(), QStringLiteral(" Формат выдачи в ПЭВМ "));
        QCOMPARE(format->count(), 3);
        QCOMPARE(format->button(0)->text(), QStringLiteral("АСПТИ \"КЕ-Тарвил\""));
        QCOMPARE(format->button(1)->text(), QStringLiteral("Sur-Gard Contact ID"));
        QCOMPARE(format->button(2)->text(), QStringLiteral("Автономный режим"));
        QCOMPARE(format->itemIndex(), 0);
        QCOMPARE(format->button(0)->x(), format->button(2)->x()); // one column
        QVERIFY(format->isEnabled());

        auto *prot = find<RadioGroup>("EtherProt");
        QCOMPARE(prot->title(), QStringLiteral(" Протокол "));
        QCOMPARE(prot->button(0)->text(), QStringLiteral("UDP"));
        QCOMPARE(prot->button(1)->text(), QStringLiteral("TCP"));
        QCOMPARE(prot->itemIndex(), 0);
        QCOMPARE(prot->button(0)->y(), prot->button(1)->y()); // two columns
        QVERIFY(!prot->isEnabled());
        QTest::mouseClick(prot->button(1), Qt::LeftButton);
        QCOMPARE(prot->itemIndex(), 0); // the user cannot change it

        auto *dhcp = find<RadioGroup>("DHCP_OnOff");
        QCOMPARE(dhcp->title(), QStringLiteral("  DHCP  "));
        QCOMPARE(dhcp->button(0)->text(), QStringLiteral("Выкл."));
        QCOMPARE(dhcp->button(1)->text(), QStringLiteral("Вкл."));
        QCOMPARE(dhcp->itemIndex(), 1);
        QCOMPARE(dhcp->button(0)->y(), dhcp->button(1)->y());
        QVERIFY(!find("LocLAN")->isVisible());
        for (const char *name : {"EditIP1_PCN", "EditPort1_PCN", "EtherProt", "DHCP_OnOff", "LocLAN"})
            QVERIFY2(find("GroupBox2")->isAncestorOf(find(name)), name);
    }

    void rightPanel_usbAndStart()
    {
        auto *usb = find<QGroupBox>("GroupBox3");
        QCOMPARE(usb->title(), QStringLiteral(" Настройка USB"));
        QCOMPARE(find<QGroupBox>("GroupBox4")->title(), QStringLiteral(" Настройка GPRS"));
        QCOMPARE(find<QGroupBox>("GroupBox2")->title(), QStringLiteral(" Настройка LAN"));

        auto *baud = find<QComboBox>("BaudBox");
        QVERIFY(usb->isAncestorOf(baud));
        QVERIFY(baud->isEditable());
        QStringList items;
        for (int i = 0; i < baud->count(); ++i)
            items << baud->itemText(i);
        QCOMPARE(items, QStringList({"2400", "4800", "9600", "19200", "38400", "57600", "115200"}));
        QCOMPARE(baud->currentIndex(), 2);
        QCOMPARE(baud->currentText(), QStringLiteral("9600"));
        QCOMPARE(baud->toolTip(), QStringLiteral("Скорость передачи"));
        QCOMPARE(labelOf(baud), QStringLiteral("<none>"));

        auto *period = find<QSpinBox>("PeriodHB");
        QVERIFY(usb->isAncestorOf(period));
        QCOMPARE(period->value(), 10);
        QCOMPARE(period->minimum(), 1);
        QCOMPARE(period->maximum(), 3600);
        QVERIFY(period->alignment() & Qt::AlignRight);
        QCOMPARE(period->toolTip(), QStringLiteral("Период передачи тестового извещения в канал USB"));
        QCOMPARE(labelOf(period), QStringLiteral("Период теста, с"));

        QCOMPARE(find<QLineEdit>("EditAPN")->maxLength(), 64);
        QVERIFY2(TextToIp(find<QLineEdit>("ServerIPEdit")->text()) != 0, "the update server's address is not valid");

        auto *start = find<QPushButton>("StartUploadBtn");
        QCOMPARE(start->text(), QStringLiteral("Пуск"));
        QVERIFY(start->isFlat());
        QVERIFY(start->font().bold());
        QCOMPARE(start->palette().color(QPalette::ButtonText), QColor(Qt::red));
        QVERIFY(start->isVisible() && start->isEnabled());
        window->LockCommands();
        QVERIFY(start->isVisible() && start->isEnabled());
    }

    void menu_itemsInOrder()
    {
        auto *bar = find<QMenuBar>("A_Menu");
        QCOMPARE(window->menuBar(), bar);
        const QList<QAction *> items = bar->actions();
        QCOMPARE(items.size(), 32);
        const QStringList named = {"ItemLink", "ItemWr", "ItemRead", "ItemLoad", "ItemSave"};
        const QStringList captions = {"Связи с трансивером", "Записать", "Прочитать", "Загрузить", "Сохранить"};
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(items[i]->objectName(), named[i]);
            QCOMPARE(items[i]->text(), captions[i]);
        }
        for (int i = 5; i < 31; ++i) {
            if (i == 14)
                continue;
            QVERIFY2(items[i]->objectName().isEmpty() && items[i]->text().isEmpty(), qPrintable(QString::number(i)));
            QVERIFY(items[i]->isVisible() && items[i]->isEnabled());
            QVERIFY(!items[i]->menu());
        }
        QCOMPARE(items[14]->objectName(), QStringLiteral("ItemCode"));
        QCOMPARE(items[14]->text(), QStringLiteral("Таблица перекодировки"));
        QVERIFY(!items[14]->isVisible());
        QVERIFY(!items[14]->isEnabled());
        QVERIFY(bar->actionGeometry(items[14]).isEmpty());
        QCOMPARE(items[31]->objectName(), QStringLiteral("ItemExit"));
        QCOMPARE(items[31]->text(), QStringLiteral("Выход"));

        QMenu *links = items[0]->menu();
        QVERIFY(links);
        QCOMPARE(links->actions().size(), 2);
        QCOMPARE(links->actions()[0]->objectName(), QStringLiteral("USB1"));
        QCOMPARE(links->actions()[0]->text(), QStringLiteral("USB"));
        QCOMPARE(links->actions()[1]->objectName(), QStringLiteral("Lan"));
        QCOMPARE(links->actions()[1]->text(), QStringLiteral("LAN"));
    }

    void menu_startStates()
    {
        QVERIFY(action("ItemLink")->isEnabled());
        QVERIFY(!action("ItemWr")->isEnabled());
        QVERIFY(!action("ItemRead")->isEnabled());
        QVERIFY(action("ItemLoad")->isEnabled());
        QVERIFY(action("ItemSave")->isEnabled());
        QVERIFY(action("ItemExit")->isEnabled());
    }

    void emptyMenuItems_doNothing()
    {
        const QString title = window->windowTitle();
        for (QAction *item : window->menuBar()->actions())
            if (item->objectName().isEmpty())
                item->trigger();
        QCoreApplication::processEvents();
        QVERIFY(dialogs->messages.isEmpty());
        QVERIFY(window->isVisible());
        QCOMPARE(window->windowTitle(), title);
    }

    void captions_characterForCharacter()
    {
        QCOMPARE(window->windowTitle(), kOffline);
        QVERIFY(window->windowTitle().contains(QStringLiteral(")      А")));
        window->setCaption(CaptionMode::Usb, QStringLiteral("Com3"));
        QCOMPARE(window->windowTitle(),
                 QStringLiteral("Трансивер ЛТКЗ \"Тарвил-QZT\" (версия 31.00.13)      Канал USB Com3"));
        window->setCaption(CaptionMode::Lan, QStringLiteral("192.168.1.221"));
        QCOMPARE(window->windowTitle(),
                 QStringLiteral("Трансивер ЛТКЗ \"Тарвил-QZT\" (версия 31.00.13)      Канал LAN IP: 192.168.1.221"));
        window->setCaption(CaptionMode::Offline, QStringLiteral("ignored"));
        QCOMPARE(window->windowTitle(), kOffline);
        window->setStatusText(QStringLiteral("Соединение с 10.0.0.1"));
        QCOMPARE(window->statusText(), QStringLiteral("Соединение с 10.0.0.1"));
    }

    void formShow_runsOnce()
    {
        auto *baud = find<QComboBox>("BaudBox");
        baud->setCurrentIndex(6);
        window->setCaption(CaptionMode::Usb, QStringLiteral("Com1"));
        window->hide();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QCOMPARE(baud->currentIndex(), 6);
        QVERIFY(window->windowTitle().endsWith(QStringLiteral("Com1")));
        QVERIFY(!window->links().stopped());
    }

    void secondWindow_neverShown()
    {
        TB_Form second;
        window->show();
        QCoreApplication::processEvents();
        QCOMPARE(second.objectName(), QStringLiteral("B_Form"));
        QVERIFY(!second.isVisible());
        QCOMPARE(second.windowTitle(), QStringLiteral("Таблица перекодировки"));
        QCOMPARE(second.size(), QSize(780, 673));
        QCOMPARE(second.minimumSize(), second.maximumSize());
        const QList<QLabel *> labels = second.findChildren<QLabel *>();
        QCOMPARE(labels.size(), 1);
        QCOMPARE(labels[0]->text(), QStringLiteral("1234 18 Q CCC 00 EEE "));
        QCOMPARE(labels[0]->font().styleHint(), QFont::Serif);
        QVERIFY(labels[0]->font().pointSize() >= 20);
    }

    // ---- command lock ----

    void lockAndUnlock_inOrder()
    {
        auto *wrBtn = find<QPushButton>("WrBtn");
        auto *gauge = find<QProgressBar>("Gauge");
        window->setGaugeVisible(true);
        ChangeLog log;
        log.watchVisibility(wrBtn);
        for (const char *name : {"ItemLink", "ItemWr", "ItemRead", "ItemLoad", "ItemSave"})
            log.watch(action(name));

        window->UnlockCommands();
        QCOMPARE(log.entries, QStringList({"WrBtn", "ItemWr", "ItemRead"})); // the others were enabled
        QVERIFY(wrBtn->isVisible());
        for (const char *name : {"ItemLink", "ItemWr", "ItemRead", "ItemLoad", "ItemSave"})
            QVERIFY2(action(name)->isEnabled(), name);

        log.entries.clear();
        window->LockCommands();
        QCOMPARE(log.entries, QStringList({"WrBtn", "ItemLink", "ItemWr", "ItemRead", "ItemLoad", "ItemSave"}));
        QVERIFY(!wrBtn->isVisible());
        for (const char *name : {"ItemLink", "ItemWr", "ItemRead", "ItemLoad", "ItemSave"})
            QVERIFY2(!action(name)->isEnabled(), name);
        QVERIFY(action("ItemExit")->isEnabled());
        QVERIFY(gauge->isVisible()); // the lock leaves the gauge alone

        log.entries.clear();
        window->UnlockCommands();
        QCOMPARE(log.entries, QStringList({"WrBtn", "ItemLink", "ItemWr", "ItemRead", "ItemLoad", "ItemSave"}));
        QVERIFY(gauge->isVisible());
    }

    void perCommandStateAndGauge()
    {
        const std::pair<Command, const char *> commands[] = {
            {Command::ItemLink, "ItemLink"}, {Command::ItemWr, "ItemWr"}, {Command::ItemRead, "ItemRead"},
            {Command::ItemLoad, "ItemLoad"}, {Command::ItemSave, "ItemSave"}};
        for (auto [command, name] : commands) {
            window->setCommandEnabled(command, true);
            QVERIFY2(action(name)->isEnabled(), name);
            window->setCommandEnabled(command, false);
            QVERIFY2(!action(name)->isEnabled(), name);
            for (auto [other, otherName] : commands)
                if (other != command)
                    window->setCommandEnabled(other, true);
            QVERIFY2(!action(name)->isEnabled(), name);
        }

        auto *gauge = find<QProgressBar>("Gauge");
        window->setGaugeVisible(true);
        window->setGauge(37);
        QCOMPARE(gauge->value(), 37);
        window->setGauge(140);
        QCOMPARE(gauge->value(), 100);
        window->setGauge(-3);
        QCOMPARE(gauge->value(), 0);
        window->setGaugeVisible(false);
        QVERIFY(!gauge->isVisible());

        auto *wrBtn = find<QPushButton>("WrBtn");
        window->setWrBtnVisible(true);
        wrBtn->setDown(true);
        wrBtn->setEnabled(false);
        window->releaseWrBtn();
        QVERIFY(!wrBtn->isDown());
        QVERIFY(wrBtn->isEnabled());
    }

    // ---- DHCP panel ----

    void dhcpChoice_showsLocalPanelOnlyWhenOff()
    {
        auto *dhcp = find<RadioGroup>("DHCP_OnOff");
        QWidget *local = find("LocLAN");
        QTest::mouseClick(dhcp->button(0), Qt::LeftButton);
        QCOMPARE(dhcp->itemIndex(), 0);
        QVERIFY(local->isVisible());
        QTest::mouseClick(dhcp->button(0), Qt::LeftButton); // the current item again
        QVERIFY(local->isVisible());
        QTest::mouseClick(dhcp->button(1), Qt::LeftButton);
        QVERIFY(!local->isVisible());

        CommonSettings s = window->commonSettings();
        s.dhcp = 0;
        window->applyCommonSettings(s);
        QVERIFY(local->isVisible());
        s.dhcp = 1;
        window->applyCommonSettings(s);
        QVERIFY(!local->isVisible());
        s.dhcp = 200; // past the last item: the last, "Вкл."
        window->applyCommonSettings(s);
        QCOMPARE(dhcp->itemIndex(), 1);
        QVERIFY(!local->isVisible());
    }

    // ---- key filters on the right-hand edits ----

    void rightHandEdits_filterTypedKeys_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::newRow("EditMAC digits, 5 typed") << "EditMAC" << "1a2-3 4.5678" << "12345";
        QTest::newRow("EditPort_Loc digits, 5 typed") << "EditPort_Loc" << "99+99.9x9" << "99999";
        QTest::newRow("EditIP1_PCN IPv4") << "EditIP1_PCN" << "192.168.1.1-x " << "192.168.1.1";
        QTest::newRow("DHCP_IP IPv4") << "DHCP_IP" << "10,0.0.5a" << "100.0.5";
        QTest::newRow("Shl_IP IPv4") << "Shl_IP" << "10.0.0.254+" << "10.0.0.254";
        QTest::newRow("ServerIPEdit IPv4") << "ServerIPEdit" << "1.2.3.4 B" << "1.2.3.4";
    }
    void rightHandEdits_filterTypedKeys()
    {
        QFETCH(QString, name);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QTest::mouseClick(find<RadioGroup>("DHCP_OnOff")->button(0), Qt::LeftButton);
        auto *edit = window->findChild<QLineEdit *>(name);
        QVERIFY(edit && edit->isVisible());
        edit->clear();
        QTest::keyClicks(edit, typed);
        QCOMPARE(edit->text(), shown);
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(edit->text(), shown);
        QTest::keyClick(edit, Qt::Key_Backspace);
        QCOMPARE(edit->text(), shown.chopped(1));
    }

    void readOnlyPorts_takeNoTyping()
    {
        for (const char *name : {"EditPort1_PCN", "ServerPortEdit"}) {
            auto *edit = find<QLineEdit>(name);
            QTest::keyClicks(edit, "12");
            QTest::keyClick(edit, Qt::Key_Backspace);
            QCOMPARE(edit->text(), QStringLiteral("9999"));
        }
    }

    void serialNumber_setByProgram_staysWhole_pasteUnfiltered()
    {
        auto *mac = find<QLineEdit>("EditMAC");
        CommonSettings s = window->commonSettings();
        s.serial = QStringLiteral("4294967295");
        window->applyCommonSettings(s);
        QCOMPARE(mac->text(), QStringLiteral("4294967295"));
        QCOMPARE(window->commonSettings().serial, QStringLiteral("4294967295"));
        QTest::keyClick(mac, Qt::Key_End);
        QTest::keyClicks(mac, "7");
        QCOMPARE(mac->text(), QStringLiteral("4294967295"));

        QClipboard *clipboard = QGuiApplication::clipboard();
        clipboard->setText(QStringLiteral("12-AB 3456789"));
        if (clipboard->text() != QStringLiteral("12-AB 3456789"))
            QSKIP("No clipboard on this platform");
        mac->clear();
        QTest::keyClick(mac, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(mac->text(), QStringLiteral("12-AB 3456789"));
    }

    // ---- focus ----

    void focusControl_onlyWhereTheControlCanTakeIt()
    {
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        window->focusControl(CommonField::Serial);
        QCOMPARE(window->focusWidget(), find("EditMAC"));

        // LocLAN is hidden while DHCP is on.
        for (const Field *hidden : {&CommonField::OwnIp, &CommonField::OwnPort, &CommonField::GatewayIp}) {
            window->focusControl(*hidden);
            QCOMPARE(window->focusWidget(), find("EditMAC"));
        }
        window->focusControl(CommonField::MasterPort); // read-only, still focusable
        QCOMPARE(window->focusWidget(), find("EditPort1_PCN"));
        window->focusControl(CommonField::Apn);
        QCOMPARE(window->focusWidget(), find("EditAPN"));
        window->focusControl(CommonField::MasterIp);
        QCOMPARE(window->focusWidget(), find("EditIP1_PCN"));

        QTest::mouseClick(find<RadioGroup>("DHCP_OnOff")->button(0), Qt::LeftButton);
        window->focusControl(CommonField::GatewayIp);
        QCOMPARE(window->focusWidget(), find("Shl_IP"));
        window->focusControl(CommonField::OwnIp);
        QCOMPARE(window->focusWidget(), find("DHCP_IP"));

        find("EditMAC")->setEnabled(false);
        window->focusControl(CommonField::Serial);
        QCOMPARE(window->focusWidget(), find("DHCP_IP"));
    }

    // ---- settings in and out ----

    void commonSettings_roundTrip()
    {
        CommonSettings s = validSettings();
        s.serial = QStringLiteral("3000000001"); // above the signed range
        s.ownPort = QStringLiteral("65535");
        s.apn = QString(64, QLatin1Char('a')); // the field's whole width
        window->applyCommonSettings(s);
        QCOMPARE(window->commonSettings(), s);
        QCOMPARE(find<QComboBox>("BaudBox")->currentIndex(), 6);
        QVERIFY(find("LocLAN")->isVisible());

        s.baud = QStringLiteral("14400"); // not one of the items
        s.periodHB = 1;
        s.format = 0;
        s.etherProt = 0;
        s.dhcp = 1;
        window->applyCommonSettings(s);
        QCOMPARE(window->commonSettings(), s);
        QCOMPARE(find<QComboBox>("BaudBox")->currentText(), QStringLiteral("14400"));
        QCOMPARE(find<QComboBox>("BaudBox")->count(), 7);
    }

    // Every row of the image layout that names a control shows in the window
    // with its label; its value goes in and out, a file carries it and it
    // takes the focus. A new row gets all of this from the row alone.
    void everyCommonField_isShownLabelledCarriedAndFocused()
    {
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        const CommonSettings s = tarvil::test::validSettings(); // DHCP off: LocLAN shown
        ConfigImage image;
        QVERIFY(image.build(s, {}));
        PacketList packets;
        packets.buildFrom(image);
        const LoadResult file = parseConfigFile(serializeConfigFile(packets));
        window->applyCommonSettings(file.config.mergedInto(startSettings()));
        for (const Field &f : kCommonFields) {
            if (!f.control)
                continue;
            auto *control = find(f.control);
            QVERIFY2(control, f.key.data());
            // A group's title, else a label's, else the hint of a control without one.
            QString shown = labelOf(control);
            if (const auto *group = qobject_cast<QGroupBox *>(control))
                shown = group->title();
            else if (shown == QStringLiteral("<none>"))
                shown = control->toolTip();
            QCOMPARE(shown, fieldLabel(f));
            QVERIFY2(file.config.carries(f), f.key.data());
            QCOMPARE(fieldText(f, window->commonSettings()), fieldText(f, s));
            if (control->isEnabled() && control->focusPolicy() != Qt::NoFocus) {
                window->focusControl(f);
                QVERIFY2(control->hasFocus(), f.key.data());
            }
        }
    }

    // A row the panel's own layout does not place gets a control of its kind
    // at the panel's foot, labelled, read, set, emptied and focused through
    // the row alone.
    void aRowOfItsOwn_getsAControlOfItsKind()
    {
        static constexpr const char16_t *kChoices[] = {u"Один", u"Два"};
        static constexpr Field kRows[] = {
            {.key = "text", .label = u"Доп. текст", .offset = 0, .width = 8, .kind = FieldKind::Text,
             .common = &CommonSettings::apn, .control = "EditExtra", .readClears = 1, .readFills = 1},
            {.key = "choice", .label = u" Выбор ", .offset = 8, .width = 1, .kind = FieldKind::Item,
             .common = &CommonSettings::format, .items = kChoices, .control = "ExtraChoice", .readFills = 2},
        };
        QWidget host;
        auto *panel = new CommonPanel(&host, kRows);
        new QHBoxLayout(&host);
        host.layout()->addWidget(panel);
        host.show();
        QVERIFY(QTest::qWaitForWindowActive(&host));
        auto *edit = panel->findChild<QLineEdit *>(QStringLiteral("EditExtra"));
        auto *choice = panel->findChild<RadioGroup *>(QStringLiteral("ExtraChoice"));
        QVERIFY(edit && choice);
        QVERIFY(edit->isVisible());
        QCOMPARE(edit->maxLength(), 8);
        QString label;
        for (const QLabel *l : panel->findChildren<QLabel *>())
            label = l->buddy() == edit ? l->text() : label;
        QCOMPARE(label, QStringLiteral("Доп. текст"));
        QCOMPARE(choice->title(), QStringLiteral(" Выбор "));
        QCOMPARE(choice->count(), 2);

        CommonSettings s;
        s.apn = QStringLiteral("точка");
        s.format = 5; // beyond the last choice
        panel->apply(s);
        QCOMPARE(edit->text(), QStringLiteral("точка"));
        QCOMPARE(panel->settings().apn, QStringLiteral("точка"));
        QCOMPARE(panel->settings().format, 1);
        panel->clearForRead();
        QVERIFY(edit->text().isEmpty());
        QCOMPARE(choice->itemIndex(), 1);
        panel->focus(kRows[0]);
        QVERIFY(edit->hasFocus());
    }

    void applyCommonSettings_clampsSelectionsAndPeriod()
    {
        CommonSettings s = window->commonSettings();
        s.etherProt = 255;
        s.dhcp = 2;
        s.format = 5;
        s.periodHB = 0xFFFFFFFFu;
        window->applyCommonSettings(s);
        const CommonSettings shown = window->commonSettings();
        QCOMPARE(shown.etherProt, 1);
        QCOMPARE(shown.dhcp, 1);
        QCOMPARE(shown.format, 2);
        QCOMPARE(shown.periodHB, 3600u);
        s.periodHB = 0;
        window->applyCommonSettings(s);
        QCOMPARE(window->commonSettings().periodHB, 1u);
    }

    void applyCommonSettings_inImageOrder()
    {
        ChangeLog log;
        for (const char *name : {"EtherProt", "DHCP_OnOff", "FrmtRadioGroup"})
            log.watch(find<RadioGroup>(name));
        for (const char *name : {"EditAPN", "EditMAC", "EditPort1_PCN", "EditIP1_PCN", "Shl_IP", "DHCP_IP", "EditPort_Loc"})
            log.watchText(find<QLineEdit>(name));
        connect(find<QSpinBox>("PeriodHB"), &QSpinBox::valueChanged, &log, [&log] { log.entries << "PeriodHB"; });
        connect(find<QComboBox>("BaudBox"), &QComboBox::currentTextChanged, &log, [&log] { log.entries << "BaudBox"; });

        window->applyCommonSettings(validSettings()); // every field away from its start value
        log.entries.removeDuplicates();
        QCOMPARE(log.entries, QStringList({"EtherProt", "DHCP_OnOff", "EditAPN", "EditMAC", "FrmtRadioGroup",
                                           "EditPort1_PCN", "EditIP1_PCN", "Shl_IP", "DHCP_IP", "EditPort_Loc",
                                           "PeriodHB", "BaudBox"}));
    }

    void clearFieldsForRead_emptiesSixFieldsInOrder()
    {
        CommonSettings s = window->commonSettings();
        s.serial = "123";
        s.apn = "apn";
        s.masterIp = "1.1.1.1";
        s.ownIp = "2.2.2.2";
        s.ownPort = "5";
        s.gatewayIp = "3.3.3.3";
        s.periodHB = 77;
        window->applyCommonSettings(s);
        ChangeLog log;
        const QStringList six = {"EditMAC", "EditAPN", "EditIP1_PCN", "DHCP_IP", "EditPort_Loc", "Shl_IP"};
        for (const QString &name : six)
            log.watchText(window->findChild<QLineEdit *>(name));
        window->clearFieldsForRead();
        QCOMPARE(log.entries, six);
        for (const QString &name : six)
            QVERIFY(window->findChild<QLineEdit *>(name)->text().isEmpty());
        QCOMPARE(find<QLineEdit>("EditPort1_PCN")->text(), QStringLiteral("9999"));
        QCOMPARE(find<QLineEdit>("ServerIPEdit")->text(), QStringLiteral("203.0.113.10"));
        QCOMPARE(find<QSpinBox>("PeriodHB")->value(), 77);
    }

    // ---- closing ----

    void exitAnsweredNo_windowStays_timersOff()
    {
        QTimer *udp = runningLinkTimer("TimerUDP");
        QTimer *ack = runningLinkTimer("TimerWaitAck");
        QVERIFY(udp && ack);
        bool offWhileAsked = false;
        dialogs->whileOpen = [&](const UserMessage &) { offWhileAsked = !udp->isActive() && !ack->isActive(); };
        dialogs->answers << MsgAnswer::No;
        action("ItemExit")->trigger();

        QCOMPARE(dialogs->messages.size(), 1);
        QCOMPARE(dialogs->messages[0], (UserMessage{QStringLiteral("Завершить работу приложения?"),
                                                    QStringLiteral("Завершение работы"), MsgIcon::Warning,
                                                    MsgButtons::YesNo, false}));
        QVERIFY(window->isVisible());
        QVERIFY(!window->links().stopped());
        QVERIFY(offWhileAsked);
        QVERIFY(!udp->isActive());
        QVERIFY(!ack->isActive());
    }

    void closeAnsweredNo_nothingChanges()
    {
        dialogs->answers << MsgAnswer::No;
        QVERIFY(!window->close());
        QVERIFY(window->isVisible());
        QCOMPARE(dialogs->messages.size(), 1);
        QVERIFY(!window->links().stopped());
        dialogs->answers << MsgAnswer::Cancel; // any answer but Yes
        QVERIFY(!window->close());
        QVERIFY(window->isVisible());
    }

    void closeAnsweredYes_stopsAndCloses()
    {
        QVERIFY(window->close());
        QCOMPARE(dialogs->messages.size(), 1);
        QVERIFY(!window->isVisible());
        QVERIFY(window->links().stopped());
    }

    void closeRequests_whileAsking_askOnce()
    {
        dialogs->whileOpen = [this](const UserMessage &) {
            window->requestClose();
            QCoreApplication::processEvents();
            QCoreApplication::processEvents();
        };
        dialogs->answers << MsgAnswer::No;
        window->close();
        QCoreApplication::processEvents();
        QCOMPARE(dialogs->messages.size(), 1);
        QVERIFY(window->isVisible());
    }

    void requestClose_asksAfterTheCallerReturns()
    {
        dialogs->answers << MsgAnswer::Yes;
        window->requestClose();
        QVERIFY(dialogs->messages.isEmpty());
        QTRY_VERIFY(!window->isVisible());
        QCOMPARE(dialogs->messages.size(), 1);
        // A request that comes after the window has closed asks nothing.
        window->requestClose();
        QTest::qWait(20);
        QCOMPARE(dialogs->messages.size(), 1);
    }
};

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
