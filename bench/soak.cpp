// make soak: LAN write-and-read cycles and USB writes against the project's
// simulator, each under a fault drawn at random, with the seed printed so a
// run can be repeated. Every cycle must end either with the transceiver
// holding exactly the image the tool built and the tool saying so, or with a
// message the user sees; never in silence, a wrong claim, or a hang. It prints
// the count of each outcome and the growth of resident memory.
#include "app/MainWindow.h"
#include "link/Links.h"
#include "link/Texts.h"
#include "support/FakeLinkView.h"
#include "support/TestEnv.h"
#include "support/ToolRig.h"

#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QMap>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <functional>

using namespace tarvil;
using tarvil::test::runUntil;
using namespace tarvil::test;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

long residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

LinkTimings soakTimings()
{
    LinkTimings t = answeringTimings();
    t.waitAck = Millis(250);
    t.waitBlock = Millis(250);
    t.usbWriteTimeout = Millis(1500);
    return t;
}

struct NamedLan {
    const char *name;
    std::function<sim::LanFaults(QRandomGenerator &)> make;
};

struct NamedUsb {
    const char *name;
    std::function<sim::UsbFaults(QRandomGenerator &)> make;
};

const QList<NamedLan> &lanFaults()
{
    using sim::LanFaults;
    static const QList<NamedLan> list{
        {"none", [](QRandomGenerator &) { return LanFaults{}; }},
        {"first reply lost", [](QRandomGenerator &) { LanFaults f; f.dropFirst = 1; return f; }},
        {"every k-th reply lost", [](QRandomGenerator &g) { LanFaults f; f.dropEvery = 5 + int(g.bounded(40)); return f; }},
        {"replies late", [](QRandomGenerator &g) { LanFaults f; f.delay = Millis(1 + g.bounded(20)); return f; }},
        {"a read block twice", [](QRandomGenerator &g) { LanFaults f; f.duplicateReadBlock = int(g.bounded(60)); return f; }},
        {"a read block twice, altered", [](QRandomGenerator &g) {
             LanFaults f; f.duplicateReadBlock = int(g.bounded(60)); f.alterDuplicate = true; return f; }},
        {"replies from another host too", [](QRandomGenerator &) {
             LanFaults f; f.otherMode = sim::OtherAddressMode::Also; return f; }},
        {"the write refused", [](QRandomGenerator &) { LanFaults f; f.failWrite = true; return f; }},
        {"the read stops", [](QRandomGenerator &g) { LanFaults f; f.stopReadAfter = int(g.bounded(62)); return f; }},
        {"an early end, then the rest", [](QRandomGenerator &) {
             LanFaults f; f.earlyEnd = sim::EarlyEnd::ThenContinue; return f; }},
        {"a write block's OK lost", [](QRandomGenerator &g) {
             LanFaults f; f.dropReplies = {{sim::ReplySelector::Block, 1 + int(g.bounded(60)), 1}}; return f; }},
        {"the result lost every time", [](QRandomGenerator &) {
             LanFaults f; f.dropReplies = {{sim::ReplySelector::Result, -1, 0}}; return f; }},
    };
    return list;
}

const QList<NamedUsb> &usbFaults()
{
    using sim::UsbFaults;
    static const QList<NamedUsb> list{
        {"none", [](QRandomGenerator &) { return UsbFaults{}; }},
        {"packets refused at random", [](QRandomGenerator &g) {
             UsbFaults f; f.nakRate = 0.02; f.seed = g.generate(); return f; }},
        {"a packet's answer lost", [](QRandomGenerator &g) {
             UsbFaults f; f.dropReplies = {{sim::ReplySelector::Packet, 1 + int(g.bounded(14000)), 1}}; return f; }},
        {"memory failure", [](QRandomGenerator &g) { UsbFaults f; f.memoryFailureAt = int(g.bounded(14000)); return f; }},
        {"falls silent", [](QRandomGenerator &g) { UsbFaults f; f.stopAfter = int(g.bounded(14000)); return f; }},
    };
    return list;
}

