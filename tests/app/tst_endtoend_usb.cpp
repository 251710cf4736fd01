// The tool against the project's transceiver simulator on a pseudo-terminal,
// driven through the real main window.
#include "support/FakeLinkView.h"
#include "support/TestEnv.h"
#include "support/ToolRig.h"

#include "link/Links.h"

#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

using namespace tarvil;
using namespace tarvil::test;

namespace {

const QString kDone = QStringLiteral("Запись конфигурации трансивера № 12345 выполнена");

} // namespace

class EndToEndUsbTest : public QObject {
    Q_OBJECT
private slots:
    void init() { TARVIL_SKIP_USB_EXCHANGE(); }

    void choosingUsb_pollsAndShowsTheLinkUp()
    {
        ToolRig rig;
        QVERIFY(rig.connectUsb());
        QCOMPARE(rig.dialogs.portRequests.size(), 1);
        const QString device = rig.usb.devicePath().mid(5); // "pts/N"
        QCOMPARE(rig.window->windowTitle(),
                 QStringLiteral("Трансивер ЛТКЗ \"Тарвил-QZT\" (версия 31.00.13)      Канал USB ") + device);
        QVERIFY(rig.find<QPushButton>("WrBtn")->isVisible());
        QVERIFY(rig.action("ItemWr")->isEnabled());
        QVERIFY(rig.window->statusText().isEmpty());
        // Polls and answers alternate without pause.
        const int polls = rig.usb.polls();
        QTRY_VERIFY(rig.usb.polls() > polls + 5);
        QVERIFY(rig.window->links().usb().connected());
    }

    void write_withNegativeAcknowledgements_reachesEveryAddress()
    {
        ToolRig rig;
        QVERIFY(rig.connectUsb());
        rig.typeSettings(validSettings());
        rig.addRows(sampleRows(300));
        sim::UsbFaults faults;
        faults.nakPackets = {0, 1, 2, 500, 14202};
        faults.nakRate = 0.01;
        faults.seed = 7;
        rig.usb.setFaults(faults);
        rig.action("ItemWr")->trigger();
        QVERIFY(rig.window->links().usb().writing());
        QVERIFY(!rig.action("ItemLoad")->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(rig.messageCount(kDone) == 1, 120000);

        QCOMPARE(rig.usb.image(), rig.builtImage());
        for (int address = 0; address < kImageSize; address += 997)
            QVERIFY(rig.usb.packetsAt(address) >= 1);
        QVERIFY(rig.usb.packetsAt(0) >= 2); // packet 0 goes twice
        QVERIFY(rig.window->links().packets().isEmpty());
        QCOMPARE(rig.find<QProgressBar>("Gauge")->value(), 0);
        QVERIFY(!rig.action("ItemRead")->isEnabled());
        QVERIFY(rig.action("ItemLoad")->isEnabled() && rig.action("ItemSave")->isEnabled());
        // The poll cycle comes back after the write.
        const int polls = rig.usb.polls();
        QTRY_VERIFY(rig.usb.polls() > polls + 2);
        QTRY_VERIFY(rig.window->links().usb().connected());
        QVERIFY(rig.action("ItemWr")->isEnabled());
    }

    void write_toATransceiverThatFallsSilent_endsWithATimeOut()
    {
        ToolRig rig(silentTimings());
        QVERIFY(rig.connectUsb());
        rig.typeSettings(validSettings());
        sim::UsbFaults faults;
        faults.stopAfter = 40;
        rig.usb.setFaults(faults);
        rig.action("ItemWr")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!rig.window->links().usb().writing(), 30000);
        QCOMPARE(rig.dialogs.messages.size(), 1);
        QCOMPARE(rig.dialogs.messages.at(0),
                 (UserMessage{"Трансивер не отвечает", "Связь с трансивером", MsgIcon::Error, MsgButtons::Ok, true}));
        QVERIFY(rig.action("ItemLoad")->isEnabled() && rig.action("ItemLink")->isEnabled());
        // The link watch runs again and finds the transceiver gone.
        QTRY_COMPARE(rig.window->statusText(), QStringLiteral("Нет связи"));
        QVERIFY(!rig.action("ItemWr")->isEnabled());
    }

