// Reply recognition per LinkState, the time-out timers and PumpWait, run
// against scripted adapters.
#include "support/FakeAdapters.h"
#include "support/FakeLinkView.h"

#include "link/TransceiverLink.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace tarvil;
using namespace tarvil::test;

namespace {

const QString kPeer = QStringLiteral("127.0.0.2");

QByteArray readBlock(int number, char fill)
{
    QByteArray d = QByteArrayLiteral("AT+RDY") + QByteArray(5, '\0');
    d.append(char(number));
    d.append(QByteArray(235, fill));
    return d;
}

QByteArray readCommon(char fill)
{
    QByteArray d = QByteArrayLiteral("AT+RDY") + QByteArray(5, '\0');
    d.append(char(60));
    d.append(QByteArray(102, fill));
    return d;
}

} // namespace

class LinkStateTest : public QObject {
    Q_OBJECT

    struct Rig {
        FakeLinkView view;
        FakeUdpEndpoint *udp;
        FakeSerialPort *serial;
        std::unique_ptr<TransceiverLink> link;
        Rig()
        {
            auto u = std::make_unique<FakeUdpEndpoint>();
            auto s = std::make_unique<FakeSerialPort>();
            udp = u.get();
            serial = s.get();
            LinkConfig config;
            config.timings = LinkTimings{}.scaled(0.01);
            link = std::make_unique<TransceiverLink>(view, config, nullptr, std::move(s), std::move(u));
            link->formShow();
            udp->setRemoteHost(kPeer, 9999);
        }
        QTimer *timer(const char *name) { return link->findChild<QTimer *>(QString::fromLatin1(name)); }
        void deliver(const QByteArray &d, const QString &from = kPeer)
        {
            link->ConfUDPDataReceived(d, from, 9999);
        }
    };

private slots:
    void connecting_okFromTheEnteredAddress_bringsTheLinkUp()
    {
        Rig r;
        r.link->setState(lsConnecting);
        r.view.LockCommands();
        r.deliver("OK");
        QCOMPARE(r.link->vars().State, std::int32_t(lsIdle));
        QVERIFY(r.view.gaugeVisible);
        QVERIFY(r.view.allCommandsEnabled());
    }

