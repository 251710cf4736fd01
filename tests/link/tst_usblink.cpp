// The USB link against a scripted serial port: choosing the port, the poll
// cycle and its watch, the reply bytes, and the packet stream of a write.
#include "support/FakeAdapters.h"
#include "support/FakeLinkView.h"

#include "link/Links.h"

#include <QTest>
#include <QTimer>

#include <set>

using namespace tarvil;
using namespace tarvil::test;

namespace {

const QByteArray kPoll = QByteArray::fromHex("230101 01B8B2");

struct Rig {
    FakeLinkView view;
    FakeUdpEndpoint *udp;
    FakeSerialPort *serial;
    ConfigImage image;
    std::unique_ptr<Links> link;
    // The transceiver's side: answer every frame with the next scripted byte
    // (0x01 when the script is empty) until `answering` is cleared.
    bool answering = false;
    QList<char> script;
    std::set<int> stored;

    explicit Rig(Millis writeTimeout = Millis(3000), Millis tick = Millis(40))
    {
        auto u = std::make_unique<FakeUdpEndpoint>();
        auto s = std::make_unique<FakeSerialPort>();
        udp = u.get();
        serial = s.get();
        LinkConfig config;
        config.timings = LinkTimings{}.scaled(0.004);
        config.timings.serialTick = tick;
        config.timings.usbWriteTimeout = writeTimeout;
        link = std::make_unique<Links>(view, view, image, config, std::move(s), std::move(u));
        link->formShow();
        view.settings = validSettings();
        serial->onWrite = [this](const QByteArray &frame) {
            if (!answering)
                return;
            const char reply = script.isEmpty() ? char(0x01) : script.takeFirst();
            if (reply == 0)
                return; // a lost reply
            if (reply == 0x01 && frame.at(0) == ';')
                stored.insert(static_cast<unsigned char>(frame.at(1)) | static_cast<unsigned char>(frame.at(2)) << 8);
            serial->feedLater(QByteArray(1, reply));
        };
    }
    QTimer *timer(const char *name) { return link->findChild<QTimer *>(QString::fromLatin1(name)); }
    void chooseUsb()
    {
        view.portAnswers.enqueue(QStringLiteral("/dev/ttyFAKE0"));
        link->USB1Click();
    }
    // USB chosen and the first poll answered: the link is up, nothing outstanding.
    void bringUp()
    {
        chooseUsb();
        serial->feed("\x01");
        QCoreApplication::processEvents();
        QVERIFY(link->usb().connected());
    }
};

} // namespace

class UsbLinkTest : public QObject {
    Q_OBJECT
private slots:
    void choosingUsb_opensThePortAndPolls()
    {
        Rig r;
        r.view.LockCommands();
        r.chooseUsb();
        QCOMPARE(r.view.portRequests.size(), 1);
        QCOMPARE(r.view.portRequests.at(0).caption, QStringLiteral("Select Port"));
        QCOMPARE(r.view.portRequests.at(0).lines,
                 (QStringList{"The configured serial port is not valid.", "Please choose another port."}));
        QCOMPARE(r.serial->opened, QStringList{"/dev/ttyFAKE0"});
        QCOMPARE(r.view.captionText(),
                 QStringLiteral("Трансивер ЛТКЗ \"Тарвил-QZT\" (версия 31.00.13)      Канал USB ttyFAKE0"));
        QCOMPARE(r.link->activeChannel(), Channel::Usb);
        QVERIFY(r.view.allCommandsEnabled());
        QCOMPARE(r.serial->written, QList<QByteArray>{kPoll});
        QVERIFY(r.timer("LinkWatchTrigger")->isActive());

        // Again while open: no question, and a new poll at once.
        r.link->USB1Click();
        QCOMPARE(r.view.portRequests.size(), 1);
        QCOMPARE(r.serial->written, (QList<QByteArray>{kPoll, kPoll}));
        QCOMPARE(r.timer("LinkWatchTrigger")->interval(), 2 * 40);
    }

    void silentTransceiver_isPolledAtEveryWatchExpiry()
    {
        // Ticks long enough never to pass in the test: the watch is expired by hand.
        const int tick = 60000;
        Rig r(Millis(3000), Millis(tick));
        r.chooseUsb();
        QTimer *watch = r.timer("LinkWatchTrigger");
        QCOMPARE(watch->interval(), 2 * tick);
        for (int expiry = 1; expiry <= 4; ++expiry) {
            r.link->usb().ComPortTriggerTimer();
            QCOMPARE(r.serial->pollsWritten(), 1 + expiry);
            QCOMPARE(watch->interval(), 5 * tick);
            QVERIFY(watch->isActive());
        }
        QCOMPARE(r.view.status, QStringLiteral("Нет связи"));
        // The transceiver is back: its answer is seen at once.
        r.serial->feed("\x01");
        QCoreApplication::processEvents();
        QVERIFY(r.link->usb().connected());
        QCOMPARE(r.serial->pollsWritten(), 6);
        QCOMPARE(watch->interval(), 2 * tick);
    }

