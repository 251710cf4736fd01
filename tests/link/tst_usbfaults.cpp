// The USB write against a scripted transceiver that answers late, twice, not
// at all or with the wrong byte: every address reaches the transceiver and is
// acknowledged before the write is reported done, and the tool never loses
// track of which frame a byte answers.
#include "support/FakeAdapters.h"
#include "support/FakeLinkView.h"

#include "link/Links.h"

#include <QTest>
#include <QTimer>

using namespace tarvil;
using namespace tarvil::test;

namespace {

enum class Fault {
    None,
    StartAnswerLost,   // the poll in flight when the write begins is never answered
    StartAnswerFailed, // ... is answered 0x25
    StartAnswerLate,   // ... is answered long after the watch gave up on it
    LatePollBefore,    // a poll is answered late once, and the write follows
    NakThreeTimes,     // every data packet is refused three times, then taken
    PacketAnswerLost,  // the answer to one data packet never comes
    NestedRestart,     // "Пуск" mid-stream with every check passing
    NestedRefused,     // "Пуск" mid-stream with the APN emptied
};

// The transceiver's side of the port: one reply byte per frame, stored bytes
// at the addresses it acknowledged.
struct Device {
    FakeSerialPort *port = nullptr;
    QByteArray memory = QByteArray(kImageSize, '\0');
    QList<int> acknowledged; // addresses, in order
    int lateMs = 0;          // the next poll's answer comes this late (-1: lost, -2: 0x25)
    std::function<void()> onNextPoll; // runs (queued) when the next poll arrives
    std::function<void(int)> onPacket; // runs (queued) for every data packet, with its ordinal
    int nakEach = 0;
    int loseAnswerTo = -1; // the ordinal of a data packet stored but not answered
    int packets = 0;
    int naksLeft = 0;

    void attach(FakeSerialPort *p)
    {
        port = p;
        port->onWrite = [this](const QByteArray &frame) { answer(frame); };
    }
    void reply(int byte, int delayMs)
    {
        QTimer::singleShot(delayMs, port, [this, byte] { port->feed(QByteArray(1, char(byte))); });
    }
    void answer(const QByteArray &frame)
    {
        if (frame.at(0) == '#') {
            if (onNextPoll) {
                QTimer::singleShot(0, port, std::exchange(onNextPoll, {}));
            }
            const int late = std::exchange(lateMs, 0);
            if (late == -1)
                return;
            reply(late == -2 ? 0x25 : 0x01, std::max(late, 0));
            return;
        }
        const int ordinal = packets++;
        if (onPacket)
            QTimer::singleShot(0, port, [this, ordinal] { onPacket(ordinal); });
        if (naksLeft == 0)
            naksLeft = nakEach;
        if (naksLeft > 0 && --naksLeft > 0) {
            reply(0x15, 0);
            return;
        }
        const int address = static_cast<unsigned char>(frame.at(1)) | static_cast<unsigned char>(frame.at(2)) << 8;
        memory[address] = frame.at(3);
        naksLeft = 0;
        if (ordinal == loseAnswerTo)
            return;
        acknowledged << address;
        reply(0x01, 0);
    }
};

struct Rig {
    FakeLinkView view;
    FakeSerialPort *serial;
    ConfigImage image;
    std::unique_ptr<Links> link;
    Device device;
    int tick;

    // Under Wine an event loop can stand still for tens of milliseconds while
    // another test runs beside it; a watch of two such ticks would then give
    // up on answers that are on their way, and the stream would resend.
#ifdef Q_OS_WIN
    static constexpr int kDefaultTick = 100;
#else
    static constexpr int kDefaultTick = 20;
#endif
    explicit Rig(int tickMs = kDefaultTick) : tick(tickMs)
    {
        auto s = std::make_unique<FakeSerialPort>();
        serial = s.get();
        LinkConfig config;
        config.timings = LinkTimings{}.scaled(0.004);
        config.timings.serialTick = Millis(tick);
        config.timings.usbWriteTimeout = Millis(3000);
        link = std::make_unique<Links>(view, view, image, config, std::move(s), std::make_unique<FakeUdpEndpoint>());
        link->formShow();
        view.settings = validSettings();
        device.attach(serial);
        view.portAnswers.enqueue(QStringLiteral("/dev/ttyFAKE0"));
        link->USB1Click();
    }
    QByteArray built() const { return QByteArray(reinterpret_cast<const char *>(image.data()), kImageSize); }
};

} // namespace

