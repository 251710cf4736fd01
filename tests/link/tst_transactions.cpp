// The write and read transactions over the LAN, and the write's checks and
// save target, run against a scripted UDP endpoint.
#include "support/FakeAdapters.h"
#include "support/FakeLinkView.h"

#include "link/Links.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace tarvil;
using namespace tarvil::test;

namespace {

const QString kPeer = QStringLiteral("127.0.0.2");

// Plays the transceiver's side of the LAN dialogue over the fake endpoint.
struct Responder {
    FakeUdpEndpoint *udp = nullptr;
    bool silent = false;
    int silentFromBlock = 0;   // no "OK" from this write block on (1..61)
    bool silentResult = false; // no answer to the final "AT+CONFIG"
    bool failResult = false;
    bool okToFpde = false;
    bool strayOkAfterReady = false; // a late keep-alive answer right behind the ready reply
    bool resultTwice = false;
    int readStopsAfter = -1;   // blocks sent before the read goes quiet
    bool endFirst = false;     // an end datagram before any block
    QByteArray image = QByteArray(kImageSize, '\0');
    bool afterFpde = false;
    int readNext = -1;
    std::function<void(int)> onBlock; // called with each write block number

    void attach(FakeUdpEndpoint *endpoint)
    {
        udp = endpoint;
        udp->onSend = [this](const QByteArray &d) { answer(d); };
    }
    void reply(const QByteArray &d) { udp->deliverLater(d, kPeer); }
    static QByteArray header(int number)
    {
        QByteArray h = QByteArrayLiteral("AT+RDY") + QByteArray(5, '\0');
        h.append(char(number));
        return h;
    }
    void sendReadDatagram()
    {
        if (readNext < 0)
            return;
        if (readStopsAfter >= 0 && readNext >= readStopsAfter && readNext < 60)
            return;
        if (readNext < 60)
            reply(header(readNext) + image.mid(readNext * 235, 235));
        else if (readNext == 60)
            reply(header(60) + image.mid(kCommonBase, kCommonSize));
        else if (readNext == 61)
            reply("AT+RDYE");
        else
            readNext = -2;
        ++readNext;
    }
    void answer(const QByteArray &d)
    {
        if (silent)
            return;
        if (d == "AT+DATF") {
            afterFpde = false;
            reply("READY");
            if (strayOkAfterReady)
                reply("OK");
        } else if (d.startsWith("AT+FPD0=") && d.size() >= 12) {
            const int n = static_cast<unsigned char>(d.at(11));
            if (onBlock)
                onBlock(n);
            if (silentFromBlock > 0 && n >= silentFromBlock)
                return;
            if (n >= 1 && n <= 60)
                image.replace((n - 1) * 235, 235, d.mid(12));
            else if (n == 61)
                image.replace(kCommonBase, kCommonSize, d.mid(12));
            reply("OK");
        } else if (d == "AT+FPDE") {
            afterFpde = true;
            if (okToFpde)
                reply("OK");
        } else if (d == "AT+CONFIG") {
            if (!afterFpde)
                reply("OK");
            else if (!silentResult) {
                reply(failResult ? QByteArray("BAD") : QByteArray("GOOD"));
                if (resultTwice)
                    reply(failResult ? QByteArray("BAD") : QByteArray("GOOD"));
            }
        } else if (d == "AT+READF") {
            if (endFirst)
                reply("AT+RDYE");
            readNext = 0;
            sendReadDatagram();
        } else if (d == "AT+RDY0") {
            sendReadDatagram();
        }
    }
};

struct Rig {
    FakeLinkView view;
    FakeUdpEndpoint *udp;
    FakeSerialPort *serial;
    ConfigImage image;
    std::unique_ptr<Links> link;
    Responder peer;