    void choosingUsb_aComPortShowsItsNumber()
    {
        Rig r;
        r.view.portAnswers.enqueue(QStringLiteral("COM7"));
        r.link->USB1Click();
        QCOMPARE(r.view.captionText(),
                 QStringLiteral("Трансивер ЛТКЗ \"Тарвил-QZT\" (версия 31.00.13)      Канал USB Com7"));
    }

    void choosingUsb_failures_data()
    {
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<int>("error");
        QTest::addColumn<bool>("accessHint");
        QTest::newRow("cancelled") << true << int(SerialPort::OpenError::None) << false;
        QTest::newRow("busy") << false << int(SerialPort::OpenError::Busy) << false;
        QTest::newRow("no permission") << false << int(SerialPort::OpenError::Permission) << true;
    }
    void choosingUsb_failures()
    {
        QFETCH(bool, cancel);
        QFETCH(int, error);
        QFETCH(bool, accessHint);
        Rig r;
        r.serial->openResult = false;
        r.serial->openError = SerialPort::OpenError(error);
        if (!cancel)
            r.view.portAnswers.enqueue(QStringLiteral("/dev/ttyACM0"));
        r.link->USB1Click();
        QCOMPARE(r.view.messages.size(), 1);
        const UserMessage m = r.view.messages.at(0);
        QVERIFY(m.text.startsWith(QStringLiteral("Нет доступного Com-порта. Работа в автономном режиме!")));
        QCOMPARE(m.caption, QStringLiteral("Оборудование"));
        QCOMPARE(m.icon, MsgIcon::Error);
#ifdef Q_OS_WIN
        QVERIFY(!m.text.contains(QStringLiteral("dialout"))); // no such group there
        Q_UNUSED(accessHint);
#else
        QCOMPARE(m.text.contains(QStringLiteral("dialout")), accessHint);
#endif
        QCOMPARE(r.link->activeChannel(), Channel::None);
        QCOMPARE(r.view.status, QStringLiteral("Нет связи"));
        QCOMPARE(r.view.captionMode, CaptionMode::Offline);
        QVERIFY(!r.view.commands[Command::ItemWr] && !r.view.commands[Command::ItemRead]);
        QVERIFY(r.serial->written.isEmpty());
        // The next choice asks for the port again.
        r.link->USB1Click();
        QCOMPARE(r.view.portRequests.size(), 2);
    }

    void acknowledgement_bringsTheLinkUpAndPollsOnce()
    {
        Rig r;
        r.chooseUsb();
        r.view.setStatusText(QStringLiteral("Нет связи"));
        r.serial->feed("\x01");
        QCoreApplication::processEvents();
        QVERIFY(r.link->usb().connected());
        QVERIFY(r.view.status.isEmpty());
        QVERIFY(r.view.wrBtnVisible && r.view.gaugeVisible && r.view.commands[Command::ItemWr]);
        QCOMPARE(r.serial->pollsWritten(), 2);
        QCOMPARE(r.timer("LinkWatchTrigger")->remainingTime() > 40, true);
    }

    void watch_expiresWithoutAnAnswer_andShowsTheLinkLost()
    {
        Rig r;
        r.bringUp();
        QTRY_VERIFY_WITH_TIMEOUT(!r.link->usb().connected(), 5000);
        QCOMPARE(r.view.status, QStringLiteral("Нет связи"));
        QCOMPARE(r.view.captionMode, CaptionMode::Offline);
        QVERIFY(!r.view.wrBtnVisible && !r.view.gaugeVisible);
        QVERIFY(!r.view.commands[Command::ItemWr] && !r.view.commands[Command::ItemRead]);
        const int polls = r.serial->pollsWritten();
        QTRY_VERIFY_WITH_TIMEOUT(r.serial->pollsWritten() > polls, 5000); // polls go on
        // An answer brings the buttons back but not the caption or ItemRead.
        r.serial->feed("\x01");
        QCoreApplication::processEvents();
        QVERIFY(r.view.wrBtnVisible && r.view.commands[Command::ItemWr]);
        QVERIFY(!r.view.commands[Command::ItemRead]);
        QCOMPARE(r.view.captionMode, CaptionMode::Offline);
    }

