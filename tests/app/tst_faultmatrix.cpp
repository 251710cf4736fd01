// The fault matrix: the real window against the transceiver simulator, one
// named row per fault and action, each asserting what the installer sees (the
// boxes in order, the status line, the commands left usable), what the
// transceiver holds afterwards, and, where it matters, that the link still
// works. Every row has a guaranteed end: a watchdog closes the window (a
// confirmed close ends every wait) and the row fails as hung.
#include "support/FakeLinkView.h"
#include "support/TestEnv.h"
#include "support/ToolRig.h"

#include "link/Links.h"

#include "SampleImage.h"
#include "SimProtocol.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

using namespace tarvil;
using namespace tarvil::test;
using namespace std::chrono_literals;

namespace {

// Long enough for a loaded machine, far shorter than the CTest time-out.
constexpr int kDeadlineMs = 20000;
constexpr int kSettleMs = 150;

// A box as the installer sees it.
struct Shown {
    QString text;
    QString caption;
    friend bool operator==(const Shown &, const Shown &) = default;
};

const Shown kDone{QStringLiteral("Запись конфигурации трансивера № 12345 выполнена"),
                  QStringLiteral("Конфигурирование трансивера")};
const Shown kWriteFailed{QStringLiteral("Ошибка при записи конфигурации"), QStringLiteral("Конфигурирование трансивера")};
const Shown kNoAnswer{QStringLiteral("Трансивер не отвечает"), QStringLiteral("Связь с трансивером")};
const Shown kNoAnswerBlock{QStringLiteral("Трансивер не отвечает "), QStringLiteral("Связь с трансивером")};
const Shown kReadFailed{QStringLiteral("Ошибка при чтение конфигурации."), QStringLiteral("Связь с трансивером")};
const Shown kMemoryFailure{QStringLiteral("Отказ оборудования"), QStringLiteral("Ошибка при записи ППЗУ")};
const Shown kFatal{QStringLiteral("Ошибка выбора типа ППК!"), QStringLiteral("Фатальная ошибка")};
const Shown kCloseQuestion{QStringLiteral("Завершить работу приложения?"), QStringLiteral("Завершение работы")};
const Shown kNoApn{QStringLiteral("Не определен APN GPRS - канала"), QStringLiteral("Ошибка")};
const Shown kNoSerial{QStringLiteral("Не определен заводской номер"), QStringLiteral("Ошибка")};

Shown readDone(quint32 serial)
{
    return {QStringLiteral("Чтение конфигурации трансивера № %1 выполнено.").arg(serial),
            QStringLiteral("Конфигурирование трансивера")};
}

// The commands a user can reach.
enum Cmd : int { Link = 1, Wr = 2, Read = 4, Load = 8, Save = 16, WrBtn = 32 };
constexpr int kAll = Link | Wr | Read | Load | Save | WrBtn;
constexpr int kUsbUp = Link | Wr | Load | Save | WrBtn; // reading needs the LAN link
constexpr int kOffline = Link | Load | Save;
constexpr int kDontCare = -1;

QString commandNames(int mask)
{
    QStringList names;
    const std::pair<int, const char *> all[] = {{Link, "ItemLink"}, {Wr, "ItemWr"}, {Read, "ItemRead"},
                                                {Load, "ItemLoad"}, {Save, "ItemSave"}, {WrBtn, "WrBtn"}};
    for (const auto &[bit, name] : all) {
        if (mask & bit)
            names << QLatin1String(name);
    }
    return names.isEmpty() ? QStringLiteral("(none)") : names.join(QLatin1Char(' '));
}

enum class Wire { Lan, Usb };
enum class Action { Connect, Write, Read };
enum class Then { Nothing, Read, Write };
enum class Image {
    Built,     // the transceiver holds the image the tool built
    Before,    // it holds what it held before the action
    Captured,  // it holds the image captured while the action ran
    Any,       // partly written; only the rule on success boxes applies
};

sim::ReplySelector reply(sim::ReplySelector::Kind kind, int number = -1, int times = 1)
{
    return {kind, number, times};
}

quint32 serialOf(const QByteArray &image)
{
    quint32 v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 8 | std::uint8_t(image.at(sim::kCommonOffset + 14 + i));
    return v;
}

int objectsIn(const QByteArray &image)
{
    int n = 0;
    for (int r = 0; r < sim::kRecords; ++r)
        n += image.at(r * sim::kRecordBytes) != 0;
    return n;
}

QString describe(const QList<Shown> &boxes)
{
    QStringList parts;
    for (const Shown &s : boxes)
        parts << QStringLiteral("\"%1\" (%2)").arg(s.text, s.caption);
    return parts.isEmpty() ? QStringLiteral("no box") : parts.join(QStringLiteral(", "));
}

struct Run;

struct Scenario {
    Wire channel = Wire::Lan;
    Action action = Action::Write;
    LinkTimings timings = answeringTimings();
    sim::LanFaults lan;
    sim::UsbFaults usb;
    bool holdBoxes = false;   // every box stays open 200 ms, as a real one does while the user reads it
    int leadInMs = 0;         // the faults run this long before the action
    bool startOnOddPoll = false; // USB: the write starts while a poll with an odd answer is outstanding
    QList<MsgAnswer> answers; // the user's answers to the boxes, in order
    std::function<void(Run &)> during; // what the user or the wire does while the action runs
    QList<QList<Shown>> accepted;      // the boxes, in order; one of these sequences
    int commands = kAll;               // usable afterwards
    std::optional<QString> status = QString();
    Image image = Image::Built;
    bool closes = false; // the window is closed during the action
    int settleMs = kSettleMs;
    Then then = Then::Nothing;
    std::function<void(Run &)> check; // what else the row must show
};

// One row's rig and what happened while it ran. Hooks cannot fail the row
// from inside the tool's event loops; they note problems instead.
struct Run {
    ToolRig &rig;
    QStringList problems;
    bool hung = false;
    bool started = false;
    QByteArray before;   // the transceiver's image before the action
    QByteArray captured; // for Image::Captured
    QElapsedTimer clock;
    qint64 closedAtMs = -1;
    qint64 endedAtMs = -1; // when a transaction last finished
    int ends = 0;          // finished() of the writer and the reader, counted
    int usbWritesBefore = 0;
    int lanWritesBefore = 0;
    std::unique_ptr<QTimer> lockWatch;
    QList<QMetaObject::Connection> connections;

