// The platform's own serial port under the real window: the port chooser
// lists it, the caption names it, and a transceiver that does not answer is
// shown lost. On Windows the port is the COM port that `make windows-test`
// maps to a silent simulator (TARVIL_TEST_COM_PORT); elsewhere it is the
// in-process simulator's pseudo-terminal, made silent.
#include "support/ToolRig.h"

#include "app/MainWindow.h"
#include "link/Links.h"

#include <QTest>

using namespace tarvil;
using namespace tarvil::test;

class ComPortTest : public QObject {
    Q_OBJECT
private slots:
    void realPort_isListedNamedAndShownLostWhenSilent()
    {
        ToolRig rig;
        QString port = qEnvironmentVariable("TARVIL_TEST_COM_PORT");
        QString shownAs = QStringLiteral("Com") + port.mid(3);
        if (port.isEmpty()) {
#ifdef Q_OS_WIN
            QSKIP("no COM port is mapped to a simulator here (make windows-test maps one)");
#else
            QVERIFY(rig.usb.open());
            sim::UsbFaults silent;
            silent.silent = true;
            rig.usb.setFaults(silent);
            port = rig.usb.devicePath();
            shownAs = port.mid(5); // "pts/N"
#endif
        }
        rig.dialogs.ports.enqueue(port);
        rig.action("USB1")->trigger();

        QCOMPARE(rig.dialogs.portRequests.size(), 1);
        if (port.startsWith(QLatin1String("COM"))) {
            QStringList listed;
            for (const PortEntry &p : rig.dialogs.portRequests.at(0).ports)
                listed << p.name;
            QVERIFY2(listed.contains(port), qPrintable(listed.join(' ')));
        }
        QVERIFY(rig.dialogs.messages.isEmpty()); // the port opened
        QCOMPARE(rig.window->windowTitle(),
                 QStringLiteral("Трансивер ЛТКЗ \"Тарвил-QZT\" (версия 31.00.13)      Канал USB ") + shownAs);
        QTRY_COMPARE(rig.window->statusText(), QStringLiteral("Нет связи"));
        QVERIFY(!rig.action("ItemWr")->isEnabled());
        QVERIFY(rig.window->links().usb().isOpen());
    }
};

QTEST_MAIN(ComPortTest)
#include "tst_comport.moc"