Q_DECLARE_METATYPE(Fault)

class UsbFaultsTest : public QObject {
    Q_OBJECT
private slots:
    void write_endsDoneOnlyWithEveryAddressAcknowledged_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<QStringList>("alsoShown");
        QTest::newRow("no fault") << Fault::None << QStringList();
        QTest::newRow("answer at the start lost") << Fault::StartAnswerLost << QStringList();
        QTest::newRow("answer at the start 0x25") << Fault::StartAnswerFailed << QStringList{"Отказ оборудования"};
        QTest::newRow("answer at the start late") << Fault::StartAnswerLate << QStringList();
        QTest::newRow("a late poll answer before the write") << Fault::LatePollBefore << QStringList();
        QTest::newRow("every packet refused three times") << Fault::NakThreeTimes << QStringList();
        QTest::newRow("a packet's answer lost mid-stream") << Fault::PacketAnswerLost << QStringList();
        QTest::newRow("Пуск mid-stream, checks pass") << Fault::NestedRestart << QStringList();
        QTest::newRow("Пуск mid-stream, APN empty") << Fault::NestedRefused
                                                     << QStringList{"Не определен APN GPRS - канала"};
    }
    void write_endsDoneOnlyWithEveryAddressAcknowledged()
    {
        QFETCH(Fault, fault);
        QFETCH(QStringList, alsoShown);
        Rig r;
        QTRY_VERIFY(r.link->usb().connected());

        bool lockedAfterRefusal = false;
        const auto start = [&r] { r.link->WrBtnClick(); };
        switch (fault) {
        case Fault::None:
            start();
            break;
        case Fault::StartAnswerLost:
        case Fault::StartAnswerFailed:
        case Fault::StartAnswerLate:
            // The write begins while that poll is in flight.
            r.device.lateMs = fault == Fault::StartAnswerLost ? -1 : fault == Fault::StartAnswerFailed ? -2 : 12 * r.tick;
            r.device.onNextPoll = start;
            break;
        case Fault::LatePollBefore:
            r.device.lateMs = 4 * r.tick;
            QTRY_COMPARE(r.link->usb().state(), UsbLink::State::PollingInDoubt);
            QTRY_VERIFY(r.link->usb().connected());
            start();
            break;
        case Fault::NakThreeTimes:
            r.device.nakEach = 4;
            start();
            break;
        case Fault::PacketAnswerLost:
            r.device.loseAnswerTo = 700;
            start();
            break;
        case Fault::NestedRestart:
            r.device.onPacket = [&r](int ordinal) {
                if (ordinal != 500)
                    return;
                r.view.settings.apn = QStringLiteral("second.build");
                r.link->WrBtnClick();
            };
            start();
            break;
        case Fault::NestedRefused:
            r.device.onPacket = [&](int ordinal) {
                if (ordinal != 500)
                    return;
                r.view.settings.apn.clear();
                r.link->WrBtnClick();
                lockedAfterRefusal = r.view.locked && !r.view.commands[Command::ItemWr] && r.link->usb().writing();
            };
            start();
            break;
        }

        QTRY_VERIFY(r.link->usb().writing());
        QTRY_VERIFY_WITH_TIMEOUT(!r.link->usb().writing(), 90000);
        QTRY_VERIFY(!r.view.locked);

        QStringList shown;
        for (const UserMessage &m : std::as_const(r.view.messages))
            shown << m.text;
        const QString done = QStringLiteral("Запись конфигурации трансивера № 12345 выполнена");
        QCOMPARE(shown.count(done), 1);
        for (const QString &text : alsoShown)
            QVERIFY2(shown.contains(text), qPrintable(shown.join(" | ")));
        QCOMPARE(shown.size(), 1 + alsoShown.size());
        QVERIFY(r.view.boxesInsideNotifications.isEmpty());

        // The transceiver holds the image of the last build that passed its
        // checks, every address acknowledged, the last stream in address order.
        QCOMPARE(r.device.memory, r.built());
        QList<int> tail = r.device.acknowledged.mid(r.device.acknowledged.size() - kImageSize);
        QList<int> expected;
        for (int a = 0; a < kImageSize; ++a)
            expected << a;
        QCOMPARE(tail, expected);
        if (fault == Fault::NestedRestart)
            QCOMPARE(ConfigImage::readText(r.image.common() + CommonField::Apn.offset, CommonField::Apn.width),
                     QStringLiteral("second.build"));
        if (fault == Fault::NestedRefused)
            QVERIFY(lockedAfterRefusal);
    }

    // Whatever puts the poll cycle in doubt, the cycle goes on as described,
    // and a write begins only after the doubt is settled: quiet, then a poll
    // answered, and packet 0 on that answer.
    void doubt_leavesThePollCycleAlone_andIsSettledBeforeAWrite_data()
    {
        QTest::addColumn<int>("cause");
        QTest::newRow("a poll answered after the watch gave up") << 0;
        QTest::newRow("two answers in one burst") << 1;
        QTest::newRow("USB chosen again with a poll in flight") << 2;
    }
    void doubt_leavesThePollCycleAlone_andIsSettledBeforeAWrite()
    {
        QFETCH(int, cause);
        Rig r;
        QTRY_VERIFY(r.link->usb().connected());
        switch (cause) {
        case 0:
            r.device.lateMs = 3 * r.tick;
            break;
        case 1:
            r.serial->feed(QByteArray("\x01\x01", 2));
            break;
        case 2:
            r.link->USB1Click();
            break;
        }
        QTRY_COMPARE(r.link->usb().state(), UsbLink::State::PollingInDoubt);
        const int polls = r.serial->pollsWritten();
        QTRY_VERIFY(r.serial->pollsWritten() > polls + 3);
        QTRY_VERIFY(r.link->usb().connected());

        const qsizetype before = r.serial->written.size();
        r.link->WrBtnClick();
        QCOMPARE(r.link->usb().state(), UsbLink::State::Settling);
        QTRY_VERIFY_WITH_TIMEOUT(!r.link->usb().writing(), 90000);
        QCOMPARE(r.serial->written.at(before).at(0), '#'); // a poll answered before any packet
        QCOMPARE(r.device.memory, r.built());
        // The box follows once the notification that ended the write is over.
        QTRY_COMPARE(r.view.messages.value(0).text, QStringLiteral("Запись конфигурации трансивера № 12345 выполнена"));
    }

    // While a write settles the doubt, nothing goes out and no answer is
    // taken for the write's; "USB" chosen again changes nothing; what the
    // transceiver says of itself (0x25, 0x02) still counts.
    void settling_sendsNothing_butHearsTheTransceiver()
    {
        Rig r(60000); // no timer expires by itself here
        r.serial->feed("\x01");
        QCoreApplication::processEvents();
        QVERIFY(r.link->usb().connected());
        r.link->USB1Click(); // two polls in flight
        r.device.port->onWrite = nullptr; // the test answers now
        const qsizetype before = r.serial->written.size();
        r.link->WrBtnClick();
        QCOMPARE(r.link->usb().state(), UsbLink::State::Settling);

        r.serial->feed("\x01");
        QCoreApplication::processEvents();
        r.link->USB1Click();
        QCOMPARE(r.link->usb().state(), UsbLink::State::Settling);
        QCOMPARE(r.serial->written.size(), before);
        QVERIFY(r.view.locked && r.link->findChild<QTimer *>("LinkWatchTrigger")->isActive());

        r.serial->feed("\x25");
        QTRY_COMPARE(r.view.messages.value(0).text, QStringLiteral("Отказ оборудования"));
        QCOMPARE(r.link->usb().state(), UsbLink::State::Settling);
        r.serial->feed("\x02");
        QTRY_VERIFY(!r.link->usb().writing());
        QVERIFY(!r.serial->isOpen());
        QTRY_COMPARE(r.view.messages.value(1).text, QStringLiteral("Ошибка выбора типа ППК!"));
        QCOMPARE(r.serial->written.size(), before);
    }
};

QTEST_GUILESS_MAIN(UsbFaultsTest)
#include "tst_usbfaults.moc"