    explicit Run(ToolRig &r) : rig(r) { clock.start(); }

    // Notes a broken expectation; the row fails with all of them at its end.
    void expect(bool ok, const QString &what)
    {
        if (!ok)
            problems << what;
    }
    ~Run()
    {
        for (const auto &c : std::as_const(connections))
            QObject::disconnect(c);
    }

    QByteArray simImage(Wire c) const { return c == Wire::Lan ? rig.lan.image() : rig.usb.image(); }

    int commandsNow() const
    {
        int mask = 0;
        const std::pair<int, const char *> actions[] = {
            {Link, "ItemLink"}, {Wr, "ItemWr"}, {Read, "ItemRead"}, {Load, "ItemLoad"}, {Save, "ItemSave"}};
        for (const auto &[bit, name] : actions) {
            if (rig.action(name)->isEnabled())
                mask |= bit;
        }
        if (rig.find<QPushButton>("WrBtn")->isVisible())
            mask |= WrBtn;
        return mask;
    }

    QList<Shown> shown() const
    {
        QList<Shown> out;
        for (const UserMessage &m : rig.dialogs.messages)
            out.append({m.text, m.caption});
        return out;
    }

    // `fn` runs once, from the event loop, `delayMs` after the simulator has
    // heard the nth request of this kind.
    void onLanRequest(sim::Request kind, int nth, std::function<void()> fn, int delayMs = 0)
    {
        auto seen = std::make_shared<int>(0);
        connections << QObject::connect(&rig.lan, &sim::LanSimulator::datagramReceived, &rig.lan,
                                        [this, kind, nth, fn, delayMs, seen](const sim::LanDatagram &d) {
                                            if (d.kind == kind && ++*seen == nth)
                                                QTimer::singleShot(delayMs, &rig.lan, fn);
                                        });
    }

    // `fn` runs once, from the event loop, when the window's gauge first shows
    // `percent` or more: a point inside the transaction as the tool sees it,
    // whatever the simulator's timing.
    void onGauge(int percent, std::function<void()> fn)
    {
        auto done = std::make_shared<bool>(false);
        auto *gauge = rig.find<QProgressBar>("Gauge");
        connections << QObject::connect(gauge, &QProgressBar::valueChanged, gauge, [gauge, percent, fn, done](int v) {
            if (*done || v < percent)
                return;
            *done = true;
            QTimer::singleShot(0, gauge, fn);
        });
    }

