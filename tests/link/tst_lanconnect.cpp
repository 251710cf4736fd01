// Connecting over the LAN: the address prompt, the connect loop, its time-out
// and the keep-alive, against a scripted UDP endpoint.
#include "support/FakeAdapters.h"
#include "support/FakeLinkView.h"

#include "link/Links.h"

#include <QTest>
#include <QTimer>

using namespace tarvil;
using namespace tarvil::test;

namespace {

struct Rig {
    FakeLinkView view;
    FakeUdpEndpoint *udp;
    FakeSerialPort *serial;
    ConfigImage image;
    std::unique_ptr<Links> link;
    bool answer = true;

    explicit Rig(bool bindOk = true)
    {
        auto u = std::make_unique<FakeUdpEndpoint>();
        auto s = std::make_unique<FakeSerialPort>();
        u->bindResult = bindOk;
        udp = u.get();
        serial = s.get();
        LinkConfig config;
        config.timings = LinkTimings{}.scaled(0.01);
        link = std::make_unique<Links>(view, view, image, config, std::move(s), std::move(u));
        link->formShow();
        udp->onSend = [this](const QByteArray &d) {
            if (answer && d == "AT+CONFIG")
                udp->deliverLater("OK", udp->remote);
        };
    }
    QTimer *timer(const char *name) { return link->findChild<QTimer *>(QString::fromLatin1(name)); }
};

const QString kCaptionBase = QStringLiteral("Трансивер ЛТКЗ \"Тарвил-QZT\" (версия 31.00.13)      ");

} // namespace

class LanConnectTest : public QObject {
    Q_OBJECT
private slots:
    void prompt_offersTheDefaultThenWhatWasConfirmedLast()
    {
        Rig r;
        r.link->LanClick(); // cancelled
        QCOMPARE(r.view.prompts.value(0),
                 QStringLiteral("Работа по ЛВС|Введите IP-адрес трансивера|192.168.1.221"));
        QVERIFY(r.udp->sent.isEmpty());

        r.view.textAnswers.enqueue(QStringLiteral("10.0.0.300"));
        r.link->LanClick();
        QCOMPARE(r.view.messages.value(0),
                 (UserMessage{"Недопустимый IP-адрес трансивера.", "Ошибка", MsgIcon::Error, MsgButtons::Ok, true}));
        QCOMPARE(r.link->activeChannel(), Channel::None);
        r.link->LanClick();
        QCOMPARE(r.view.prompts.value(2), QStringLiteral("Работа по ЛВС|Введите IP-адрес трансивера|10.0.0.300"));
    }

    void freeTextAddresses_withSignsBlanksOrPrefixesAreRefused_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("sign") << "+10.0.0.1";
        QTest::newRow("blank") << "10.0.0.1 ";
        QTest::newRow("inner blank") << "10. 0.0.1";
        QTest::newRow("hex prefix") << "0x0A.0.0.1";
        QTest::newRow("minus") << "10.0.-0.1";
    }
    void freeTextAddresses_withSignsBlanksOrPrefixesAreRefused()
    {
        QFETCH(QString, text);
        Rig r;
        r.view.textAnswers.enqueue(text);
        r.link->LanClick();
        QCOMPARE(r.view.messages.size(), 1);
        QVERIFY(r.udp->sent.isEmpty());
    }

    void connect_answered_bringsAllCommandsBack()
    {
        Rig r;
        r.view.textAnswers.enqueue(QStringLiteral("127.0.0.2"));
        r.link->LanClick();
        QCOMPARE(r.view.captionText(), kCaptionBase + QStringLiteral("Канал LAN IP: 127.0.0.2"));
        QCOMPARE(r.view.status, QStringLiteral("Соединение с 127.0.0.2"));
        QVERIFY(r.link->lan().connecting());
        QTRY_COMPARE(r.link->lan().state(), lsIdle);
        QVERIFY(!r.link->lan().connecting());
        QVERIFY(r.view.status.isEmpty());
        QVERIFY(r.view.allCommandsEnabled());
        QVERIFY(r.view.gaugeVisible);
        QCOMPARE(r.link->lan().state(), lsIdle);
        QCOMPARE(r.link->activeChannel(), Channel::Lan);
        QVERIFY(r.timer("TimerUDP")->isActive());
        QCOMPARE(r.udp->remote, QStringLiteral("127.0.0.2"));
        QCOMPARE(r.udp->remotePort, std::uint16_t(9999));
        // The keep-alive goes on; its answers change nothing.
        const int before = r.udp->sentCount("AT+CONFIG");
        QTRY_VERIFY(r.udp->sentCount("AT+CONFIG") > before + 2);
        QCOMPARE(r.link->lan().state(), lsIdle);
        QCOMPARE(r.view.messages.size(), 0);
    }

    void connect_timeOut_leavesOnlyTheOfflineCommands_andALateOkStillUnlocks()
    {
        Rig r;
        r.answer = false;
        r.view.textAnswers.enqueue(QStringLiteral("127.0.0.2"));
        r.link->LanClick();
        QTRY_COMPARE_WITH_TIMEOUT(r.view.status, QStringLiteral("Нет связи с 127.0.0.2"), 10000);
        QCOMPARE(r.view.captionText(), kCaptionBase + QStringLiteral("Автономный режим"));
        QVERIFY(!r.timer("TimerUDP")->isActive());
        QVERIFY(r.view.commands[Command::ItemLink] && r.view.commands[Command::ItemLoad] &&
                r.view.commands[Command::ItemSave]);
        QVERIFY(!r.view.commands[Command::ItemWr] && !r.view.commands[Command::ItemRead] && !r.view.wrBtnVisible);
        QCOMPARE(r.link->activeChannel(), Channel::Lan);
        QCOMPARE(r.link->lan().state(), lsConnecting);
        // About 5.6 s of keep-alive at one a second: around five requests.
        QVERIFY(r.udp->sentCount("AT+CONFIG") >= 3);

        r.udp->deliver("OK", QStringLiteral("127.0.0.2"));
        QCOMPARE(r.link->lan().state(), lsIdle);
        QVERIFY(r.view.allCommandsEnabled());
        QCOMPARE(r.view.captionMode, CaptionMode::Offline);
    }

    void connect_confirmedCloseRunsTheCountdownOutWithoutWaiting()
    {
        Rig r;
        r.answer = false;
        r.view.textAnswers.enqueue(QStringLiteral("127.0.0.2"));
        r.link->LanClick();
        r.link->shutdown();
        QVERIFY(r.link->stopped());
        QVERIFY(!r.link->lan().connecting());
        QCOMPARE(r.view.status, QStringLiteral("Нет связи с 127.0.0.2"));
    }

    void bindFailure_isReportedOnceAtStart()
    {
        Rig r(false);
        QCOMPARE(r.view.messages.size(), 1);
        QCOMPARE(r.view.messages.at(0).caption, QStringLiteral("Работа по ЛВС"));
        QVERIFY(r.view.messages.at(0).text.contains(QStringLiteral("9999")));
        r.link->formShow();
        QCOMPARE(r.view.messages.size(), 1);
    }
};

QTEST_GUILESS_MAIN(LanConnectTest)
#include "tst_lanconnect.moc"