    void connecting_nearMisses_leaveTheStateAlone_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QString>("from");
        QTest::newRow("other sender") << QByteArray("OK") << QStringLiteral("127.0.0.3");
        QTest::newRow("leading zeros in sender text") << QByteArray("OK") << QStringLiteral("127.000.0.2");
        QTest::newRow("three bytes starting OK") << QByteArray("OKX") << kPeer;
        QTest::newRow("one byte") << QByteArray("O") << kPeer;
        QTest::newRow("lower case") << QByteArray("ok") << kPeer;
        QTest::newRow("empty") << QByteArray() << kPeer;
        QTest::newRow("longer than the reply buffer") << (QByteArray("OK") + QByteArray(300, 'x')) << kPeer;
    }
    void connecting_nearMisses_leaveTheStateAlone()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(QString, from);
        Rig r;
        r.link->setState(lsConnecting);
        r.deliver(datagram, from);
        QCOMPARE(r.link->vars().State, std::int32_t(lsConnecting));
        QVERIFY(!r.view.gaugeVisible);
    }

    void writeReplies_areRecognisedOnlyInTheirState()
    {
        Rig r;
        QTimer *ack = r.timer("TimerWaitAck");
        QVERIFY(ack);

        r.link->setState(lsWaitReady);
        ack->start();
        r.deliver("OK");
        QCOMPARE(r.link->vars().State, std::int32_t(lsWaitReady));
        r.deliver("XEXXY"); // only bytes 1 and 4 and the length count
        QCOMPARE(r.link->vars().State, std::int32_t(lsWaitBlockAck));
        QVERIFY(!ack->isActive());

        ack->start();
        r.deliver("READY"); // no longer awaited
        QCOMPARE(r.link->vars().State, std::int32_t(lsWaitBlockAck));
        r.deliver("OK");
        QCOMPARE(r.link->vars().State, std::int32_t(lsAcknowledged));
        QVERIFY(!ack->isActive());

        r.deliver("OK"); // nothing awaits it in state 6
        QCOMPARE(r.link->vars().State, std::int32_t(lsAcknowledged));
        QVERIFY(r.view.messages.isEmpty());
    }

    void writeResult_successAndFailureReplies()
    {
        Rig r;
        r.view.settings.serial = QStringLiteral("4294967295");
        r.link->setState(lsWaitResult);
        r.deliver("OK"); // the transceiver's answer to "AT+FPDE" is not the result
        QCOMPARE(r.link->vars().State, std::int32_t(lsWaitResult));
        r.deliver("GXXDX"); // five bytes
        QCOMPARE(r.link->vars().State, std::int32_t(lsWaitResult));
        r.deliver("GOOD");
        QCOMPARE(r.link->vars().State, std::int32_t(lsAcknowledged));
        QCOMPARE(r.view.messages.size(), 1);
        const UserMessage success = r.view.messages.at(0);
        QCOMPARE(success.text, QStringLiteral("Запись конфигурации трансивера № 4294967295 выполнена"));
        QCOMPARE(success.caption, QStringLiteral("Конфигурирование трансивера"));
        QCOMPARE(success.icon, MsgIcon::Information);
        QVERIFY(success.topmost);

        r.link->setState(lsWaitResult);
        r.deliver("BxD");
        QCOMPARE(r.link->vars().State, std::int32_t(lsAcknowledged));
        const UserMessage failure = r.view.messages.at(1);
        QCOMPARE(failure.text, QStringLiteral("Ошибка при записи конфигурации"));
        QCOMPARE(failure.icon, MsgIcon::Error);
        QVERIFY(failure.topmost);
    }

    void reading_blocksAreStoredOnceAndEveryDatagramIsAcknowledged()
    {
        Rig r;
        r.link->vars().BytesTotal = kImageSize;
        r.link->setState(lsReading);

        r.deliver(readBlock(0, 'a'));
        r.deliver(readBlock(0, 'b')); // the same block again
        QCOMPARE(r.udp->sentCount("AT+RDY0"), 2);
        QCOMPARE(r.link->image().at(0), std::uint8_t('a'));
        QCOMPARE(r.link->vars().BytesDone, 235);
        QCOMPARE(r.link->lastBlock(), 0);

        r.deliver(readBlock(60, 'z')); // a block number the read never uses
        r.deliver(readBlock(61, 'z'));
        QCOMPARE(r.udp->sentCount("AT+RDY0"), 2);

        r.deliver(readBlock(1, 'c'));
        QCOMPARE(r.link->image().at(235), std::uint8_t('c'));
        QCOMPARE(r.link->image().at(470), std::uint8_t(0));
        QVERIFY(r.timer("TimerWaitBlock")->isActive());
        QVERIFY(!r.timer("TimerWaitAck")->isActive());
    }

    void reading_endBeforeTheCommonBlockIsIgnored_afterItEndsTheRead()
    {
        Rig r;
        r.link->setState(lsReading);
        r.deliver(readBlock(59, 'q'));
        r.deliver("AT+RDYE");
        QCOMPARE(r.link->vars().State, std::int32_t(lsReading));
        QCOMPARE(r.udp->sentCount("AT+RDY0"), 1);

        r.deliver(readCommon('k'));
        QCOMPARE(r.link->image().at(kCommonBase), std::uint8_t('k'));
        QCOMPARE(r.link->image().at(kImageSize - 1), std::uint8_t('k'));
        QCOMPARE(r.link->vars().BytesDone, 235 + 102);
        r.deliver("AT+RDYE");
        QCOMPARE(r.link->vars().State, std::int32_t(lsReadDone));
        QCOMPARE(r.udp->sentCount("AT+RDY0"), 3);
        QVERIFY(!r.timer("TimerWaitBlock")->isActive());
    }

    void replyBuffer_keepsBytesBeyondTheDatagram()
    {
        Rig r;
        r.link->setState(lsIdle);
        r.deliver(QByteArray(20, 'x'));
        r.deliver("OK");
        QCOMPARE(r.link->replyBuffer().left(4), QByteArray("OKxx"));
        QCOMPARE(r.link->replyBuffer().at(19), 'x');
        QCOMPARE(r.link->replyBuffer().at(20), '\0');
    }

    void idleAndFailedStates_ignoreEveryReply()
    {
        for (std::int32_t state : {std::int32_t(lsIdle), std::int32_t(lsFailed), std::int32_t(lsReadDone)}) {
            Rig r;
            r.link->setState(state);
            for (const QByteArray &d : {QByteArray("OK"), QByteArray("READY"), QByteArray("GOOD"),
                                        QByteArray("BAD"), readBlock(0, 'a'), readCommon('b')})
                r.deliver(d);
            QCOMPARE(r.link->vars().State, state);
            QVERIFY(r.view.messages.isEmpty());
            QVERIFY(r.udp->sent.isEmpty());
        }
    }

    void waitAck_resendsUntilTheRetriesRunOut()
    {
        Rig r;
        r.link->setState(lsWaitReady);
        r.link->vars().RetriesLeft = 7;
        r.link->vars().RequestBuffer.replace(0, 7, "AT+DATF");
        r.link->vars().RequestLength = 7;
        for (int tick = 0; tick < 6; ++tick)
            r.link->TimerWaitAckTimer();
        QCOMPARE(r.udp->sentCount("AT+DATF"), 6); // with the first send, 7 in all
        QCOMPARE(r.link->vars().State, std::int32_t(lsWaitReady));
        r.link->TimerWaitAckTimer();
        QCOMPARE(r.udp->sentCount("AT+DATF"), 6);
        QCOMPARE(r.link->vars().State, std::int32_t(lsFailed));
    }

    void waitBlock_tickFailsTheRead()
    {
        Rig r;
        r.link->setState(lsReading);
        r.link->TimerWaitBlockTimer();
        QCOMPARE(r.link->vars().State, std::int32_t(lsFailed));
    }

    void pumpWait_returnsAtOnceWhenStopped_andWakesOnAStateChange()
    {
        Rig r;
        r.link->vars().StopFlag = true;
        bool ran = false;
        QTimer::singleShot(0, [&] { ran = true; });
        r.link->PumpWait(1000000);
        QVERIFY(!ran); // returned without processing events

        r.link->vars().StopFlag = false;
        r.link->setState(lsWaitReady);
        // The reply lands while the wait sleeps; its deadline is hours away.
        QTimer::singleShot(5, [&] { r.deliver("READY"); });
        QTimer watchdog;
        watchdog.setSingleShot(true);
        bool watchdogFired = false;
        QObject::connect(&watchdog, &QTimer::timeout, [&] {
            watchdogFired = true;
            r.link->shutdown();
        });
        watchdog.start(60000);
        r.link->PumpWait(1000000);
        QVERIFY(!watchdogFired);
        QCOMPARE(r.link->vars().State, std::int32_t(lsWaitBlockAck));
    }

    void pumpWait_endsWhenTheCloseIsConfirmed()
    {
        Rig r;
        r.link->setState(lsReading);
        QTimer::singleShot(5, [&] { r.link->shutdown(); });
        r.link->PumpWait(1000000);
        QVERIFY(r.link->vars().StopFlag);
        QCOMPARE(r.link->vars().State, std::int32_t(lsReading)); // the state keeps its value
    }
};

QTEST_GUILESS_MAIN(LinkStateTest)
#include "tst_linkstate.moc"
