// make bench: the tool's LAN write, LAN read and USB write against the
// project's simulator, each beside a baseline measured in the same run (a
// minimal client doing the same exchanges), the build, save and load times,
// and the CPU the tool spends while it waits.
#include "app/Dialogs.h"
#include "app/MainWindow.h"
#include "app/ObjectPanel.h"
#include "files/ConfigFile.h"
#include "link/Links.h"
#include "model/ObjectTable.h"
#include "support/FakeLinkView.h"
#include "support/TestEnv.h"
#include "support/ToolRig.h"

#include "LanSimulator.h"
#include "MinimalClient.h"
#include "SampleImage.h"
#include "UsbSimulator.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

using namespace tarvil;
using tarvil::test::runUntil;

namespace {

constexpr quint16 kPort = 29311; // below the ephemeral range
const QHostAddress kSimAddress(QStringLiteral("127.0.0.2"));

// Answers every box with OK or Yes and the prompts from a queue.
class AutoDialogs : public Dialogs {
public:
    QStringList texts;
    QString port;
    int messages = 0;
    MsgAnswer message(const UserMessage &m) override
    {
        ++messages;
        return m.buttons == MsgButtons::YesNo ? MsgAnswer::Yes : MsgAnswer::Ok;
    }
    std::optional<QString> inputText(const QString &, const QString &, const QString &) override
    {
        if (texts.isEmpty())
            return std::nullopt;
        return texts.takeFirst();
    }
    std::optional<QString> openFileName(const FileDialogRequest &) override { return std::nullopt; }
    std::optional<QString> saveFileName(const FileDialogRequest &) override { return std::nullopt; }
    std::optional<QString> choosePort(const PortChoiceRequest &) override { return port; }
};

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct Window {
    AutoDialogs dialogs;
    std::unique_ptr<TA_Form> form;
    Window()
    {
        LinkConfig config;
        config.localPort = kPort;
        config.remotePort = kPort;
        form = std::make_unique<TA_Form>(&dialogs, config);
        form->show();
        form->applyCommonSettings(test::validSettings());
        test::storeRows(form->objectPanel().table(), test::sampleRows(kMaxObjects));
    }
    QAction *action(const char *name) { return form->findChild<QAction *>(QString::fromLatin1(name)); }
    bool connectLan()
    {
        dialogs.texts << kSimAddress.toString();
        action("Lan")->trigger();
        runUntil([this] { return !form->links().lan().connecting(); }, 60000);
        return form->links().lan().state() == lsIdle;
    }
    // A command, run to the end its transaction reports: the loop ends on
    // the transaction's finished(), so the measure holds no polling.
    void runToEnd(const char *name)
    {
        QEventLoop loop;
        bool ended = false;
        Links &links = form->links();
        const auto end = [&] {
            ended = true;
            loop.quit();
        };
        const auto w = QObject::connect(&links.writer(), &WriteTransaction::finished, &loop, end);
        const auto r = QObject::connect(&links.reader(), &ReadTransaction::finished, &loop, end);
        QTimer::singleShot(120000, &loop, &QEventLoop::quit);
        action(name)->trigger();
        if (!ended)
            loop.exec();
        QObject::disconnect(w);
        QObject::disconnect(r);
    }
};

bool failed = false;

void report(const char *what, double tool, double baseline, double goal)
{
    const double ratio = baseline > 0 ? tool / baseline : 0;
    const bool ok = ratio <= goal;
    failed = failed || !ok;
    std::printf("%-12s tool %9.1f ms   baseline %9.1f ms   ratio %5.3f   (goal <= %.2f)  %s\n", what, tool, baseline,
                ratio, goal, ok ? "ok" : "MISSED");
}

void reportTime(const char *what, double ms, double goal)
{
    const bool ok = ms < goal;
    failed = failed || !ok;
    std::printf("%-28s %8.3f ms   (goal < %.0f ms)  %s\n", what, ms, goal, ok ? "ok" : "MISSED");
}

void reportCpu(const char *what, double share)
{
    const bool ok = share < 0.01;
    failed = failed || !ok;
    std::printf("%-40s %6.2f %% of a core   (goal < 1 %%)  %s\n", what, share * 100, ok ? "ok" : "MISSED");
}

void benchLan(int runs)
{
    sim::LanSimulator simulator;
    if (!simulator.start(kSimAddress, kPort)) {
        std::printf("LAN: the simulator could not bind %s:%d\n", qPrintable(kSimAddress.toString()), kPort);
        failed = true;
        return;
    }
    simulator.setLogging(false);
    Window window;
    if (!window.connectLan()) {
        std::printf("LAN: no connection to the simulator\n");
        failed = true;
        return;
    }
    sim::MinimalClient client(kSimAddress, kPort);
    std::vector<double> toolWrite, baseWrite, toolRead, baseRead;
    const QByteArray image = sim::sampleImage();
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        window.runToEnd("ItemWr");
        toolWrite.push_back(t.nsecsElapsed() / 1e6);
        const auto b = client.lanWrite(image);
        baseWrite.push_back(b.elapsed.count() / 1e6);

        t.start();
        window.runToEnd("ItemRead");
        toolRead.push_back(t.nsecsElapsed() / 1e6);
        const auto r = client.lanRead();
        baseRead.push_back(r.elapsed.count() / 1e6);
        if (!b.ok || !r.ok)
            std::printf("baseline failed: %s %s\n", qPrintable(b.error), qPrintable(r.error));
    }
    report("LAN write", median(toolWrite), median(baseWrite), 2.0);
    report("LAN read", median(toolRead), median(baseRead), 2.0);