    void burst_onlyTheLastByteCounts_andAnEmptyNotificationDoesNothing()
    {
        Rig r;
        r.chooseUsb();
        const int polls = r.serial->pollsWritten();
        r.serial->feed(QByteArray::fromHex("0115")); // counts as a negative acknowledgement
        QCoreApplication::processEvents();
        QVERIFY(!r.link->usb().connected());
        QCOMPARE(r.serial->pollsWritten(), polls); // no poll on NAK
        QVERIFY(r.serial->input.isEmpty());

        r.link->usb().ComPortTriggerAvail(); // Count 0
        QCOMPARE(r.serial->written.size(), polls);

        r.serial->feed(QByteArray::fromHex("150177")); // an unknown last byte: nothing
        QCoreApplication::processEvents();
        QVERIFY(!r.link->usb().connected());
    }

    void bytesTheSystemHolds_areTakenInTheSameTurn_onceOnly()
    {
        Rig r;
        r.bringUp(); // a poll outstanding
        const int polls = r.serial->pollsWritten();
        r.serial->fetches = 0;
        // The poll's answer, and behind it what the system already holds: the
        // answer to the poll that answer brings out, and more still.
        r.serial->held = {QByteArray("\x01"), QByteArray("\x01"), QByteArray("\x01")};
        r.serial->input = "\x01";
        r.link->usb().ComPortTriggerAvail();
        QCOMPARE(r.serial->pollsWritten(), polls + 2);
        // One look only, however much is held: the event loop turns.
        QCOMPARE(r.serial->fetches, 1);
        QCOMPARE(r.serial->held.size(), 2);
        QVERIFY(r.link->usb().connected());

        // After a confirmed close nothing is taken, held or not.
        r.link->shutdown();
        r.serial->openNow = true;
        r.serial->input = "\x01";
        r.link->usb().ComPortTriggerAvail();
        QCOMPARE(r.serial->fetches, 1);
        QCOMPARE(r.serial->input, QByteArray("\x01"));
    }

    void confirmedClose_leavesArrivingBytesUnread()
    {
        Rig r;
        r.chooseUsb();
        r.link->shutdown();
        r.serial->openNow = true;
        r.serial->input = "\x01";
        r.link->usb().ComPortTriggerAvail();
        QCOMPARE(r.serial->input, QByteArray("\x01"));
        QVERIFY(!r.link->usb().connected());
    }

    void write_withoutAnOutstandingPoll_sendsPacketZeroTwiceThenTheRest()
    {
        Rig r;
        r.chooseUsb();
        r.serial->feed("\x01"); // the link is "up" only after an acknowledgement
        QCoreApplication::processEvents();
        // Let the outstanding poll be answered by a NAK: nothing outstanding after it.
        r.serial->feed("\x15");
        QCoreApplication::processEvents();
        QVERIFY(r.link->usb().connected());
        r.serial->written.clear();
        r.answering = true;
        r.link->WrBtnClick();
        QVERIFY(r.link->usb().writing());
        QTRY_VERIFY_WITH_TIMEOUT(!r.link->usb().writing(), 60000);
        // No poll goes out while the stream runs.
        int lastPacket = -1;
        for (int i = 0; i < r.serial->written.size(); ++i)
            if (r.serial->written.at(i).at(0) == ';')
                lastPacket = i;
        for (int i = 0; i < lastPacket; ++i)
            QCOMPARE(r.serial->written.at(i).at(0), ';');

        const QList<int> addresses = r.serial->packetAddressesWritten();
        QCOMPARE(addresses.size(), kImageSize + 1);
        QCOMPARE(addresses.at(0), 0);
        QCOMPARE(addresses.at(1), 0);
        for (int i = 2; i < addresses.size(); ++i)
            QCOMPARE(addresses.at(i), i - 1);
        QCOMPARE(r.serial->written.at(0), WritePacket::make(';', 0, r.image.at(0)).toByteArray());
        QCOMPARE(r.view.messages.size(), 1);
        QCOMPARE(r.view.messages.at(0).text, QStringLiteral("Запись конфигурации трансивера № 12345 выполнена"));
        QVERIFY(r.link->packets().isEmpty());
        QVERIFY(r.view.gaugeHistory.contains(100));
        QCOMPARE(r.view.gauge, 0);
        QVERIFY(r.view.wrBtnVisible && r.view.commands[Command::ItemWr]);
        QVERIFY(!r.view.commands[Command::ItemRead]);
        QVERIFY(r.timer("LinkWatchTrigger")->isActive());
    }