    Rig()
    {
        auto u = std::make_unique<FakeUdpEndpoint>();
        auto s = std::make_unique<FakeSerialPort>();
        udp = u.get();
        serial = s.get();
        LinkConfig config;
        config.timings = LinkTimings{}.scaled(0.004); // 20 ms time-outs
        link = std::make_unique<Links>(view, view, image, config, std::move(s), std::move(u));
        link->formShow();
        view.settings = validSettings();
        peer.attach(udp);
    }
    QTimer *timer(const char *name) { return link->findChild<QTimer *>(QString::fromLatin1(name)); }
    // A connected LAN link, as LanClick leaves it.
    void connectLan()
    {
        view.textAnswers.enqueue(kPeer);
        link->LanClick();
        QTRY_COMPARE(link->lan().state(), lsIdle);
        udp->sent.clear();
        view.messages.clear();
    }
    // "Записать" run to its end: how it finished, which it does exactly once.
    WriteOutcome write()
    {
        QSignalSpy finished(&link->writer(), &WriteTransaction::finished);
        link->WrBtnClick();
        if (finished.isEmpty())
            finished.wait(60000);
        QCoreApplication::processEvents(); // a second end would show here
        QTest::qVerify(finished.size() == 1, "the write finished once", "", __FILE__, __LINE__);
        return finished.value(0).value(0).value<WriteOutcome>();
    }
    Outcome read()
    {
        QSignalSpy finished(&link->reader(), &ReadTransaction::finished);
        link->ItemReadClick();
        if (finished.isEmpty())
            finished.wait(60000);
        QCoreApplication::processEvents();
        QTest::qVerify(finished.size() == 1, "the read finished once", "", __FILE__, __LINE__);
        return finished.value(0).value(0).value<ReadOutcome>();
    }
    QList<QByteArray> requests() const
    {
        QList<QByteArray> out;
        for (const QByteArray &d : udp->sent)
            if (d != "AT+CONFIG" || !out.isEmpty())
                out << d;
        return out;
    }
};

ObjectRow row(const QString &obj, const QString &phone)
{
    ObjectRow r;
    r.Obj = obj;
    r.Account = QStringLiteral("0001");
    r.P1 = phone;
    r.P2 = QStringLiteral("+70000000000");
    r.TypeId = 3;
    r.Prot = 2;
    r.WaitTest = 15;
    return r;
}

} // namespace