    // Connected and idle: only the keep-alive runs.
    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    {
        QEventLoop idle;
        QTimer::singleShot(3000, &idle, &QEventLoop::quit);
        idle.exec();
    }
    reportCpu("LAN connected and idle", (cpuSeconds() - cpu0) / (wall.nsecsElapsed() / 1e9));

    // A write waiting for a transceiver that has fallen silent.
    sim::LanFaults silent;
    silent.silent = true;
    simulator.setFaults(silent);
    double share = 0;
    QTimer::singleShot(0, [&] {
        const double c0 = cpuSeconds();
        QElapsedTimer w;
        w.start();
        QTimer::singleShot(3000, [&, c0, w] {
            share = (cpuSeconds() - c0) / (w.nsecsElapsed() / 1e9);
            window.form->links().shutdown(); // ends the wait
        });
    });
    window.runToEnd("ItemWr");
    reportCpu("LAN write waiting for a silent transceiver", share);
}

// The tool's USB write beside the minimal client's, against simulators of
// the same kind, `latency` standing for the USB bridge's timer (0: a bare
// pseudo-terminal). Each has a pseudo-terminal of its own and they take turns,
// so that both meet the machine as it is at that moment.
// With `predict`, the time the tool foretold before packet 0 is compared with
// the time the write took.
void benchUsbWrite(const char *what, int runs, std::chrono::milliseconds latency, double goal, bool predict)
{
    sim::UsbSimulator forTool;
    sim::UsbSimulator forClient;
    if (!forTool.open() || !forClient.open()) {
        std::printf("USB: no pseudo-terminal: %s\n", qPrintable(forTool.errorString() + forClient.errorString()));
        failed = true;
        return;
    }
    forTool.setRecordFrames(false);
    forClient.setRecordFrames(false);
    sim::UsbFaults answering;
    answering.latency = latency;
    forClient.setFaults(answering);
    forTool.setFaults(answering);

    Window window;
    UsbLink &usb = window.form->links().usb();
    window.dialogs.port = forTool.devicePath();
    window.action("USB1")->trigger();
    if (!runUntil([&] { return usb.connected(); }, 5000)) {
        std::printf("USB: the simulator does not answer\n");
        failed = true;
        return;
    }
    double predicted = 0;
    QObject::connect(&usb, &UsbLink::streamStarting, &usb, [&](int frames) {
        const auto answer = usb.answerTime();
        predicted = answer ? double(UsbPace{*answer, frames, {}}.left().count()) : 0;
    });

    const QByteArray image = sim::sampleImage();
    sim::MinimalClient client(kSimAddress, kPort);
    client.setTimeLimit(std::chrono::minutes(2));
    std::vector<double> baseline, tool, misses;
    for (int i = 0; i < runs; ++i) {
        // The tool lets its port go, as when "LAN" is chosen, so that its
        // polls take nothing from the client's turn.
        usb.releasePort();
        const auto r = client.usbWrite(forClient.devicePath(), image);
        if (!r.ok)
            std::printf("baseline failed: %s\n", qPrintable(r.error));
        baseline.push_back(r.elapsed.count() / 1e6);

        // "USB" again, and a few answers timed: what the tool knows before a write.
        window.action("USB1")->trigger();
        runUntil([&] { return usb.connected() && usb.answersTimed() >= 8; }, 5000);
        const int before = window.dialogs.messages;
        predicted = 0;
        QElapsedTimer t;
        t.start();
        window.runToEnd("ItemWr");
        runUntil([&] { return window.dialogs.messages > before; }, 120000);
        tool.push_back(t.nsecsElapsed() / 1e6);
        misses.push_back(std::abs(predicted - tool.back()) / tool.back());
    }
    report(what, median(tool), median(baseline), goal);
    if (predict) {
        const double miss = median(misses);
        const bool ok = miss <= 0.10;
        failed = failed || !ok;
        std::printf("%-40s %6.1f %% off   (goal <= 10 %%)  %s\n", "USB time foretold before packet 0", miss * 100,
                    ok ? "ok" : "MISSED");
    }
}