bool hasText(const ScriptedDialogs &dialogs, const QString &text)
{
    for (const UserMessage &m : dialogs.messages)
        if (m.text == text)
            return true;
    return false;
}

// What the user was told; empty when nothing at all.
QString told(const ScriptedDialogs &dialogs)
{
    QStringList texts;
    for (const UserMessage &m : dialogs.messages)
        texts << m.text.trimmed();
    return texts.join(QStringLiteral(" / "));
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The window journals every write: into a folder of this run's own, never
    // into the user's data.
    QTemporaryDir journalData;
    qputenv("XDG_DATA_HOME", journalData.path().toLocal8Bit());
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Write-and-read cycles under random faults."));
    parser.addHelpOption();
    QCommandLineOption lanOpt(QStringLiteral("lan"), QStringLiteral("LAN write-and-read cycles."), QStringLiteral("n"),
                              QStringLiteral("200"));
    QCommandLineOption usbOpt(QStringLiteral("usb"), QStringLiteral("USB writes."), QStringLiteral("n"),
                              QStringLiteral("20"));
    QCommandLineOption seedOpt(QStringLiteral("seed"), QStringLiteral("Seed of the fault draw."), QStringLiteral("n"));
    parser.addOptions({lanOpt, usbOpt, seedOpt});
    parser.process(app);
    const int lanCycles = parser.value(lanOpt).toInt();
    const int usbCycles = parser.value(usbOpt).toInt();
    const quint32 seed = parser.isSet(seedOpt) ? parser.value(seedOpt).toUInt() : QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    std::printf("soak: %d LAN cycles, %d USB writes, seed %u\n", lanCycles, usbCycles, seed);

    ToolRig rig(soakTimings());
    if (!rig.connectLan()) {
        std::printf("FAILED: no LAN link to the simulator\n");
        return 1;
    }
    rig.typeSettings(validSettings());
    rig.addRows(sampleRows(kMaxObjects));
    const QString serial = validSettings().serial;
    const QString writeDone = texts::writeDone(serial).text;
    auto *apn = rig.find<QLineEdit>("EditAPN");

    QMap<QString, int> outcomes;
    QStringList violations;
    long rssStart = 0;

    // Runs one command to its end, as its finished() tells; the watchdog ends
    // a hang by confirming a close.
    const auto run = [&](const char *action) -> std::optional<Outcome> {
        std::optional<Outcome> outcome;
        Links &links = rig.window->links();
        const auto w = QObject::connect(&links.writer(), &WriteTransaction::finished,
                                        [&outcome](const WriteOutcome &o) { outcome = o; });
        const auto r = QObject::connect(&links.reader(), &ReadTransaction::finished,
                                        [&outcome](const Outcome &o) { outcome = o; });
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [&] {
            rig.dialogs.answers.enqueue(MsgAnswer::Yes);
            rig.window->close();
        });
        watchdog.start(120000);
        rig.action(action)->trigger();
        runUntil([&] { return outcome.has_value() || !watchdog.isActive(); }, 130000);
        QObject::disconnect(w);
        QObject::disconnect(r);
        if (!watchdog.isActive())
            return std::nullopt; // hung
        return outcome;
    };
    // A failure is told in the box the user saw; anything else is silence
    // or a claim the tool cannot make.
    const auto ending = [&](const Outcome &o, const QString &what, const QString &where) {
        if (o.result != Outcome::Result::Failed || o.message.isEmpty() || !hasText(rig.dialogs, o.message)) {
            violations << QStringLiteral("%1: the %2 ended without a box that says why").arg(where, what);
            return;
        }
        ++outcomes[QStringLiteral("%1 ended: ").arg(what) + told(rig.dialogs)];
    };

    for (int cycle = 0; cycle < lanCycles; ++cycle) {
        const NamedLan &fault = lanFaults().at(int(random.bounded(lanFaults().size())));
        rig.lan.setFaults(fault.make(random));
        rig.lan.clearLog(); // the simulator's record of the traffic is not the tool's memory
        // A different image every cycle.
        apn->setText(QStringLiteral("apn%1").arg(cycle));
        rig.dialogs.clearRecords();
        const QString where = QStringLiteral("cycle %1 (%2)").arg(cycle).arg(fault.name);
        const std::optional<Outcome> written = run("ItemWr");
        if (!written) {
            violations << where + QStringLiteral(": the write hung");
            break;
        }
        if (written->done()) {
            if (rig.lan.image() != rig.builtImage() || !hasText(rig.dialogs, writeDone))
                violations << where + QStringLiteral(": write reported done, transceiver differs");
            ++outcomes[QStringLiteral("LAN write done")];
        } else {
            ending(*written, QStringLiteral("LAN write"), where);
        }

        rig.dialogs.clearRecords();
        const QByteArray held = rig.lan.image();
        const std::optional<Outcome> read = run("ItemRead");
        if (!read) {
            violations << where + QStringLiteral(": the read hung");
            break;
        }
        if (read->done()) {
            if (rig.builtImage() != held)
                violations << where + QStringLiteral(": read reported done, image differs");
            ++outcomes[QStringLiteral("LAN read done")];
        } else {
            ending(*read, QStringLiteral("LAN read"), where);
        }
        // The read filled the window; the next cycle writes what it shows.
        rig.typeSettings(validSettings());
        if (cycle == 0)
            rssStart = residentKb();
    }
    rig.lan.setFaults({});

    if (usbCycles > 0 && !rig.connectUsb()) {
        violations << QStringLiteral("no USB link to the simulator");
    } else {
        for (int cycle = 0; cycle < usbCycles && violations.isEmpty(); ++cycle) {
            const NamedUsb &fault = usbFaults().at(int(random.bounded(usbFaults().size())));
            rig.usb.clearLog(); // packet numbers of the faults count from this write
            rig.usb.setFaults(fault.make(random));
            apn->setText(QStringLiteral("usb%1").arg(cycle));
            rig.dialogs.clearRecords();
            const QString where = QStringLiteral("USB %1 (%2)").arg(cycle).arg(fault.name);
            const std::optional<Outcome> written = run("ItemWr");
            if (!written) {
                violations << where + QStringLiteral(": the write never ended");
                break;
            }
            runUntil([] { return false; }, 50); // a box that follows another one
            if (written->done()) {
                if (rig.usb.image() != rig.builtImage() || !hasText(rig.dialogs, writeDone))
                    violations << where + QStringLiteral(": write reported done, transceiver differs");
                ++outcomes[QStringLiteral("USB write done")];
            } else {
                ending(*written, QStringLiteral("USB write"), where);
            }
            rig.usb.setFaults({});
            if (!runUntil([&] { return rig.window->links().usb().connected(); }, 10000)) {
                violations << QStringLiteral("USB %1 (%2): the link did not come back").arg(cycle).arg(fault.name);
                break;
            }
        }
    }

    if (!rig.dialogs.boxesInsideNotifications.isEmpty())
        violations << QStringLiteral("%1 boxes opened inside a notification").arg(rig.dialogs.boxesInsideNotifications.size());

    for (auto it = outcomes.cbegin(); it != outcomes.cend(); ++it)
        std::printf("%6d  %s\n", it.value(), qPrintable(it.key()));
    const long rssEnd = residentKb();
    const long growthKb = rssStart > 0 ? rssEnd - rssStart : 0;
    const bool rssOk = kSanitized || growthKb < 2048;
    std::printf("resident memory grew %ld KB after the first cycle (goal < 2048 KB%s)  %s\n", growthKb,
                kSanitized ? ", not held under the sanitizers" : "", rssOk ? "ok" : "MISSED");
    for (const QString &v : std::as_const(violations))
        std::printf("VIOLATION: %s\n", qPrintable(v));
    std::printf("seed %u: %s\n", seed, violations.isEmpty() && rssOk ? "passed" : "FAILED");
    return violations.isEmpty() && rssOk ? 0 : 1;
}