    // `fn` runs once, from the event loop, when the simulator has received
    // this many data packets.
    void onUsbPackets(int count, std::function<void()> fn, int delayMs = 0)
    {
        auto done = std::make_shared<bool>(false);
        connections << QObject::connect(&rig.usb, &sim::UsbSimulator::frameReceived, &rig.usb,
                                        [this, count, fn, delayMs, done](const sim::UsbFrame &f) {
                                            if (!*done && f.kind == sim::FrameKind::Data && f.index + 1 >= count) {
                                                *done = true;
                                                QTimer::singleShot(delayMs, &rig.usb, fn);
                                            }
                                        });
    }

    void closeWindow()
    {
        closedAtMs = clock.elapsed();
        rig.window->close();
    }

    void clickStart()
    {
        QTest::mouseClick(rig.find<QPushButton>("StartUploadBtn"), Qt::LeftButton);
    }

    // The command lock of a running transaction must hold until its result
    // box: checked now and then every few milliseconds until that box.
    void keepLocked(const QString &when)
    {
        auto ended = [this] {
            for (const UserMessage &m : rig.dialogs.messages) {
                if (m.caption == kDone.caption || m.caption == kNoAnswer.caption)
                    return true;
            }
            return false;
        };
        auto look = [this, when, ended] {
            if (ended())
                return false;
            if (const int mask = commandsNow(); mask != 0) {
                problems << QStringLiteral("%1: %2 usable while the transaction still runs").arg(when, commandNames(mask));
                return false;
            }
            return true;
        };
        if (!look())
            return;
        lockWatch = std::make_unique<QTimer>();
        lockWatch->setInterval(5);
        QObject::connect(lockWatch.get(), &QTimer::timeout, lockWatch.get(), [this, look] {
            if (!look())
                lockWatch->stop();
        });
        lockWatch->start();
    }
};

// Runs `act`, then waits for `finished`. Past the deadline the user answers
// Yes to the close question and closes the window, which ends every wait of
// the tool, and the run counts as hung.
void guarded(Run &run, const std::function<void()> &act, const std::function<bool()> &finished)
{
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, &watchdog, [&run] {
        run.hung = true;
        run.rig.dialogs.whileOpen = nullptr;
        run.rig.dialogs.answers.clear();
        run.rig.dialogs.answers.enqueue(MsgAnswer::Yes);
        run.rig.window->close();
    });
    watchdog.start(kDeadlineMs);
    act();
    while (!run.hung && !finished())
        QTest::qWait(5);
    watchdog.stop();
}

// Scenario builders: the common shape of a row, changed by the row.
Scenario lanWrite(QList<Shown> boxes = {kDone})
{
    Scenario s;
    s.accepted = {boxes};
    return s;
}

Scenario lanRead(QList<Shown> boxes = {readDone(12345)})
{
    Scenario s;
    s.action = Action::Read;
    s.accepted = {boxes};
    s.image = Image::Before;
    return s;
}

Scenario usbWrite(QList<Shown> boxes = {kDone})
{
    Scenario s;
    s.channel = Wire::Usb;
    s.accepted = {boxes};
    s.commands = kUsbUp;
    return s;
}

// A request lost to the wire: short repeats, so that the repeat comes soon.
LinkTimings quickRepeats(int waitAckMs)
{
    LinkTimings t = answeringTimings();
    t.waitAck = Millis(waitAckMs);
    t.waitBlock = Millis(std::max(waitAckMs, 1500));
    return t;
}

// A read that follows a write: a deaf link shows in seven repeats of
// "AT+READF", a few seconds rather than half a minute.
void thenRead(Scenario &s)
{
    s.then = Then::Read;
    s.timings.waitAck = Millis(1000);
}

template <typename F> Scenario with(Scenario s, F &&change)
{
    change(s);
    return s;
}

} // namespace

Q_DECLARE_METATYPE(Scenario)

class FaultMatrixTest : public QObject {
    Q_OBJECT
private slots:
    void faultMatrix_data();
    void faultMatrix();
};

