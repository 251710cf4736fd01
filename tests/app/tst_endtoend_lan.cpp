// The tool against the project's transceiver simulator over UDP on loopback,
// driven through the real main window as an installer would.
#include "support/FakeLinkView.h"
#include "support/TestEnv.h"
#include "support/ToolRig.h"

#include "app/ObjectPanel.h"
#include "files/Configuration.h"
#include "link/Links.h"
#include "model/ObjectTable.h"
#include "model/PanelTypeCatalogue.h"

#include "SampleImage.h"

#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace tarvil;
using namespace tarvil::test;

namespace {

QList<sim::Request> kinds(const sim::LanSimulator &sim)
{
    QList<sim::Request> out;
    for (const auto &d : sim.received())
        if (d.kind != sim::Request::Config || (!out.isEmpty() && out.last() == sim::Request::Fpde))
            out << d.kind;
    return out;
}

} // namespace

class EndToEndLanTest : public QObject {
    Q_OBJECT
private slots:
    void connect_showsTheLinkUp_andALateAnswerStillUnlocks()
    {
        ToolRig rig;
        QVERIFY(rig.connectLan());
        QCOMPARE(rig.window->windowTitle(),
                 QStringLiteral("Трансивер ЛТКЗ \"Тарвил-QZT\" (версия 31.00.13)      Канал LAN IP: 127.0.0.2"));
        QVERIFY(rig.window->statusText().isEmpty());
        QVERIFY(rig.find<QPushButton>("WrBtn")->isVisible());
        QVERIFY(rig.find<QProgressBar>("Gauge")->isVisible());
    }