    void write_withAPollOutstanding_waitsForItsAnswerFirst()
    {
        Rig r;
        r.bringUp(); // the acknowledgement wrote the next poll, still unanswered
        r.serial->written.clear();
        r.link->WrBtnClick();
        QVERIFY(r.serial->written.isEmpty());
        r.answering = true;
        r.serial->feed("\x01"); // the poll's answer
        QTRY_VERIFY_WITH_TIMEOUT(!r.link->usb().writing(), 60000);
        const QList<int> addresses = r.serial->packetAddressesWritten();
        QCOMPARE(addresses.size(), kImageSize + 1);
        QCOMPARE(addresses.mid(0, 3), (QList<int>{0, 0, 1}));
        QCOMPARE(int(r.stored.size()), kImageSize);
    }

    void write_negativeAcknowledgement_resendsTheRejectedPacket()
    {
        Rig r;
        r.bringUp();
        r.link->WrBtnClick();
        r.answering = true;
        // Packets: NAK the 3rd, 4th and 100th.
        r.script = {0x01, 0x01, 0x15, 0x15, 0x01};
        for (int i = 0; i < 94; ++i)
            r.script << 0x01;
        r.script << 0x15;
        r.serial->feed("\x01");
        QTRY_VERIFY_WITH_TIMEOUT(!r.link->usb().writing(), 60000);
        QCOMPARE(int(r.stored.size()), kImageSize);
        QCOMPARE(r.serial->packetAddressesWritten().size(), kImageSize + 1 + 3);
        QCOMPARE(r.view.messages.size(), 1);
        QCOMPARE(r.view.messages.at(0).icon, MsgIcon::Information);
    }

    void write_silentTransceiver_endsWithATimeOut()
    {
        Rig r(Millis(50));
        r.bringUp();
        r.link->WrBtnClick();
        r.answering = true;
        r.script = {0x01, 0x01, 0x01, 0x00}; // the fourth reply never comes
        r.serial->feed("\x01");
        QTRY_VERIFY_WITH_TIMEOUT(!r.link->usb().writing(), 10000);
        QCOMPARE(r.view.messages.size(), 1);
        QCOMPARE(r.view.messages.at(0),
                 (UserMessage{"Трансивер не отвечает", "Связь с трансивером", MsgIcon::Error, MsgButtons::Ok, true}));
        QVERIFY(r.view.allCommandsEnabled());
        QVERIFY(r.timer("LinkWatchTrigger")->isActive() || !r.link->usb().connected());
        const int written = int(r.serial->written.size());
        QTest::qWait(100);
        QCOMPARE(r.serial->packetAddressesWritten().size(), 4); // the stream has stopped
        QVERIFY(r.serial->written.size() >= written);
    }

    void write_deviceVanishing_endsTheWriteAndShowsTheLinkLost()
    {
        Rig r;
        r.bringUp();
        r.link->WrBtnClick();
        r.answering = true;
        r.script = {0x01, 0x01, 0x00};
        r.serial->feed("\x01");
        QTRY_COMPARE(r.serial->packetAddressesWritten().size(), 3);
        r.serial->injectFailure();
        QTRY_VERIFY(!r.link->usb().writing());
        // The box follows once the port's notification is over.
        QTRY_COMPARE(r.view.messages.value(0).text, QStringLiteral("Трансивер не отвечает"));
        QCOMPARE(r.view.status, QStringLiteral("Нет связи"));
        QCOMPARE(r.link->activeChannel(), Channel::None);
        QVERIFY(r.view.commands[Command::ItemLink] && r.view.commands[Command::ItemLoad]);
        QVERIFY(!r.view.commands[Command::ItemWr]);
        QVERIFY(!r.timer("LinkWatchTrigger")->isActive());
        QVERIFY(!r.timer("TimerUsbWrite")->isActive());
    }

    void fatalReply_closesThePortAndAsksToClose()
    {
        Rig r;
        r.bringUp();
        r.serial->feed("\x02");
        QCoreApplication::processEvents();
        QVERIFY(!r.serial->isOpen());
        QTRY_COMPARE(r.view.messages.size(), 1);
        QCOMPARE(r.view.messages.value(0),
                 (UserMessage{"Ошибка выбора типа ППК!", "Фатальная ошибка", MsgIcon::Error, MsgButtons::Ok, false}));
        QCOMPARE(r.view.closeRequests, 1);
        // Should the user stay, the closed port shows as no link.
        QCOMPARE(r.view.captionMode, CaptionMode::Offline);
        QCOMPARE(r.view.status, QStringLiteral("Нет связи"));
        QVERIFY(!r.view.commands[Command::ItemWr]);
    }