void FaultMatrixTest::faultMatrix_data()
{
    using K = sim::ReplySelector::Kind;
    using sim::Request;
    QTest::addColumn<Scenario>("scenario");
    auto row = [](const char *name, const Scenario &s) { QTest::newRow(name) << s; };
    auto strays = [](K after, QList<QByteArray> datagrams) {
        QList<sim::LanExtra> extras;
        for (const QByteArray &d : datagrams)
            extras.append({reply(after), d, false, 20ms, true});
        return extras;
    };

    // --- answers twice, and datagrams where none belong ------------------
    row("LAN write: result twice 50 ms apart, success box held open; a read follows",
        with(lanWrite(), [](Scenario &s) {
            s.lan.duplicateReplies = {reply(K::Result)};
            s.lan.duplicateGap = 50ms;
            s.holdBoxes = true;
            thenRead(s);
        }));
    row("LAN write: a stray OK right behind the ready reply", with(lanWrite(), [](Scenario &s) {
            s.lan.extras = {{reply(K::Ready), "OK"}};
            thenRead(s);
        }));
    row("LAN write: OK twice for every block", with(lanWrite(), [](Scenario &s) {
            s.lan.duplicateReplies = {reply(K::Block, -1, 0), reply(K::Common)};
            s.lan.duplicateGap = 5ms;
            thenRead(s);
        }));
    row("LAN write: ready reply twice and result twice", with(lanWrite(), [](Scenario &s) {
            s.lan.duplicateReplies = {reply(K::Ready), reply(K::Result)};
            thenRead(s);
        }));
    row("LAN write: datagrams from another host while the success box is open", with(lanWrite(), [&](Scenario &s) {
            s.lan.extras = strays(K::Result, {"GOOD", "OK", "BAD", "READY"});
            s.holdBoxes = true;
            thenRead(s);
        }));
    row("LAN write: datagrams from another host while the failure box is open",
        with(lanWrite({kWriteFailed}), [&](Scenario &s) {
            s.lan.failWrite = true;
            s.lan.extras = strays(K::Result, {"GOOD", "OK", "BAD"});
            s.holdBoxes = true;
            s.image = Image::Before;
            thenRead(s);
        }));
    row("LAN read: datagrams from another host while the read box is open", with(lanRead(), [&](Scenario &s) {
            s.lan.extras = strays(K::ReadEnd, {"OK", "GOOD", sim::readEndDatagram()});
            s.holdBoxes = true;
            s.then = Then::Write;
        }));
    row("LAN write: late keep-alive answers arrive during it", with(lanWrite(), [](Scenario &s) {
            s.lan.lateReplies = {reply(K::Config, -1, 0)};
            s.lan.lateBy = 300ms;
            s.leadInMs = 250;
        }));
    row("LAN read: late keep-alive answers arrive during it", with(lanRead(), [](Scenario &s) {
            s.lan.lateReplies = {reply(K::Config, -1, 0)};
            s.lan.lateBy = 300ms;
            s.leadInMs = 250;
        }));
    row("LAN write: a datagram over 255 bytes before every answer", with(lanWrite(), [](Scenario &s) {
            s.lan.oversizeBefore = {reply(K::Any, -1, 0)};
        }));
    row("LAN read: a datagram over 255 bytes before every datagram", with(lanRead(), [](Scenario &s) {
            s.lan.oversizeBefore = {reply(K::Any, -1, 0)};
        }));

    // --- a request lost once: the repeat carries the transaction -----------
    const std::pair<const char *, sim::ReplySelector> steps[] = {
        {"AT+DATF", reply(K::Ready)},      {"data block 30", reply(K::Block, 30)}, {"the common block", reply(K::Common)},
        {"the final AT+CONFIG", reply(K::Result)}, {"AT+READF", reply(K::ReadBlock, 0)}};
    for (const auto &[name, step] : steps) {
        const bool read = step.kind == K::ReadBlock;
        row(qPrintable(QStringLiteral("LAN: %1 lost once").arg(QLatin1String(name))),
            with(read ? lanRead() : lanWrite(), [step](Scenario &s) {
                s.timings = quickRepeats(300);
                s.lan.lostRequests = {step};
            }));
    }
    // --- ... and every time: the step's own message, nothing written --------
    const std::pair<const char *, Shown> failures[] = {
        {"AT+DATF", kNoAnswer}, {"data block 30", kNoAnswerBlock}, {"the common block", kNoAnswer},
        {"the final AT+CONFIG", kNoAnswer}, {"AT+READF", kReadFailed}};
    for (int i = 0; i < 5; ++i) {
        sim::ReplySelector always = steps[i].second;
        always.times = 0;
        const bool read = always.kind == K::ReadBlock;
        row(qPrintable(QStringLiteral("LAN: %1 lost every time").arg(QLatin1String(steps[i].first))),
            with(read ? lanRead({failures[i].second}) : lanWrite({failures[i].second}), [always](Scenario &s) {
                s.timings = quickRepeats(200);
                s.lan.lostRequests = {always};
                s.image = Image::Before;
            }));
    }

    // --- closing the window while the tool waits ---------------------------
    auto closing = [](Scenario s) {
        s.accepted = {{kCloseQuestion}};
        s.closes = true;
        s.commands = kDontCare;
        s.status = std::nullopt;
        return s;
    };
    row("close during the LAN connect", with(closing(lanWrite()), [](Scenario &s) {
            s.action = Action::Connect;
            s.timings.connectTurn = Millis(1020); // a connect of about 11 s
            s.lan.silent = true;
            s.image = Image::Before;
            s.during = [](Run &r) { r.onLanRequest(Request::Config, 2, [&r] { r.closeWindow(); }); };
        }));
    const std::tuple<const char *, sim::ReplySelector, Request, int> waits[] = {
        {"close while the LAN write waits for the ready reply", reply(K::Ready, -1, 0), Request::Datf, 1},
        {"close while the LAN write waits for a block's OK", reply(K::Block, 5, 0), Request::WriteBlock, 5},
        {"close while the LAN write waits for the result", reply(K::Result, -1, 0), Request::Fpde, 1}};
    for (const auto &[name, lost, request, nth] : waits) {
        row(name, with(closing(lanWrite()), [lost, request, nth](Scenario &s) {
                s.lan.dropReplies = {lost};
                // The final "AT+CONFIG" was heard: the transceiver holds the image, unreported.
                s.image = lost.kind == sim::ReplySelector::Result ? Image::Built : Image::Before;
                s.during = [request, nth](Run &r) { r.onLanRequest(request, nth, [&r] { r.closeWindow(); }, 30); };
            }));
    }
    row("close while the LAN read waits for a block", with(closing(lanRead()), [](Scenario &s) {
            s.lan.stopReadAfter = 5;
            s.during = [](Run &r) { r.onLanRequest(Request::Rdy0, 5, [&r] { r.closeWindow(); }, 30); };
        }));
    row("close while a USB write waits for the transceiver", with(closing(usbWrite()), [](Scenario &s) {
            s.timings.usbWriteTimeout = Millis(400);
            s.usb.stopAfter = 500;
            s.image = Image::Any;
            s.settleMs = 800; // past the write's own time-out: nothing more may show
            s.during = [](Run &r) { r.onUsbPackets(500, [&r] { r.closeWindow(); }, 30); };
        }));

    // --- "Пуск" inside a running transaction --------------------------------
    row("Пуск during a LAN write, its checks passing", with(lanWrite(), [](Scenario &s) {
            s.during = [](Run &r) {
                r.onGauge(15, [&r] {
                    r.clickStart();
                    r.keepLocked(QStringLiteral("after Пуск"));
                });
            };
            s.check = [](Run &r) {
                QList<Request> kinds;
                for (const sim::LanDatagram &d : r.rig.lan.received()) {
                    if (d.kind != Request::Config && d.kind != Request::Unknown)
                        kinds << d.kind;
                }
                QList<Request> once{Request::Datf};
                for (int n = 0; n < sim::kBlocks; ++n)
                    once << Request::WriteBlock;
                once << Request::WriteCommon << Request::Fpde;
                r.expect(kinds == once, QStringLiteral("the requests differ from one write's"));
            };
        }));
    row("Пуск during a LAN write, its check failing", with(lanWrite({kNoApn, kDone}), [](Scenario &s) {
            s.image = Image::Captured;
            s.during = [](Run &r) {
                r.onGauge(15, [&r] {
                    r.captured = r.rig.builtImage();
                    r.rig.find<QLineEdit>("EditAPN")->clear();
                    r.clickStart();
                    r.keepLocked(QStringLiteral("after the refused Пуск"));
                });
            };
        }));
    // A read's blocks follow one another without a pause; on a real network
    // (and for Windows' event loop, which delivers posted work only in a
    // pause) each reply takes a few milliseconds.
    row("Пуск during a LAN read, its checks passing", with(lanRead(), [](Scenario &s) {
            s.lan.delay = 5ms;
            s.during = [](Run &r) {
                r.onGauge(15, [&r] {
                    CommonSettings typed = validSettings();
                    typed.serial = QStringLiteral("777");
                    typed.apn = QStringLiteral("typed.apn");
                    r.rig.typeSettings(typed);
                    r.clickStart();
                    r.keepLocked(QStringLiteral("after Пуск"));
                });
            };
            s.check = [](Run &r) {
                for (const sim::LanDatagram &d : r.rig.lan.received())
                    r.expect(d.kind != sim::Request::Datf, QStringLiteral("a write was started"));
                r.expect(r.rig.find<QLineEdit>("EditAPN")->text() == QStringLiteral("internet"),
                         QStringLiteral("EditAPN shows \"%1\", not the transceiver's")
                             .arg(r.rig.find<QLineEdit>("EditAPN")->text()));
            };
        }));
    row("Пуск during a LAN read, its check failing", with(lanRead({kNoSerial, readDone(12345)}), [](Scenario &s) {
            s.lan.delay = 5ms;
            s.during = [](Run &r) {
                r.onGauge(15, [&r] {
                    r.clickStart(); // the read has emptied the serial number
                    r.keepLocked(QStringLiteral("after the refused Пуск"));
                });
            };
        }));
    row("Пуск during a USB write, its checks passing: the stream restarts", with(usbWrite(), [](Scenario &s) {
            s.during = [](Run &r) {
                r.onUsbPackets(2000, [&r] {
                    r.captured = r.rig.builtImage();
                    auto *apn = r.rig.find<QLineEdit>("EditAPN");
                    apn->clear();
                    QTest::keyClicks(apn, QStringLiteral("second.apn"));
                    r.clickStart();
                    r.keepLocked(QStringLiteral("after Пуск"));
                });
            };
            s.check = [](Run &r) {
                r.expect(r.rig.builtImage() != r.captured && r.rig.usb.image().contains("second.apn"),
                         QStringLiteral("the transceiver does not hold the second build"));
                r.expect(r.rig.usb.packetsAt(0) >= 3, QStringLiteral("the stream did not restart from packet 0"));
            };
        }));
    row("Пуск during a USB write, its check failing", with(usbWrite({kNoApn, kDone}), [](Scenario &s) {
            s.image = Image::Captured;
            s.during = [](Run &r) {
                r.onUsbPackets(2000, [&r] {
                    r.captured = r.rig.builtImage();
                    r.rig.find<QLineEdit>("EditAPN")->clear();
                    r.clickStart();
                    r.keepLocked(QStringLiteral("after the refused Пуск"));
                });
            };
        }));

    // --- USB replies out of the ordinary -----------------------------------
    row("USB write: answers paced byte by byte, the last poll's answer stalled past the link watch",
        with(usbWrite(), [](Scenario &s) {
            s.usb.pace = 2ms;
            s.usb.pacedReplies = 400; // the start of the write; all 14 203 would take half a minute
            s.usb.stallReplies = {reply(K::Poll)};
            s.usb.stallFor = 400ms;
            s.startOnOddPoll = true;
        }));
    row("USB write: the answer to the outstanding poll lost", with(usbWrite(), [](Scenario &s) {
            s.usb.dropReplies = {reply(K::Poll)};
            s.startOnOddPoll = true;
            s.timings.usbWriteTimeout = Millis(2000);
        }));
    row("USB write: the outstanding poll answered 0x25", with(usbWrite({kMemoryFailure, kDone}), [](Scenario &s) {
            s.usb.answers = {{reply(K::Poll), 0x25}};
            s.startOnOddPoll = true;
            s.timings.usbWriteTimeout = Millis(2000);
        }));
    row("USB write: every packet refused three times before it is taken", with(usbWrite(), [](Scenario &s) {
            s.usb.nakTimes = 3;
        }));
    row("USB write: 0x25 mid-write", with(usbWrite(), [](Scenario &s) {
            s.accepted = {{kMemoryFailure, kNoAnswer}, {kMemoryFailure, kDone}};
            s.timings.usbWriteTimeout = Millis(800);
            s.usb.memoryFailureAt = 3000;
            s.image = Image::Any;
        }));
    row("USB write: 0x02 mid-write; the user stays", with(usbWrite({kFatal, kCloseQuestion}), [](Scenario &s) {
            s.usb.fatalAt = 3000;
            s.answers = {MsgAnswer::Ok, MsgAnswer::No};
            s.commands = kOffline;
            s.status = std::nullopt;
            s.image = Image::Any;
        }));
    row("USB write: the device vanishes mid-write", with(usbWrite({kNoAnswer}), [](Scenario &s) {
            s.usb.closeAfter = 3000;
            s.commands = kOffline;
            s.status = QStringLiteral("Нет связи");
            s.image = Image::Any;
        }));
}

