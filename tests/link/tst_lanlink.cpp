// The LAN link's frames, its reply recognition per step, its time-out timers
// and a close during a read, against a scripted UDP endpoint.
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

struct Rig {
    FakeLinkView view;
    FakeUdpEndpoint *udp;
    ConfigImage image;
    std::unique_ptr<Links> links;
    Rig()
    {
        auto u = std::make_unique<FakeUdpEndpoint>();
        udp = u.get();
        LinkConfig config;
        config.timings = LinkTimings{}.scaled(0.01);
        links = std::make_unique<Links>(view, view, image, config, std::make_unique<FakeSerialPort>(), std::move(u));
        links->formShow();
        udp->setRemoteHost(kPeer, 9999);
    }
    LanLink &lan() { return links->lan(); }
    QTimer *timer(const char *name) { return links->findChild<QTimer *>(QString::fromLatin1(name)); }
    void deliver(const QByteArray &d, const QString &from = kPeer) { udp->deliver(d, from); }
};

} // namespace

Q_DECLARE_METATYPE(tarvil::LinkState)

class LanLinkTest : public QObject {
    Q_OBJECT
private slots:
    // ---- the frame class ----

    void frame_recognisesEachReplyByItsLengthAndNamedBytes_data()
    {
        QTest::addColumn<QByteArray>("before"); // a datagram accepted first, or none
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<tarvil::LanReply>("reply");
        const QByteArray none;
        QTest::newRow("OK") << none << QByteArray("OK") << LanReply::Ok;
        QTest::newRow("ok lower case") << none << QByteArray("ok") << LanReply::None;
        QTest::newRow("three bytes starting OK") << none << QByteArray("OKX") << LanReply::None;
        QTest::newRow("failure: only bytes 0 and 2") << none << QByteArray("BxD") << LanReply::Failure;
        QTest::newRow("success: only bytes 0 and 3") << none << QByteArray("GxxD") << LanReply::Success;
        QTest::newRow("success text, five bytes") << none << QByteArray("GOODX") << LanReply::None;
        QTest::newRow("ready: only bytes 1 and 4") << none << QByteArray("XEXXY") << LanReply::Ready;
        QTest::newRow("read block 0") << none << readBlock(0, 'a') << LanReply::ReadBlock;
        QTest::newRow("read block 59") << none << readBlock(59, 'a') << LanReply::ReadBlock;
        QTest::newRow("read block 60 is no block") << none << readBlock(60, 'a') << LanReply::None;
        QTest::newRow("read common") << none << readCommon('c') << LanReply::ReadCommon;
        QTest::newRow("end right after the common block") << readCommon('c') << QByteArray("AT+RDYE") << LanReply::ReadEnd;
        QTest::newRow("end after a data block") << readBlock(59, 'a') << QByteArray("AT+RDYE") << LanReply::None;
        QTest::newRow("end with nothing before") << none << QByteArray("AT+RDYE") << LanReply::None;
    }
    void frame_recognisesEachReplyByItsLengthAndNamedBytes()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, datagram);
        QFETCH(tarvil::LanReply, reply);
        LanFrame frame;
        if (!before.isEmpty())
            QVERIFY(frame.accept(before));
        QVERIFY(frame.accept(datagram));
        QCOMPARE(frame.reply(), reply);
    }

    void frame_dropsEmptyAndOverlongDatagramsWhole()
    {
        LanFrame frame;
        QVERIFY(frame.accept(readCommon('c')));
        QVERIFY(!frame.accept(QByteArray()));
        // Cut to 255 bytes this would overwrite byte 11 and look like the end.
        QVERIFY(!frame.accept(QByteArray("AT+RDYE") + QByteArray(300, 'x')));
        QVERIFY(frame.accept("AT+RDYE"));
        QCOMPARE(frame.reply(), LanReply::ReadEnd);
        frame.forgetBlockNumber();
        QVERIFY(frame.accept("AT+RDYE"));
        QCOMPARE(frame.reply(), LanReply::None);
    }

    void frame_writeBlocksCarryTheirRecordsBehindTheHeader()
    {
        ConfigImage image;
        for (int a = 0; a < kImageSize; ++a)
            image.set(a, std::uint8_t(a * 7));
        const QByteArray block = LanFrame::writeBlock(60, image);
        QCOMPARE(block.size(), 247);
        QCOMPARE(block.left(12), QByteArray("AT+FPD0=") + QByteArray::fromHex("00EB003C"));
        QCOMPARE(block.mid(12), QByteArray(reinterpret_cast<const char *>(image.record(295)), 235));
        const QByteArray common = LanFrame::writeCommon(image);
        QCOMPARE(common.size(), 114);
        QCOMPARE(common.left(12), QByteArray("AT+FPD0=") + QByteArray::fromHex("0066003D"));
        QCOMPARE(common.mid(12), QByteArray(reinterpret_cast<const char *>(image.common()), 102));
    }

    // ---- recognition per step ----

    void eachStep_takesOnlyTheReplyItAwaits_data()
    {
        QTest::addColumn<tarvil::LinkState>("awaiting");
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QString>("from");
        QTest::addColumn<tarvil::LinkState>("after");
        const QString peer = kPeer;
        QTest::newRow("ready: the ready reply") << lsWaitReady << QByteArray("READY") << peer << lsAcknowledged;
        QTest::newRow("ready: an OK") << lsWaitReady << QByteArray("OK") << peer << lsWaitReady;
        QTest::newRow("ready: from another host") << lsWaitReady << QByteArray("READY") << "127.0.0.3" << lsWaitReady;
        QTest::newRow("ready: sender text with leading zeros") << lsWaitReady << QByteArray("READY") << "127.000.0.2"
                                                               << lsWaitReady;
        QTest::newRow("block: OK") << lsWaitBlockAck << QByteArray("OK") << peer << lsAcknowledged;
        QTest::newRow("block: the ready reply") << lsWaitBlockAck << QByteArray("READY") << peer << lsWaitBlockAck;
        QTest::newRow("result: success") << lsWaitResult << QByteArray("GOOD") << peer << lsAcknowledged;
        QTest::newRow("result: failure") << lsWaitResult << QByteArray("BAD") << peer << lsAcknowledged;
        QTest::newRow("result: the OK to AT+FPDE") << lsWaitResult << QByteArray("OK") << peer << lsWaitResult;
        QTest::newRow("read: OK") << lsReading << QByteArray("OK") << peer << lsReading;
        QTest::newRow("read: an early end") << lsReading << QByteArray("AT+RDYE") << peer << lsReading;
    }
    void eachStep_takesOnlyTheReplyItAwaits()
    {
        QFETCH(tarvil::LinkState, awaiting);
        QFETCH(QByteArray, datagram);
        QFETCH(QString, from);
        QFETCH(tarvil::LinkState, after);
        Rig r;
        r.lan().request("REQUEST", awaiting, 7);
        QVERIFY(r.timer("TimerWaitAck")->isActive());
        r.deliver(datagram, from);
        QCOMPARE(r.lan().state(), after);
        QCOMPARE(r.timer("TimerWaitAck")->isActive(), after == awaiting);
        QVERIFY(r.view.messages.isEmpty()); // the transactions show the results
    }

    void answeredStep_takesNothingMore_soAStrayReplyCannotStepAWaitPastItsTarget()
    {
        Rig r;
        QSignalSpy answered(&r.lan(), &LanLink::answered);
        r.lan().request("AT+DATF", lsWaitReady, 7);
        // The ready reply and, right behind it, a late answer to a keep-alive.
        r.deliver("READY");
        r.deliver("OK");
        r.deliver("GOOD");
        QCOMPARE(r.lan().state(), lsAcknowledged);
        QCOMPARE(answered.size(), 1);
        QCOMPARE(answered.at(0).at(0).value<LanReply>(), LanReply::Ready);

        // The result comes once; the next request awaits a result of its own.
        r.lan().request("AT+CONFIG", lsWaitResult, 19);
        r.deliver("GOOD");
        r.deliver("BAD");
        r.lan().request("AT+CONFIG", lsWaitResult, 19);
        r.deliver("BxD");
        QCOMPARE(answered.size(), 3);
        QCOMPARE(answered.at(1).at(0).value<LanReply>(), LanReply::Success);
        QCOMPARE(answered.at(2).at(0).value<LanReply>(), LanReply::Failure);
    }

    void idleAndFinishedSteps_ignoreEveryReply_data()
    {
        QTest::addColumn<bool>("read");
        QTest::newRow("idle") << false;
        QTest::newRow("read done") << true;
    }
    void idleAndFinishedSteps_ignoreEveryReply()
    {
        QFETCH(bool, read);
        Rig r;
        if (read) {
            r.lan().beginRead(r.image, 7);
            r.deliver(readCommon('c'));
            r.deliver("AT+RDYE");
            QCOMPARE(r.lan().state(), lsReadDone);
        } else {
            r.lan().request("AT+DATF", lsWaitReady, 7);
            r.lan().release(false); // the write has ended
        }
        const LinkState state = r.lan().state();
        const auto sent = r.udp->sent.size();
        for (const QByteArray &d : {QByteArray("OK"), QByteArray("READY"), QByteArray("GOOD"), QByteArray("BAD"),
                                    readBlock(0, 'a'), readCommon('b'), QByteArray("AT+RDYE")})
            r.deliver(d);
        QCOMPARE(r.lan().state(), state);
        QCOMPARE(r.udp->sent.size(), sent);
    }

    // ---- the read's receive path ----

    void reading_blocksAreStoredOnceAndEveryDatagramIsAcknowledged()
    {
        Rig r;
        QList<int> stored;
        QObject::connect(&r.lan(), &LanLink::readStored, [&](int bytes) { stored << bytes; });
        r.lan().beginRead(r.image, 7);
        QCOMPARE(r.udp->sent.last(), QByteArray("AT+READF"));
        QCOMPARE(r.lan().state(), lsReading);

        r.deliver(readBlock(0, 'a'));
        r.deliver(readBlock(0, 'b')); // the same block again
        QCOMPARE(r.udp->sentCount("AT+RDY0"), 2);
        QCOMPARE(r.image.at(0), std::uint8_t('a'));
        QCOMPARE(stored, QList<int>{235});

        r.deliver(readBlock(60, 'z')); // a block number the read never uses
        r.deliver(readBlock(61, 'z'));
        QCOMPARE(r.udp->sentCount("AT+RDY0"), 2);

        r.deliver(readBlock(1, 'c'));
        QCOMPARE(r.image.at(235), std::uint8_t('c'));
        QCOMPARE(r.image.at(470), std::uint8_t(0));
        QVERIFY(r.timer("TimerWaitBlock")->isActive());
        QVERIFY(!r.timer("TimerWaitAck")->isActive());

        r.deliver("AT+RDYE"); // before the common block: not the end
        QCOMPARE(r.lan().state(), lsReading);
        r.deliver(readCommon('k'));
        QCOMPARE(r.image.at(kCommonBase), std::uint8_t('k'));
        QCOMPARE(r.image.at(kImageSize - 1), std::uint8_t('k'));
        QCOMPARE(stored, (QList<int>{235, 235, 102}));
        r.deliver("AT+RDYE");
        QCOMPARE(r.lan().state(), lsReadDone);
        QCOMPARE(r.udp->sentCount("AT+RDY0"), 5);
        QVERIFY(!r.timer("TimerWaitBlock")->isActive());
    }

    void reading_startsWithoutTheBlockNumberOfTheLastRead()
    {
        Rig r;
        r.lan().beginRead(r.image, 7);
        r.deliver(readCommon('k'));
        r.deliver("AT+RDYE");
        // Over without a block: nothing may repeat under the read's box.
        QVERIFY(!r.timer("TimerWaitAck")->isActive());
        QVERIFY(!r.timer("TimerWaitBlock")->isActive());
        r.lan().release(true);
        r.lan().beginRead(r.image, 7);
        r.deliver("AT+RDYE");
        QCOMPARE(r.lan().state(), lsReading);
    }

    // ---- timers ----

    void waitAck_resendsUntilTheRetriesRunOut_andFailsOnce()
    {
        Rig r;
        QSignalSpy failed(&r.lan(), &LanLink::failed);
        r.lan().request("AT+DATF", lsWaitReady, 7);
        for (int tick = 0; tick < 6; ++tick)
            r.lan().TimerWaitAckTimer();
        QCOMPARE(r.udp->sentCount("AT+DATF"), 7);
        QCOMPARE(r.lan().state(), lsWaitReady);
        r.lan().TimerWaitAckTimer();
        QCOMPARE(r.udp->sentCount("AT+DATF"), 7);
        QCOMPARE(r.lan().state(), lsFailed);
        QCOMPARE(failed.size(), 1);
        // The failure's box may stay open for long: nothing waits under it,
        // and a late tick sends nothing and fails nothing twice.
        QVERIFY(!r.timer("TimerWaitAck")->isActive());
        r.lan().TimerWaitAckTimer();
        QCOMPARE(r.udp->sentCount("AT+DATF"), 7);
        QCOMPARE(failed.size(), 1);
    }

    void waitBlock_tickFailsTheRead()
    {
        Rig r;
        r.lan().beginRead(r.image, 7);
        r.lan().TimerWaitBlockTimer();
        QCOMPARE(r.lan().state(), lsFailed);
        QVERIFY(!r.timer("TimerWaitAck")->isActive());
        QVERIFY(!r.timer("TimerWaitBlock")->isActive());
    }

    // ---- a close ----

    void closeDuringARead_endsItInterrupted_withoutABox()
    {
        Rig r;
        QSignalSpy finished(&r.links->reader(), &ReadTransaction::finished);
        r.lan().release(false); // connected
        r.links->ItemReadClick();
        QCOMPARE(r.lan().state(), lsReading);
        r.links->shutdown();
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.at(0).at(0).value<ReadOutcome>().result, Outcome::Result::Interrupted);
        r.deliver(readBlock(0, 'a'));
        r.lan().TimerWaitBlockTimer();
        QCoreApplication::processEvents();
        QVERIFY(r.view.messages.isEmpty());
        QCOMPARE(finished.size(), 1);
    }
};

QTEST_GUILESS_MAIN(LanLinkTest)
#include "tst_lanlink.moc"