    void memoryFailure_onlyShowsItsMessage()
    {
        Rig r;
        r.bringUp();
        const int written = int(r.serial->written.size());
        r.serial->feed("\x25");
        QTRY_COMPARE(r.view.messages.size(), 1);
        QCOMPARE(r.view.messages.value(0),
                 (UserMessage{"Отказ оборудования", "Ошибка при записи ППЗУ", MsgIcon::None, MsgButtons::Ok, false}));
        QCOMPARE(r.serial->written.size(), written);
        QVERIFY(r.link->usb().connected());
    }

    void answers_areTimedFromFrameToAnswer_andStartAfreshOnANewPort()
    {
        // Ticks long enough never to pass: only the answers move the link.
        Rig r(Millis(3000), Millis(60000));
        r.chooseUsb();
        QVERIFY(!r.link->usb().answerTime());
        // Three polls, each answered 30 ms or more after it was written.
        for (int i = 1; i <= 3; ++i) {
            QTest::qWait(30);
            r.serial->feed("\x01");
            QCOMPARE(r.link->usb().answersTimed(), i);
        }
        QVERIFY(*r.link->usb().answerTime() >= Millis(30));
        // Two answers in one burst: which frame each answers is not known,
        // so neither is timed.
        r.serial->feed(QByteArray::fromHex("0101"));
        QCOMPARE(r.link->usb().answersTimed(), 3);

        // Another port is another adapter.
        r.link->LanClick(); // the prompt is cancelled: the port is let go
        r.view.portAnswers.enqueue(QStringLiteral("/dev/ttyFAKE1"));
        r.link->USB1Click();
        QCOMPARE(r.serial->opened.last(), QStringLiteral("/dev/ttyFAKE1"));
        QCOMPARE(r.link->usb().answersTimed(), 0);
        QVERIFY(!r.link->usb().answerTime());
    }

    void write_showsItsPaceFromPacketZero_andItsAdaptersAdvice()
    {
        Rig r;
        // An FTDI adapter whose driver refused the low-latency flag.
        r.serial->portDetails.driver = hostSystem() == HostSystem::Windows ? QStringLiteral("FTSER2K")
                                                                           : QStringLiteral("ftdi_sio");
        r.serial->portDetails.vendorId = 0x0403;
        r.serial->lowLatencyState = LowLatency::Refused;
        r.bringUp();
        int packetsAtStart = -1;
        connect(&r.link->usb(), &UsbLink::streamStarting, this,
                [&] { packetsAtStart = int(r.serial->packetAddressesWritten().size()); });
        std::optional<WriteOutcome> ended;
        connect(&r.link->writer(), &WriteTransaction::finished, this, [&](const WriteOutcome &o) { ended = o; });
        r.link->WrBtnClick();
        r.answering = true;
        r.serial->feed("\x01");
        QTRY_VERIFY_WITH_TIMEOUT(ended.has_value(), 60000);

        // The pace is given before packet 0, for every frame of the stream,
        // and taken away when the write ends.
        QCOMPARE(packetsAtStart, 0);
        QVERIFY(r.view.usbPaces.size() >= 2);
        const std::optional<UsbPace> first = r.view.usbPaces.first();
        QVERIFY(first.has_value());
        QCOMPARE(first->framesLeft, kImageSize + 1);
        if (hostSystem() != HostSystem::Other)
            QVERIFY2(first->advice.contains(hostSystem() == HostSystem::Windows ? QStringLiteral("Latency Timer")
                                                                                : QStringLiteral("udev")),
                     qPrintable(first->advice));
        QVERIFY(!r.view.usbPaces.last().has_value());
        for (qsizetype i = 1; i + 1 < r.view.usbPaces.size(); ++i)
            QVERIFY(r.view.usbPaces.at(i)->framesLeft <= r.view.usbPaces.at(i - 1)->framesLeft);
        // The journal's figures go with the outcome.
        QVERIFY(ended->done());
        QVERIFY(ended->answerMs.has_value() && *ended->answerMs >= 0.0);
        QVERIFY(ended->durationMs.has_value() && *ended->durationMs >= 0);
    }

    void choosingLan_givesUpThePort()
    {
        Rig r;
        r.bringUp();
        r.link->LanClick(); // the prompt is cancelled
        QVERIFY(!r.serial->isOpen());
        QVERIFY(!r.timer("LinkWatchTrigger")->isActive());
        r.link->USB1Click();
        QCOMPARE(r.view.portRequests.size(), 2);
    }
};

QTEST_GUILESS_MAIN(UsbLinkTest)
#include "tst_usblink.moc"