// A transceiver that falls silent is polled every 5 ticks (275 ms), so that
// its return is seen within about a quarter of a second.
void benchUsbSilent()
{
    sim::UsbSimulator simulator;
    if (!simulator.open()) {
        std::printf("USB: no pseudo-terminal: %s\n", qPrintable(simulator.errorString()));
        failed = true;
        return;
    }
    simulator.setRecordFrames(false);
    Window window;
    window.dialogs.port = simulator.devicePath();
    window.action("USB1")->trigger();
    runUntil([&] { return window.form->links().usb().connected(); }, 5000);
    sim::UsbFaults silent;
    silent.silent = true;
    simulator.setFaults(silent);
    runUntil([&] { return !window.form->links().usb().connected(); }, 5000);
    const int polls0 = simulator.polls();
    QElapsedTimer wall;
    wall.start();
    runUntil([] { return false; }, 3000);
    const double rate = (simulator.polls() - polls0) / (wall.nsecsElapsed() / 1e9);
    const bool ok = rate >= 3.0;
    failed = failed || !ok;
    std::printf("%-40s %6.2f a second   (goal >= 3.0)  %s\n", "USB polls to a silent transceiver", rate,
                ok ? "ok" : "MISSED");
}

void benchFiles()
{
    ConfigImage image;
    const QList<ObjectRow> table = test::sampleRows(kMaxObjects);
    PacketList packets;
    QElapsedTimer t;
    std::vector<double> build, save, load;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.tvc"));
    for (int i = 0; i < 30; ++i) {
        t.start();
        image.build(test::validSettings(), table);
        packets.buildFrom(image);
        build.push_back(t.nsecsElapsed() / 1e6);
        t.start();
        saveConfigFile(path, packets, nullptr);
        save.push_back(t.nsecsElapsed() / 1e6);
        t.start();
        const LoadResult r = loadConfigFile(path);
        load.push_back(t.nsecsElapsed() / 1e6);
        if (r.status != LoadStatus::Ok)
            failed = true;
    }
    reportTime("build image and packets", median(build), 10);
    reportTime("save a configuration file", median(save), 10);
    reportTime("load a configuration file", median(load), 10);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QTemporaryDir folder;
    QDir::setCurrent(folder.path());
    // The window journals every write: into a folder of this run's own, never
    // into the user's data.
    QTemporaryDir journalData;
    qputenv("XDG_DATA_HOME", journalData.path().toLocal8Bit());
    const int runs = 15;
    std::printf("Medians of %d runs; the baseline is a minimal client doing the same exchanges.\n", runs);
    // TARVIL_BENCH_ONLY=files|lan|usb|usb2ms runs one part (for profiling).
    const QString only = qEnvironmentVariable("TARVIL_BENCH_ONLY");
    if (only.isEmpty() || only == QLatin1String("files"))
        benchFiles();
    if (only.isEmpty() || only == QLatin1String("lan"))
        benchLan(runs);
    if (only.isEmpty() || only == QLatin1String("usb")) {
        benchUsbWrite("USB write", runs, std::chrono::milliseconds(0), 1.1, false);
        benchUsbSilent();
    }
    // About half a minute a write: three of each.
    if (only.isEmpty() || only == QLatin1String("usb2ms"))
        benchUsbWrite("USB at 2 ms", 3, std::chrono::milliseconds(2), 1.02, true);
    std::printf(failed ? "Some goals were missed.\n" : "All goals met.\n");
    return failed ? 1 : 0;
}