    void connect_aLateAnswerStillUnlocksTheCommands()
    {
        ToolRig rig;
        QVERIFY(rig.lan.start(QHostAddress(QStringLiteral("127.0.0.2")), rig.port));
        sim::LanFaults slow;
        slow.delay = std::chrono::milliseconds(2500); // longer than the connect waits
        QVERIFY(rig.lan.setFaults(slow));
        rig.dialogs.texts.enqueue(QStringLiteral("127.0.0.2"));
        rig.chooseLan();
        QCOMPARE(rig.window->statusText(), QStringLiteral("Нет связи с 127.0.0.2"));
        QVERIFY(!rig.action("ItemRead")->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(rig.action("ItemRead")->isEnabled(), 10000);
        QCOMPARE(rig.window->links().lan().state(), lsIdle);
        QVERIFY(rig.window->windowTitle().endsWith(QStringLiteral("      Автономный режим")));
    }

    void connect_toNobody_timesOutOffline()
    {
        ToolRig rig;
        rig.dialogs.texts.enqueue(QStringLiteral("127.0.0.9")); // no transceiver there
        rig.chooseLan();
        QCOMPARE(rig.window->statusText(), QStringLiteral("Нет связи с 127.0.0.9"));
        QVERIFY(rig.window->windowTitle().endsWith(QStringLiteral("      Автономный режим")));
        QVERIFY(!rig.action("ItemWr")->isEnabled());
        QVERIFY(rig.action("ItemLoad")->isEnabled() && rig.action("ItemLink")->isEnabled());
    }

    void write_theTransceiverHoldsTheBuiltImageByteForByte()
    {
        ToolRig rig;
        QVERIFY(rig.connectLan());
        CommonSettings s = validSettings();
        rig.typeSettings(s);
        rig.addRows(sampleRows(300));
        QVERIFY(rig.write().done());

        QCOMPARE(rig.lan.writesCompleted(), 1);
        QCOMPARE(rig.lan.image(), rig.builtImage());
        QList<sim::Request> expected{sim::Request::Datf};
        for (int n = 0; n < 60; ++n)
            expected << sim::Request::WriteBlock;
        expected << sim::Request::WriteCommon;
        expected << sim::Request::Fpde << sim::Request::Config;
        QCOMPARE(kinds(rig.lan), expected);
        QCOMPARE(rig.dialogs.messages.size(), 1);
        QCOMPARE(rig.dialogs.messages.at(0).text, QStringLiteral("Запись конфигурации трансивера № 12345 выполнена"));

        // The image holds the table in object-number order.
        ConfigImage written;
        std::memcpy(written.data(), rig.lan.image().constData(), kImageSize);
        const QList<ObjectRow> records = written.decodeObjects();
        QCOMPARE(records.size(), 300);
        QCOMPARE(records.first().Obj, QStringLiteral("0001"));
        QCOMPARE(records.last().Obj, QStringLiteral("012C"));
        QCOMPARE(written.decodeCommon().serial, QStringLiteral("12345"));
        QVERIFY(rig.action("ItemRead")->isEnabled());
    }

    void write_commandsAndUploadButtonGiveTheSameImage()
    {
        ToolRig rig;
        QVERIFY(rig.connectLan());
        rig.typeSettings(validSettings());
        rig.addRows(sampleRows(3));
        rig.find<QLineEdit>("ServerIPEdit")->setText(QStringLiteral("198.51.100.77"));
        QVERIFY(rig.write().done());
        const QByteArray viaMenu = rig.lan.image();
        rig.lan.setImage(QByteArray(kImageSize, '\0'));
        QVERIFY(rig.write("StartUploadBtn").done());
        QCOMPARE(rig.lan.writesCompleted(), 2);
        QCOMPARE(rig.lan.image(), viaMenu);
        // The update server's address never reaches the transceiver.
        for (const auto &d : rig.lan.received())
            QVERIFY(!d.data.contains(QByteArray::fromHex("C633644D")));
    }

    void read_fillsTheFieldsAndTheTableFromTheTransceiver()
    {
        ToolRig rig;
        QVERIFY(rig.connectLan());
        ConfigImage source;
        CommonSettings s = validSettings();
        s.serial = QStringLiteral("4294967295");
        s.dhcp = 1;
        QList<ObjectRow> rows = sampleRows(300);
        for (int i = 0; i < rows.size(); ++i)
            rows[i].TypeId = std::int16_t(i % 12); // the sample catalogue names 0..9
        QVERIFY(source.build(s, rows));
        QByteArray held(reinterpret_cast<const char *>(source.data()), kImageSize);
        held.replace(kCommonBase + CommonField::Reserved.offset, 3, QByteArray::fromHex("011F0D")); // the device's own
        rig.lan.setImage(held);
        QVERIFY(rig.read().done());

        QCOMPARE(rig.dialogs.messages.value(0).text,
                 QStringLiteral("Чтение конфигурации трансивера № 4294967295 выполнено."));
        QCOMPARE(rig.window->commonSettings(), source.decodeCommon());
        QVERIFY(!rig.find<QWidget>("LocLAN")->isVisible());
        const QList<ObjectRow> table = rig.window->objectRows();
        QCOMPARE(table.size(), 300);
        const PanelTypeCatalogue &catalogue = rig.window->objectPanel().catalogue();
        for (const ObjectRow &r : table) {
            QCOMPARE(r.N_PPK, catalogue.FindPanelTypeName(r.TypeId));
            if (r.TypeId >= 10)
                QCOMPARE(r.N_PPK, QStringLiteral("Тип ППК не определен"));
        }
        QCOMPARE(table.first().Obj, QStringLiteral("0001"));
        QCOMPARE(rig.find<QWidget>("ObjCountLbl")->property("text").toString(),
                 QStringLiteral("Количество объектов 300"));
        QTRY_COMPARE(rig.lan.readsCompleted(), 1); // the last acknowledgement is on its way
        QVERIFY(rig.action("ItemWr")->isEnabled());

        // Saved after the read, the file is what the transceiver holds, its
        // reserved bytes included; tarvil-cli's read saves the same bytes.
        const QString windowFile = rig.folder.filePath(QStringLiteral("window.tvc"));
        rig.dialogs.saveNames.enqueue(windowFile);
        rig.action("ItemSave")->trigger();
        rig.window.reset(); // its UDP port is the command line's now
        QProcess cli;
        cli.setWorkingDirectory(rig.folder.path());
        cli.start(QStringLiteral(TARVIL_CLI_PROGRAM), {"read", "--lan", "127.0.0.2", "--udp-port",
                                                        QString::number(rig.port), "-o", "cli.tvc"});
        QVERIFY(runUntil([&] { return cli.state() == QProcess::NotRunning; }, 60000));
        QCOMPARE(cli.exitCode(), 0);
        const auto bytes = [&rig](const char *name) {
            QFile f(rig.folder.filePath(QString::fromLatin1(name)));
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        };
        const OpenResult saved = openConfigFile(windowFile, PanelTypeCatalogue());
        QCOMPARE(saved.config.fieldBytes(CommonField::Reserved), QByteArray::fromHex("011F0D"));
        QCOMPARE(bytes("cli.tvc"), bytes("window.tvc"));
    }

    void read_aRepeatedBlockIsStoredOnce()
    {
        ToolRig rig;
        QVERIFY(rig.connectLan());
        sim::LanFaults faults;
        faults.duplicateReadBlock = 7;
        faults.alterDuplicate = true; // a stored repeat would show other bytes
        QVERIFY(rig.lan.setFaults(faults));
        const QByteArray image = sim::sampleImage();
        rig.lan.setImage(image);
        QVERIFY(rig.read().done());
        QCOMPARE(rig.dialogs.messages.size(), 1);
        QCOMPARE(rig.dialogs.messages.at(0).icon, MsgIcon::Information);
        QCOMPARE(rig.builtImage(), image);
    }

    void failures_endWithTheirMessageAndTheCommandsBack_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<bool>("read");
        QTest::addColumn<QString>("message");
        QTest::newRow("write, silent") << 0 << false << "Трансивер не отвечает";
        QTest::newRow("write, failure reply") << 1 << false << "Ошибка при записи конфигурации";
        QTest::newRow("write, a block's answer lost for good") << 2 << false << "Трансивер не отвечает ";
        QTest::newRow("read, silent") << 0 << true << "Ошибка при чтение конфигурации.";
        QTest::newRow("read, lost block") << 3 << true << "Ошибка при чтение конфигурации.";
        QTest::newRow("read, end before the common block") << 4 << true << "Ошибка при чтение конфигурации.";
        QTest::newRow("read, replies from another address") << 5 << true << "Ошибка при чтение конфигурации.";
    }
    void failures_endWithTheirMessageAndTheCommandsBack()
    {
        QFETCH(int, fault);
        QFETCH(bool, read);
        QFETCH(QString, message);
        ToolRig rig(silentTimings());
        QVERIFY(rig.connectLan());
        rig.typeSettings(validSettings());
        sim::LanFaults f;
        switch (fault) {
        case 0: f.silent = true; break;
        case 1: f.failWrite = true; break;
        case 2: f.dropReplies = {sim::ReplySelector{sim::ReplySelector::Block, 12, 0}}; break;
        case 3: f.stopReadAfter = 20; break;
        case 4: f.earlyEnd = sim::EarlyEnd::ThenStop; break;
        case 5: f.otherMode = sim::OtherAddressMode::Instead; break;
        }
        QVERIFY(rig.lan.setFaults(f));
        const Outcome outcome = read ? rig.read() : Outcome(rig.write());
        QCOMPARE(outcome.result, Outcome::Result::Failed);
        QCOMPARE(outcome.message, message);
        QCOMPARE(rig.dialogs.messages.size(), 1);
        QCOMPARE(rig.dialogs.messages.at(0).text, message);
        QVERIFY(rig.action("ItemRead")->isEnabled() && rig.action("ItemWr")->isEnabled());
        QVERIFY(rig.find<QPushButton>("WrBtn")->isVisible());
        QCOMPARE(rig.window->links().lan().state(), lsIdle);
        if (fault == 0 && !read) {
            int datf = 0;
            for (const auto &d : rig.lan.received())
                datf += d.kind == sim::Request::Datf;
            QCOMPARE(datf, 7);
        }
        if (read) {
            QVERIFY(rig.window->objectRows().isEmpty());
            QVERIFY(rig.find<QLineEdit>("EditMAC")->text().isEmpty());
        } else if (fault != 1) {
            QCOMPARE(rig.lan.writesCompleted(), 0);
        }
    }

    void closingDuringAWrite_endsItWithoutAMessage()
    {
        ToolRig rig(silentTimings());
        QVERIFY(rig.connectLan());
        rig.typeSettings(validSettings());
        sim::LanFaults f;
        f.silent = true;
        QVERIFY(rig.lan.setFaults(f));
        rig.dialogs.answers.enqueue(MsgAnswer::Yes);
        QTimer::singleShot(5, rig.window.get(), [&] { rig.window->close(); });
        QCOMPARE(rig.write().result, Outcome::Result::Interrupted);
        QCOMPARE(rig.dialogs.messages.size(), 1);
        QCOMPARE(rig.dialogs.messages.at(0).text, QStringLiteral("Завершить работу приложения?"));
        QVERIFY(rig.window->links().stopped());
        QVERIFY(!rig.window->isVisible());
    }
};

QTEST_MAIN(EndToEndLanTest)
#include "tst_endtoend_lan.moc"