void FaultMatrixTest::faultMatrix()
{
    QFETCH(Scenario, scenario);
    const Scenario &s = scenario;
    if (s.channel != Wire::Lan)
        TARVIL_SKIP_USB_EXCHANGE();
    ToolRig rig(s.timings);
    Run run(rig);
    const bool lan = s.channel == Wire::Lan;
    const auto ended = [&run] {
        ++run.ends;
        run.endedAtMs = run.clock.elapsed();
    };
    run.connections << QObject::connect(&rig.window->links().writer(), &WriteTransaction::finished, ended);
    run.connections << QObject::connect(&rig.window->links().reader(), &ReadTransaction::finished, ended);

    if (s.action == Action::Connect) {
        QVERIFY(rig.lan.start(QHostAddress(QStringLiteral("127.0.0.2")), rig.port));
    } else if (lan) {
        QVERIFY(rig.connectLan());
    } else {
        QVERIFY(rig.connectUsb());
    }
    rig.typeSettings(validSettings());
    rig.addRows(sampleRows(5));
    if (s.holdBoxes)
        rig.dialogs.whileOpen = [](const UserMessage &) { QTest::qWait(200); };
    for (MsgAnswer a : s.answers)
        rig.dialogs.answers.enqueue(a);
    if (lan)
        QVERIFY(rig.lan.setFaults(s.lan));
    else
        rig.usb.setFaults(s.usb);
    run.before = run.simImage(s.channel);
    run.lanWritesBefore = rig.lan.writesCompleted();
    run.usbWritesBefore = rig.usb.writesCompleted();
    if (s.leadInMs > 0)
        QTest::qWait(s.leadInMs);
    if (s.during)
        s.during(run);

    auto start = [&] {
        if (s.startOnOddPoll) {
            // At the first poll whose answer is held, lost or not 0x01: the
            // write begins with that poll outstanding.
            run.connections << QObject::connect(&rig.usb, &sim::UsbSimulator::frameReceived, &rig.usb,
                                                [&](const sim::UsbFrame &f) {
                                                    const bool odd = f.held || f.replyLost || f.reply != sim::kAck;
                                                    if (run.started || f.kind != sim::FrameKind::Poll || !odd)
                                                        return;
                                                    run.started = true;
                                                    run.expect(rig.action("ItemWr")->isEnabled(),
                                                               QStringLiteral("ItemWr disabled with the poll outstanding"));
                                                    rig.action("ItemWr")->trigger();
                                                });
            return;
        }
        run.started = true;
        switch (s.action) {
        case Action::Connect:
            rig.dialogs.texts.enqueue(QStringLiteral("127.0.0.2"));
            rig.chooseLan();
            break;
        case Action::Write: rig.action("ItemWr")->trigger(); break;
        case Action::Read: rig.action("ItemRead")->trigger(); break;
        }
    };
    qsizetype fewestBoxes = s.accepted.first().size();
    for (const QList<Shown> &a : s.accepted)
        fewestBoxes = std::min(fewestBoxes, a.size());
    auto finished = [&] {
        if (s.closes)
            return !rig.window->isVisible();
        if (lan)
            return s.action == Action::Connect || run.ends > 0;
        return run.started && rig.action("ItemLink")->isEnabled() && rig.dialogs.messages.size() >= fewestBoxes;
    };
    guarded(run, start, finished);
    QVERIFY2(!run.hung, qPrintable(QStringLiteral("hung: not ended after %1 s; boxes so far: %2")
                                       .arg(kDeadlineMs / 1000)
                                       .arg(describe(run.shown()))));
    QTest::qWait(s.settleMs);

    // What the installer saw.
    const QList<Shown> boxes = run.shown();
    run.expect(s.accepted.contains(boxes),
               QStringLiteral("boxes: %1; expected: %2").arg(describe(boxes), describe(s.accepted.first())));
    if (s.closes) {
        run.expect(!rig.window->isVisible(), QStringLiteral("the window is still open"));
        if (lan && s.action != Action::Connect) // no wait outlives the close
            run.expect(run.endedAtMs >= 0 && run.endedAtMs - run.closedAtMs < 3000,
                       QStringLiteral("ended %1 ms after the close").arg(run.endedAtMs - run.closedAtMs));
    }
    if (s.commands != kDontCare) {
        // The USB poll cycle settles the commands shortly after a write.
        (void)QTest::qWaitFor([&] { return run.commandsNow() == s.commands; }, 3000);
        run.expect(run.commandsNow() == s.commands, QStringLiteral("usable: %1; expected: %2")
                                                        .arg(commandNames(run.commandsNow()), commandNames(s.commands)));
    }
    if (s.status) {
        (void)QTest::qWaitFor([&] { return rig.window->statusText() == *s.status; }, 3000);
        run.expect(rig.window->statusText() == *s.status,
                   QStringLiteral("status \"%1\"; expected \"%2\"").arg(rig.window->statusText(), *s.status));
    }

    // What the transceiver holds. A write is never reported done unless the
    // transceiver holds exactly the built image, every address acknowledged.
    const QByteArray held = run.simImage(s.channel);
    if (boxes.contains(kDone)) {
        run.expect(held == rig.builtImage(), QStringLiteral("reported done, but the transceiver holds another image"));
        run.expect(lan ? rig.lan.writesCompleted() == run.lanWritesBefore + 1 : rig.usb.writesCompleted() > run.usbWritesBefore,
                   QStringLiteral("reported done, but not every address was acknowledged"));
    }
    switch (s.image) {
    case Image::Built: run.expect(held == rig.builtImage(), QStringLiteral("the transceiver lacks the built image")); break;
    case Image::Before: run.expect(held == run.before, QStringLiteral("the transceiver's image changed")); break;
    case Image::Captured:
        run.expect(held == run.captured, QStringLiteral("the transceiver lacks the image built before")); break;
    case Image::Any: break;
    }
    const quint32 serial = serialOf(rig.lan.image());
    if (boxes.contains(readDone(serial))) {
        // The read shows what the transceiver holds.
        const QString mac = rig.find<QLineEdit>("EditMAC")->text();
        const QString count = rig.find<QWidget>("ObjCountLbl")->property("text").toString();
        run.expect(mac == QString::number(serial), QStringLiteral("EditMAC shows \"%1\"").arg(mac));
        run.expect(count == QStringLiteral("Количество объектов %1").arg(objectsIn(rig.lan.image())),
                   QStringLiteral("the read shows \"%1\"").arg(count));
    }
    // A LAN transaction ends once, whatever came twice or late.
    if (lan && s.action != Action::Connect)
        run.expect(run.ends == 1, QStringLiteral("the transaction ended %1 times").arg(run.ends));
    if (s.check)
        s.check(run);

    // The link still works.
    if (s.then != Then::Nothing) {
        rig.dialogs.clearRecords();
        rig.dialogs.whileOpen = nullptr;
        if (lan)
            QVERIFY(rig.lan.setFaults({}));
        else
            rig.usb.setFaults({});
        run.started = false;
        const bool read = s.then == Then::Read;
        const int endsBefore = run.ends;
        guarded(run,
                [&] {
                    run.started = true;
                    rig.action(read ? "ItemRead" : "ItemWr")->trigger();
                },
                [&] {
                    return lan ? run.ends > endsBefore
                               : rig.action("ItemLink")->isEnabled() && !rig.dialogs.messages.isEmpty();
                });
        QVERIFY2(!run.hung, qPrintable(QStringLiteral("hung in the transaction that follows; ") + run.problems.join(QStringLiteral("; "))));
        const QList<Shown> expected{read ? readDone(serialOf(rig.lan.image())) : kDone};
        run.expect(run.shown() == expected, QStringLiteral("afterwards: %1").arg(describe(run.shown())));
        if (!read)
            run.expect(run.simImage(s.channel) == rig.builtImage(), QStringLiteral("afterwards: the image was not written"));
    }
    QVERIFY2(run.problems.isEmpty(), qPrintable(run.problems.join(QStringLiteral("; "))));
}

QTEST_MAIN(FaultMatrixTest)
#include "tst_faultmatrix.moc"