class TransactionsTest : public QObject {
    Q_OBJECT
private slots:
    void checks_failInOrderWithTheirMessages_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("control");
        QTest::newRow("serial empty") << "serial" << "" << "Не определен заводской номер" << "EditMAC";
        QTest::newRow("serial pasted text") << "serial" << "12a" << "Не определен заводской номер" << "EditMAC";
        QTest::newRow("master port") << "masterPort" << "" << "Не определен IP - порт приемника" << "EditPort1_PCN";
        QTest::newRow("own port") << "ownPort" << "" << "Не определен локальный порт" << "EditPort_Loc";
        QTest::newRow("master ip 0.0.0.0") << "masterIp" << "0.0.0.0" << "Не определен IP - адрес приемника" << "EditIP1_PCN";
        QTest::newRow("own ip") << "ownIp" << "1.2.3" << "Не определен локальный IP - адрес" << "DHCP_IP";
        QTest::newRow("gateway") << "gatewayIp" << "" << "Не определен  IP - адрес шлюза" << "Shl_IP";
        QTest::newRow("apn") << "apn" << "" << "Не определен APN GPRS - канала" << "EditAPN";
    }
    void checks_failInOrderWithTheirMessages()
    {
        QFETCH(QString, field);
        QFETCH(QString, value);
        QFETCH(QString, message);
        QFETCH(QString, control);
        Rig r;
        r.connectLan();
        r.view.locLanVisible = true;
        CommonSettings &s = r.view.settings;
        QHash<QString, QString *> fields{{"serial", &s.serial}, {"masterPort", &s.masterPort},
                                         {"ownPort", &s.ownPort}, {"masterIp", &s.masterIp},
                                         {"ownIp", &s.ownIp}, {"gatewayIp", &s.gatewayIp}, {"apn", &s.apn}};
        *fields.value(field) = value;
        bool saved = false;
        SaveTarget target{[&](const PacketList &) { saved = true; }};
        const WriteOutcome outcome = r.write();
        QCOMPARE(outcome.result, Outcome::Result::Refused);
        QCOMPARE(outcome.message, message);
        r.link->WrBtnClick(&target);
        QVERIFY(!saved);
        QCOMPARE(r.view.messages.size(), 2);
        QCOMPARE(r.view.messages.at(0), (UserMessage{message, "Ошибка", MsgIcon::Error, MsgButtons::Ok, false}));
        QCOMPARE(r.view.focused.value(0), control);
        QVERIFY(r.requests().isEmpty()); // keep-alives only
        QVERIFY(r.link->packets().isEmpty());
        QVERIFY(r.view.allCommandsEnabled());
    }

    void checks_onTheHiddenPanel_refuseWithoutMovingTheFocus()
    {
        Rig r;
        r.view.settings.dhcp = 1; // DHCP on: the local-address panel is hidden
        r.view.settings.ownIp.clear();
        r.write();
        QCOMPARE(r.view.messages.size(), 1);
        QCOMPARE(r.view.messages.at(0).text, QStringLiteral("Не определен локальный IP - адрес"));
        QVERIFY(r.view.focused.isEmpty());
        QVERIFY(r.view.allCommandsEnabled());
    }

    void checks_storeEachPassedFieldAtOnce()
    {
        Rig r;
        r.view.settings.masterIp.clear(); // the fourth check fails
        r.view.settings.masterPort = QStringLiteral("70000");
        r.write();
        const ConfigImage &img = r.image;
        QCOMPARE(ConfigImage::readUnsigned(img.common() + CommonField::Serial.offset, 4), 12345u);
        QCOMPARE(ConfigImage::readUnsigned(img.common() + CommonField::MasterPort.offset, 2), 4464u); // low 16 bits
        QCOMPARE(img.common()[CommonField::Dhcp.offset], std::uint8_t(0));
        QCOMPARE(ConfigImage::readUnsigned(img.common() + CommonField::MasterIp.offset, 4), 0u);
    }

    void lanWrite_sendsTheWholeDialogueInOrder()
    {
        Rig r;
        r.connectLan();
        r.view.rows = {row("0010", "111"), row("0020", "222")};
        QCOMPARE(r.write().result, Outcome::Result::Done);

        const QList<QByteArray> sent = r.requests();
        QCOMPARE(sent.size(), 64);
        QCOMPARE(sent.first(), QByteArray("AT+DATF"));
        for (int n = 1; n <= 60; ++n) {
            const QByteArray &d = sent.at(n);
            QCOMPARE(d.size(), 247);
            QCOMPARE(d.left(12), QByteArray("AT+FPD0=") + QByteArray::fromHex("00EB00") + char(n));
            QCOMPARE(d.mid(12), QByteArray(reinterpret_cast<const char *>(r.image.record(5 * (n - 1))), 235));
        }
        QCOMPARE(sent.at(61).size(), 114);
        QCOMPARE(sent.at(61).left(12), QByteArray("AT+FPD0=") + QByteArray::fromHex("0066003D"));
        QCOMPARE(sent.at(62), QByteArray("AT+FPDE"));
        QCOMPARE(sent.at(63), QByteArray("AT+CONFIG"));
        QCOMPARE(r.peer.image, QByteArray(reinterpret_cast<const char *>(r.image.data()), kImageSize));

        QVERIFY(r.view.gaugeHistory.contains(100));
        QCOMPARE(r.view.gauge, 0);
        QCOMPARE(r.view.messages.size(), 1);
        QCOMPARE(r.view.messages.at(0).text, QStringLiteral("Запись конфигурации трансивера № 12345 выполнена"));
        QCOMPARE(r.link->lan().state(), lsIdle);
        QVERIFY(r.view.allCommandsEnabled());
        QVERIFY(r.timer("TimerUDP")->isActive());
        QVERIFY(!r.timer("TimerWaitAck")->isActive());
        QCOMPARE(r.link->packets().count(), kImageSize); // kept until the next write
    }

    void lanWrite_resultBoxComesBeforeTheCommandsAreRestored()
    {
        Rig r;
        r.connectLan();
        bool lockedWhileBoxOpen = false;
        r.view.onMessage = [&](const UserMessage &) { lockedWhileBoxOpen = r.view.locked; };
        r.write();
        QVERIFY(lockedWhileBoxOpen);
        QVERIFY(!r.view.locked);
    }

    void lanWrite_failures_data()
    {
        QTest::addColumn<int>("silentFromBlock");
        QTest::addColumn<bool>("silentAll");
        QTest::addColumn<bool>("silentResult");
        QTest::addColumn<QByteArray>("repeated");
        QTest::addColumn<int>("sends");
        QTest::addColumn<QString>("message");
        QTest::newRow("no ready reply") << 0 << true << false << QByteArray("AT+DATF") << 7 << "Трансивер не отвечает";
        QTest::newRow("data block") << 5 << false << false << QByteArray() << 7 << "Трансивер не отвечает ";
        QTest::newRow("common block") << 61 << false << false << QByteArray() << 7 << "Трансивер не отвечает";
        QTest::newRow("final request") << 0 << false << true << QByteArray("AT+CONFIG") << 19 << "Трансивер не отвечает";
    }
    void lanWrite_failures()
    {
        QFETCH(int, silentFromBlock);
        QFETCH(bool, silentAll);
        QFETCH(bool, silentResult);
        QFETCH(QByteArray, repeated);
        QFETCH(int, sends);
        QFETCH(QString, message);
        Rig r;
        r.connectLan();
        r.peer.silent = silentAll;
        r.peer.silentFromBlock = silentFromBlock;
        r.peer.silentResult = silentResult;
        const WriteOutcome outcome = r.write();
        QCOMPARE(outcome.result, Outcome::Result::Failed);
        QCOMPARE(outcome.message, message);

        if (repeated.isEmpty()) {
            const QByteArray last = r.udp->sent.last();
            QCOMPARE(r.udp->sentCount(last), sends);
            QCOMPARE(static_cast<unsigned char>(last.at(11)), static_cast<unsigned char>(silentFromBlock));
        } else {
            QCOMPARE(r.udp->sentCount(repeated), sends);
        }
        QCOMPARE(r.view.messages.size(), 1);
        QCOMPARE(r.view.messages.at(0),
                 (UserMessage{message, "Связь с трансивером", MsgIcon::Error, MsgButtons::Ok, true}));
        QCOMPARE(r.link->lan().state(), lsIdle);
        QVERIFY(r.view.allCommandsEnabled());
        QVERIFY(!r.timer("TimerWaitAck")->isActive());
        QVERIFY(!r.timer("TimerUDP")->isActive());
    }

    void lanWrite_failureReply_endsLikeASuccess()
    {
        Rig r;
        r.connectLan();
        r.peer.failResult = true;
        r.peer.okToFpde = true; // an "OK" to "AT+FPDE" is not the result
        r.write();
        QCOMPARE(r.view.messages.size(), 1);
        QCOMPARE(r.view.messages.at(0).text, QStringLiteral("Ошибка при записи конфигурации"));
        QCOMPARE(r.udp->sentCount("AT+FPDE"), 1);
        QVERIFY(r.timer("TimerUDP")->isActive());
        QVERIFY(r.view.allCommandsEnabled());
        QCOMPARE(r.link->lan().state(), lsIdle);
    }

    void lanWrite_repliesTwiceOrStray_endOnceWithTheResult_data()
    {
        QTest::addColumn<bool>("strayOk");
        QTest::addColumn<bool>("resultTwice");
        QTest::newRow("stray OK right behind the ready reply") << true << false;
        QTest::newRow("the result twice") << false << true;
        QTest::newRow("both") << true << true;
    }
    void lanWrite_repliesTwiceOrStray_endOnceWithTheResult()
    {
        QFETCH(bool, strayOk);
        QFETCH(bool, resultTwice);
        Rig r;
        r.connectLan();
        r.peer.strayOkAfterReady = strayOk;
        r.peer.resultTwice = resultTwice;
        r.write();
        QCOMPARE(r.requests().size(), 64);
        QCOMPARE(r.view.messages.size(), 1);
        QCOMPARE(r.view.messages.at(0).text, QStringLiteral("Запись конфигурации трансивера № 12345 выполнена"));
        QCOMPARE(r.peer.image, QByteArray(reinterpret_cast<const char *>(r.image.data()), kImageSize));
        QVERIFY(r.view.allCommandsEnabled());
        QVERIFY(r.view.boxesInsideNotifications.isEmpty());
        QCOMPARE(r.link->lan().state(), lsIdle);
    }

    // "Пуск" while a write or a read runs: a passing start sends nothing over
    // LAN and leaves the running transaction its image and progress; a refused
    // one shows its box and leaves the commands locked until the end.
    void nestedStart_neverHarmsTheRunningTransaction_data()
    {
        QTest::addColumn<bool>("read");
        QTest::addColumn<bool>("passes");
        QTest::newRow("write, checks pass") << false << true;
        QTest::newRow("write, a check refuses") << false << false;
        QTest::newRow("read, checks pass") << true << true;
        QTest::newRow("read, a check refuses") << true << false;
    }
    void nestedStart_neverHarmsTheRunningTransaction()
    {
        QFETCH(bool, read);
        QFETCH(bool, passes);
        Rig r;
        r.connectLan();
        bool lockedAfter = false;
        const auto nested = [&] {
            // A read empties some fields; the user types them again.
            r.view.settings = validSettings();
            if (passes)
                r.view.settings.apn = QStringLiteral("nested.build");
            else
                r.view.settings.serial.clear();
            r.link->WrBtnClick();
            lockedAfter = r.view.locked && !r.view.commands[Command::ItemRead];
        };
        QByteArray sent;
        if (read) {
            for (int a = 0; a < kImageSize; ++a)
                r.peer.image[a] = char(a % 251);
            r.peer.image[kRecordSize * 7] = 0; // an empty slot among the records
            r.peer.onBlock = nullptr;
            QTimer::singleShot(0, r.link.get(), nested);
            r.read();
            QCOMPARE(r.udp->sentCount("AT+DATF"), 0);
            QVERIFY(r.view.messages.last().text.startsWith(QStringLiteral("Чтение конфигурации трансивера № ")));
        } else {
            r.peer.onBlock = [&](int n) {
                if (n == 10)
                    QTimer::singleShot(0, r.link.get(), nested);
            };
            r.write();
            sent = r.peer.image;
            QCOMPARE(r.requests().size(), 64);
            QCOMPARE(r.udp->sentCount("AT+DATF"), 1);
            QCOMPARE(r.view.messages.last().text, QStringLiteral("Запись конфигурации трансивера № 12345 выполнена"));
            // The running write sent the image it started with.
            QCOMPARE(ConfigImage::readText(reinterpret_cast<const std::uint8_t *>(sent.constData()) + kCommonBase +
                                               CommonField::Apn.offset,
                                           CommonField::Apn.width),
                     validSettings().apn);
            QCOMPARE(r.view.gaugeHistory.mid(r.view.gaugeHistory.size() - 2), (QList<int>{100, 0}));
        }
        QVERIFY2(r.view.messages.size() == (passes ? 1 : 2), qPrintable(r.view.log.join(" | ")));
        if (!passes)
            QCOMPARE(r.view.messages.at(0).text, QStringLiteral("Не определен заводской номер"));
        QVERIFY(lockedAfter);
        QVERIFY(r.view.allCommandsEnabled());
        QCOMPARE(r.link->lan().state(), lsIdle);
    }

    void lanWrite_confirmedCloseEndsTheWaitSilently()
    {
        Rig r;
        r.connectLan();
        r.peer.silent = true;
        QTimer::singleShot(5, r.link.get(), [&] { r.link->shutdown(); });
        QCOMPARE(r.write().result, Outcome::Result::Interrupted);
        QVERIFY(r.view.messages.isEmpty());
        QCOMPARE(r.link->lan().state(), lsWaitReady);
    }

    void save_handsThePacketsOverAndSendsNothing()
    {
        Rig r;
        r.view.rows = {row("0001", "5")};
        int packets = -1;
        SaveTarget target{[&](const PacketList &list) { packets = list.count(); }};
        r.link->WrBtnClick(&target);
        QCOMPARE(packets, kImageSize);
        QVERIFY(r.udp->sent.isEmpty());
        // No link: only the commands that need none come back.
        QVERIFY(r.view.commands[Command::ItemLoad] && r.view.commands[Command::ItemSave] &&
                r.view.commands[Command::ItemLink]);
        QVERIFY(!r.view.commands[Command::ItemWr] && !r.view.commands[Command::ItemRead] && !r.view.wrBtnVisible);

        r.connectLan();
        r.link->WrBtnClick(&target);
        QVERIFY(r.view.allCommandsEnabled());
        QVERIFY(r.udp->sent.isEmpty());
    }

    void writeWithoutALink_restoresTheCommandsAsASaveDoes()
    {
        Rig r;
        QCOMPARE(r.write().result, Outcome::Result::Refused); // sent nowhere
        QVERIFY(r.view.messages.isEmpty());
        QVERIFY(r.udp->sent.isEmpty());
        QVERIFY(r.view.commands[Command::ItemLink] && r.view.commands[Command::ItemLoad]);
        QVERIFY(!r.view.commands[Command::ItemWr]);
    }

    void read_notIdle_onlyClearsTheCount()
    {
        Rig r;
        r.link->ItemReadClick();
        QCOMPARE(r.view.objectCountClears, 1);
        QVERIFY(r.udp->sent.isEmpty());
        QCOMPARE(r.view.log, QStringList{"clearcount"});
    }

    void read_fillsTheWindowAfterTheBox()
    {
        Rig r;
        r.connectLan();
        ConfigImage source;
        CommonSettings s = validSettings();
        s.serial = QStringLiteral("4294967295");
        QVERIFY(source.build(s, {row("0002", "777"), row("0001", "888")}));
        r.peer.image = QByteArray(reinterpret_cast<const char *>(source.data()), kImageSize);
        bool appliedBeforeBox = true;
        r.view.onMessage = [&](const UserMessage &) { appliedBeforeBox = !r.view.applied.isEmpty(); };
        r.read();

        QVERIFY(!appliedBeforeBox);
        QCOMPARE(r.view.messages.size(), 1);
        QCOMPARE(r.view.messages.at(0), (UserMessage{"Чтение конфигурации трансивера № 4294967295 выполнено.",
                                                     "Конфигурирование трансивера", MsgIcon::Information,
                                                     MsgButtons::Ok, true}));
        QCOMPARE(r.image, source);
        QCOMPARE(r.view.applied.size(), 1);
        QCOMPARE(r.view.applied.at(0), source.decodeCommon());
        QCOMPARE(r.view.rebuilds, 1);
        QCOMPARE(r.udp->sentCount("AT+RDY0"), 62);
        QVERIFY(r.view.gaugeHistory.contains(100));
        QCOMPARE(r.view.gauge, 0);
        QVERIFY(r.view.allCommandsEnabled());
        QVERIFY(r.timer("TimerUDP")->isActive());
        QCOMPARE(r.link->lan().state(), lsIdle);
        const int clearFields = int(r.view.log.indexOf("clearfields"));
        QVERIFY(r.view.log.indexOf("clearcount") < clearFields && clearFields < r.view.log.indexOf("cleartable"));
    }

    void read_failures_data()
    {
        QTest::addColumn<bool>("silent");
        QTest::addColumn<int>("stopsAfter");
        QTest::newRow("silent transceiver") << true << -1;
        QTest::newRow("lost block") << false << 17;
    }
    void read_failures()
    {
        QFETCH(bool, silent);
        QFETCH(int, stopsAfter);
        Rig r;
        r.connectLan();
        r.peer.silent = silent;
        r.peer.readStopsAfter = stopsAfter;
        r.read();
        if (silent)
            QCOMPARE(r.udp->sentCount("AT+READF"), 7);
        QCOMPARE(r.view.messages.size(), 1);
        QCOMPARE(r.view.messages.at(0), (UserMessage{"Ошибка при чтение конфигурации.", "Связь с трансивером",
                                                     MsgIcon::Error, MsgButtons::Ok, true}));
        QCOMPARE(r.view.applied.size(), 0);
        QCOMPARE(r.view.rebuilds, 0);
        QVERIFY(r.view.allCommandsEnabled());
        QVERIFY(r.timer("TimerUDP")->isActive());
        QVERIFY(!r.timer("TimerWaitBlock")->isActive());
        QCOMPARE(r.link->lan().state(), lsIdle);
    }

    void read_endDatagramLeftFromAnEarlierRead_doesNotEndTheNextOne()
    {
        Rig r;
        r.connectLan();
        r.read();
        QCOMPARE(r.view.rebuilds, 1);
        r.view.messages.clear();
        r.peer.endFirst = true; // an end datagram before any block
        r.peer.image[kCommonBase + CommonField::Serial.offset] = 7;
        r.read();
        QCOMPARE(r.view.rebuilds, 2);
        QCOMPARE(r.view.messages.value(0).text, QStringLiteral("Чтение конфигурации трансивера № 7 выполнено."));
    }
};

QTEST_GUILESS_MAIN(TransactionsTest)
#include "tst_transactions.moc"