    void pullingTheCable_midWrite_endsTheWriteAndShowsTheLinkLost()
    {
        ToolRig rig;
        QVERIFY(rig.connectUsb());
        rig.typeSettings(validSettings());
        sim::UsbFaults faults;
        faults.closeAfter = 300;
        rig.usb.setFaults(faults);
        rig.action("ItemWr")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!rig.window->links().usb().writing(), 30000);
        // The box follows once the port's notification is over.
        QTRY_COMPARE(rig.dialogs.messages.value(0).text, QStringLiteral("Трансивер не отвечает"));
        QCOMPARE(rig.window->statusText(), QStringLiteral("Нет связи"));
        QVERIFY(rig.window->windowTitle().endsWith(QStringLiteral("Автономный режим")));
        QVERIFY(!rig.window->links().usb().isOpen());
        QVERIFY(rig.action("ItemLink")->isEnabled() && rig.action("ItemSave")->isEnabled());
        // The tool goes on: the window still handles events.
        QTest::qWait(50);
        QVERIFY(rig.window->isVisible());
    }

    void write_throughASlowAdapter_showsTheTimeLeftBesideThePercent()
    {
        ToolRig rig;
        QVERIFY(rig.connectUsb());
        rig.typeSettings(validSettings());
        // A bridge that holds every answer 3 ms: about 43 s for the write.
        sim::UsbFaults slow;
        slow.latency = std::chrono::milliseconds(3);
        rig.usb.setFaults(slow);
        auto *gauge = rig.find<QProgressBar>("Gauge");
        QVERIFY(!gauge->isTextVisible());
        rig.action("ItemWr")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(gauge->value() >= 1 && gauge->isTextVisible(), 60000);

        // The value stays the percent; the text shows it and the time left.
        static const QRegularExpression shown(QStringLiteral("^(\\d+) % · осталось (\\d+):(\\d\\d)$"));
        const QRegularExpressionMatch m = shown.match(gauge->text());
        QVERIFY2(m.hasMatch(), qPrintable(gauge->text()));
        QCOMPARE(m.captured(1).toInt(), gauge->value());
        const int left = m.captured(2).toInt() * 60 + m.captured(3).toInt();
        QVERIFY2(left >= 30, qPrintable(gauge->text())); // 3 ms or more for each of 14 000 frames and more
        QVERIFY2(gauge->toolTip().startsWith(QStringLiteral("Адаптер USB отвечает за ")), qPrintable(gauge->toolTip()));

        // What the window shows once a write has ended: nothing of it is
        // left beside the gauge.
        rig.window->setUsbPace(std::nullopt);
        QVERIFY(!gauge->isTextVisible());
        QVERIFY(gauge->toolTip().isEmpty());
        rig.window->close(); // the close question is answered Yes
    }

    void pullingTheCable_whileIdle_showsTheLinkLost()
    {
        ToolRig rig;
        QVERIFY(rig.connectUsb());
        rig.usb.close();
        QTRY_COMPARE(rig.window->statusText(), QStringLiteral("Нет связи"));
        QTRY_VERIFY(!rig.window->links().usb().isOpen());
        QVERIFY(!rig.find<QPushButton>("WrBtn")->isVisible());
        QVERIFY(rig.dialogs.messages.isEmpty());
    }

    void memoryFailure_showsItsBox()
    {
        ToolRig rig(silentTimings());
        QVERIFY(rig.connectUsb());
        rig.typeSettings(validSettings());
        sim::UsbFaults faults;
        faults.memoryFailureAt = 10;
        rig.usb.setFaults(faults);
        rig.action("ItemWr")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(rig.messageCount(QStringLiteral("Отказ оборудования")) == 1, 30000);
        QCOMPARE(rig.dialogs.messages.at(0).caption, QStringLiteral("Ошибка при записи ППЗУ"));
    }

    void fatalReply_closesThePortAndAsksToCloseTheWindow()
    {
        ToolRig rig;
        QVERIFY(rig.connectUsb());
        rig.typeSettings(validSettings());
        sim::UsbFaults faults;
        faults.fatalAt = 5;
        rig.usb.setFaults(faults);
        rig.dialogs.answers << MsgAnswer::Ok << MsgAnswer::No; // the fatal box, then "stay"
        rig.action("ItemWr")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(rig.dialogs.messages.size() == 2, 30000);
        QCOMPARE(rig.dialogs.messages.at(0).text, QStringLiteral("Ошибка выбора типа ППК!"));
        QCOMPARE(rig.dialogs.messages.at(1).text, QStringLiteral("Завершить работу приложения?"));
        QVERIFY(rig.window->isVisible());
        QVERIFY(!rig.window->links().usb().isOpen());
        QVERIFY(rig.action("ItemLink")->isEnabled());
    }
};

QTEST_MAIN(EndToEndUsbTest)
#include "tst_endtoend_usb.moc"
