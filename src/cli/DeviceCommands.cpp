// read, write, verify, ports and journal: the link engine through a console
// view instead of the window. The LAN dialogue and the USB stream are the
// window's own: the commands press the same handlers.
#include "cli/DeviceCommands.h"

#include "cli/ConsoleView.h"
#include "files/ConfigFile.h"
#include "files/ConfigReport.h"
#include "files/Configuration.h"
#include "files/Journal.h"
#include "link/Links.h"
#include "link/PortInfo.h"
#include "link/SerialPort.h"
#include "link/Texts.h"
#include "link/UsbPace.h"
#include "link/WriteTransaction.h"
#include "model/WriteChecks.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QTimer>

#include <atomic>
#include <cstring>
#include <csignal>
#include <cstdio>
#include <memory>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace tarvil::cli {

namespace {

std::atomic<bool> gInterrupted{false};

extern "C" void onInterrupt(int) { gInterrupted.store(true); }

bool stderrIsTerminal()
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(fileno(stderr)) != 0;
#endif
}

// The program's own event loop until `done` holds, the user interrupts, or
// `ms` pass: the link moves on from its signals meanwhile.
bool runUntil(const std::function<bool()> &done, int ms)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done() || gInterrupted.load())
            loop.quit();
    });
    check.start(10);
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

// One session with a transceiver: the link engine behind a console view.
// Ctrl+C ends it cleanly: every wait returns, the port closes.
class Device {
public:
    explicit Device(Context &c) : c_(c), view_(c.err(), stderrIsTerminal()), journal_(QStringLiteral("cli"))
    {
        LinkConfig config;
        config.timings = LinkTimings{}.scaled(c.timeoutScale);
        config.localPort = std::uint16_t(c.udpPort);
        config.remotePort = std::uint16_t(c.udpPort);
        links_ = std::make_unique<Links>(view_, view_, image_, config);
        links_->formShow();
        view_.progress = [this] {
            return links_->reader().state() == ReadTransaction::State::Reading ? links_->reader().progress()
                                                                                : links_->writer().progress();
        };
        QObject::connect(&links_->writer(), &WriteTransaction::finished, [this](const WriteOutcome &o) {
            written_ = o;
            if (o.result == WriteOutcome::Result::Refused)
                return; // nothing was sent
            if (o.image.size() == kImageSize)
                std::memcpy(sent_.data(), o.image.constData(), kImageSize);
            QString why;
            if (!journal_.append(o, &why))
                c_.err() << journalWarningText(why) << '\n' << Qt::flush;
        });
        QObject::connect(&links_->reader(), &ReadTransaction::finished, [this](const ReadOutcome &o) {
            read_ = o;
            QString why;
            if (!journal_.append(o, &why))
                c_.err() << journalWarningText(why) << '\n' << Qt::flush;
        });
        gInterrupted.store(false);
        std::signal(SIGINT, onInterrupt);
    }
    ~Device()
    {
        std::signal(SIGINT, SIG_DFL);
        view_.endProgress();
    }

    bool interrupted() const { return interrupted_; }
    ConsoleView &view() { return view_; }
    const ConfigImage &image() const { return image_; }
    // What the last write sent: the build, with the reserved bytes the image
    // held before it (a read's, after --backup).
    const ConfigImage &sent() const { return sent_; }

    // "LAN" with the address typed, until the transceiver answers or the
    // connect's countdown ends.
    bool connectLan(const QString &address)
    {
        view_.address = address;
        links_->LanClick();
        LanLink &lan = links_->lan();
        runUntil([&lan] { return lan.state() == lsIdle || !lan.connecting(); }, kForever);
        stopIfInterrupted();
        return !interrupted_ && lan.state() == lsIdle;
    }

    // A read over LAN into the image; false when it failed (its box said why).
    bool read()
    {
        read_.reset();
        links_->ItemReadClick();
        if (links_->reader().state() != ReadTransaction::State::Reading)
            return false;
        runUntil([this] { return read_.has_value(); }, kForever);
        stopIfInterrupted();
        view_.endProgress();
        return !interrupted_ && read_ && read_->done();
    }

    // The write of `config` over the link chosen; true when the transceiver
    // took all of it.
    bool write(const Configuration &config, bool usb, const QString &device)
    {
        view_.settings = config.settings;
        view_.rows = config.rows;
        if (usb) {
            view_.device = device;
            links_->USB1Click();
            if (!links_->usb().isOpen())
                return false;
            const bool up = runUntil([this] { return links_->usb().connected(); }, timeout(5000));
            stopIfInterrupted();
            if (interrupted_)
                return false;
            if (!up) {
                view_.message(texts::noAnswer(texts::kNoAnswer));
                return false;
            }
            // A few polls more, so that the adapter's answer time before
            // packet 0 is a median and not one answer; they follow each
            // other without pause.
            runUntil([this] { return links_->usb().answersTimed() >= kAnswersBeforeWrite || !links_->usb().connected(); },
                     timeout(1000));
            stopIfInterrupted();
            if (interrupted_)
                return false;
        }
        written_.reset();
        links_->WrBtnClick();
        runUntil([this] { return written_.has_value(); }, kForever);
        stopIfInterrupted();
        view_.endProgress();
        return !interrupted_ && written_ && written_->done();
    }

private:
    // A transfer's own time-outs end it; this only bounds a wait on nothing.
    static constexpr int kForever = 24 * 3600 * 1000;
    static constexpr int kAnswersBeforeWrite = 8;

    int timeout(int ms) const { return std::max(100, int(ms * c_.timeoutScale)); }
    // Ctrl+C ends every wait (runUntil); the transfer then ends here.
    void stopIfInterrupted()
    {
        if (gInterrupted.load() && !interrupted_) {
            interrupted_ = true;
            links_->shutdown();
        }
    }

    Context &c_;
    ConsoleView view_;
    ConfigImage image_;
    ConfigImage sent_;
    Journal journal_;
    std::unique_ptr<Links> links_;
    bool interrupted_ = false;
    std::optional<WriteOutcome> written_; // how the last write ended
    std::optional<Outcome> read_;         // how the last read ended
};

int interruptedStatus(Context &c, bool writing)
{
    c.err() << (writing ? QStringLiteral("Запись прервана.") : QStringLiteral("Прервано.")) << '\n' << Qt::flush;
    return NoAnswer;
}

// The transceiver's configuration, read over LAN, as the window would show it.
std::optional<Configuration> readOver(Context &c, Device &device)
{
    if (!device.connectLan(c.lan)) {
        if (device.interrupted())
            interruptedStatus(c, false);
        return std::nullopt;
    }
    if (!device.read()) {
        if (device.interrupted())
            interruptedStatus(c, false);
        return std::nullopt;
    }
    const PanelTypeCatalogue *catalogue = c.catalogue();
    if (!catalogue)
        return std::nullopt;
    return configurationFromImage(device.image(), *catalogue);
}

// Saved as the window's save would save what a read brought: the build keeps
// the reserved bytes the transceiver returned, as it does in the window.
bool saveAsWindow(Context &c, const Configuration &read, const QString &path)
{
    const BuiltConfig built = buildConfiguration(read.settings, read.rows, &read.image);
    if (built.refused) {
        c.refuse(path, built.refused->text);
        return false;
    }
    QString reason;
    if (!saveConfigFile(path, built.packets, &reason)) {
        c.refuse(path, texts::saveFailed(path, reason).text);
        return false;
    }
    return true;
}

std::optional<Configuration> openFile(Context &c, const QString &path)
{
    const PanelTypeCatalogue *catalogue = c.catalogue();
    if (!catalogue)
        return std::nullopt;
    OpenResult r = openConfigFile(path, *catalogue);
    if (r.status != LoadStatus::Ok) {
        c.refuse(path, r.reason.isEmpty() ? r.message.text
                                          : r.message.text + QStringLiteral(" (") + r.reason + QLatin1Char(')'));
        return std::nullopt;
    }
    return std::move(r.config);
}

// Every byte the write sent against what the transceiver holds.
int compare(Context &c, const ConfigImage &sent, const Configuration &held)
{
    static const PanelTypeCatalogue none;
    const PanelTypeCatalogue *catalogue = c.catalogue();
    const Configuration expected = configurationFromImage(sent, catalogue ? *catalogue : none);
    const ConfigDiff d = diffConfigurations(expected, held);
    if (c.json) {
        QJsonObject document = diffJson(d);
        document.insert(QStringLiteral("verified"), d.same());
        c.writeJson(document);
    } else if (d.same()) {
        c.out() << QStringLiteral("Трансивер хранит записанную конфигурацию.\n") << Qt::flush;
    } else {
        c.out() << diffText(d) << Qt::flush;
    }
    return d.same() ? Done : Differences;
}

} // namespace

int readCommand(Context &c)
{
    Device device(c);
    const auto config = readOver(c, device);
    if (!config)
        return device.interrupted() || !c.catalogue() ? (c.catalogue() ? NoAnswer : Refused) : NoAnswer;
    const QString path = c.output.isEmpty() ? config->settings.serial + QStringLiteral(".tvc") : c.output;
    if (!saveAsWindow(c, *config, path))
        return Refused;
    c.err() << QStringLiteral("Конфигурация сохранена в %1").arg(path) << '\n' << Qt::flush;
    if (c.json) {
        QJsonObject document = dumpJson(*config);
        document.insert(QStringLiteral("file"), path);
        c.writeJson(document);
    } else {
        c.out() << dumpText(*config) << Qt::flush;
    }
    return Done;
}

int writeCommand(Context &c)
{
    const bool usb = !c.usb.isEmpty();
    if (usb == !c.lan.isEmpty() && !(usb && c.verify))
        return c.refuse(QStringLiteral("write"), QStringLiteral("нужен ровно один из --lan и --usb"));
    if (usb && !c.backup.isEmpty())
        return c.refuse(QStringLiteral("--backup"), QStringLiteral("прежняя конфигурация читается только по ЛВС"));
    if (usb && c.verify && c.lan.isEmpty())
        return c.refuse(QStringLiteral("--verify"), QStringLiteral("после записи по USB нужен ещё --lan АДРЕС"));
    const auto config = openFile(c, c.args.at(0));
    if (!config)
        return Refused;
    // The write's checks, in their order, with their messages, before
    // anything reaches the transceiver.
    const BuiltConfig built = buildConfiguration(config->settings, config->rows);
    if (built.refused)
        return c.refuse(c.args.at(0), built.refused->text);

    Device device(c);
    if (!c.backup.isEmpty()) {
        const auto before = readOver(c, device);
        if (!before) {
            if (!device.interrupted())
                c.err() << QStringLiteral("Прежняя конфигурация не прочитана: ничего не записано.") << '\n'
                        << Qt::flush;
            return NoAnswer;
        }
        QDir().mkpath(c.backup);
        const QString path =
            QDir(c.backup).filePath(timedCopyName(before->settings.serial, QDateTime::currentDateTimeUtc()));
        if (!saveAsWindow(c, *before, path)) {
            c.err() << QStringLiteral("Прежняя конфигурация не сохранена: ничего не записано.") << '\n' << Qt::flush;
            return Refused;
        }
        c.err() << QStringLiteral("Прежняя конфигурация сохранена в %1").arg(path) << '\n' << Qt::flush;
    } else if (!usb && !device.connectLan(c.lan)) {
        return device.interrupted() ? interruptedStatus(c, false) : NoAnswer;
    }

    const bool written = device.write(*config, usb, c.usb);
    if (device.interrupted())
        return interruptedStatus(c, true);
    if (!written)
        return NoAnswer;
    if (!c.verify)
        return Done;

    // The configuration read back over LAN, byte for byte against what was sent.
    Device reader(c);
    const auto held = readOver(c, reader);
    if (!held)
        return NoAnswer;
    return compare(c, device.sent(), *held);
}

int verifyCommand(Context &c)
{
    const auto config = openFile(c, c.args.at(0));
    if (!config)
        return Refused;
    const BuiltConfig built = buildConfiguration(config->settings, config->rows);
    if (built.refused)
        return c.refuse(c.args.at(0), built.refused->text);
    Device device(c);
    const auto held = readOver(c, device);
    if (!held)
        return NoAnswer;
    return compare(c, built.image, *held);
}

int portsCommand(Context &c)
{
    const QList<PortDetails> ports = PortInfo().ports();
    QJsonArray list;
    bool denied = false;
    const auto hex = [](quint16 id) { return QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0')); };
    for (const PortDetails &p : ports) {
        const QFileInfo info(p.name);
        // Where the system names the device by a path, its rights say whether
        // this user may open it; a COM name is tried only by opening it.
        const bool access = !info.exists() || (info.isReadable() && info.isWritable());
        denied = denied || !access;
        // Listed, the port is not opened: the advice says what opening it does.
        const QString advice = texts::latencyAdvice(p, hostSystem(), LowLatency::NotOpen);
        if (c.json) {
            const auto orNull = [](const QString &s) { return s.isEmpty() ? QJsonValue() : QJsonValue(s); };
            list.append(QJsonObject{
                {QStringLiteral("name"), p.name},
                {QStringLiteral("description"), p.description},
                {QStringLiteral("access"), access},
                {QStringLiteral("vendorId"), p.vendorId ? QJsonValue(hex(*p.vendorId)) : QJsonValue()},
                {QStringLiteral("productId"), p.productId ? QJsonValue(hex(*p.productId)) : QJsonValue()},
                {QStringLiteral("driver"), orNull(p.driver)},
                {QStringLiteral("latencyTimerMs"), p.latencyTimerMs ? QJsonValue(*p.latencyTimerMs) : QJsonValue()},
                {QStringLiteral("advice"), orNull(advice)}});
            continue;
        }
        c.out() << p.name << (p.description.isEmpty() ? QString() : QStringLiteral("  ") + p.description)
                << (access ? QStringLiteral("  (доступен)") : QStringLiteral("  (нет прав доступа)")) << '\n';
        QStringList facts;
        if (p.vendorId)
            facts << QStringLiteral("USB %1:%2").arg(hex(*p.vendorId), p.productId ? hex(*p.productId) : QStringLiteral("?"));
        if (!p.driver.isEmpty())
            facts << QStringLiteral("драйвер %1").arg(p.driver);
        if (p.latencyTimerMs)
            facts << QStringLiteral("таймер задержки %1 мс").arg(*p.latencyTimerMs);
        if (!facts.isEmpty())
            c.out() << QStringLiteral("    ") << facts.join(QStringLiteral(", ")) << '\n';
        if (!advice.isEmpty())
            c.out() << QStringLiteral("    ") << advice << '\n';
    }
    if (c.json) {
        c.writeJson(QJsonObject{{QStringLiteral("ports"), list}});
    } else {
        if (ports.isEmpty())
            c.out() << QStringLiteral("Последовательных портов не найдено.\n");
        c.out() << Qt::flush;
    }
#ifndef Q_OS_WIN
    if (denied)
        c.err() << QStringLiteral("Чтобы открыть порт без прав root, добавьте пользователя в группу dialout: "
                                  "sudo usermod -a -G dialout $USER, затем войдите в систему заново.")
                << '\n' << Qt::flush;
#endif
    return Done;
}

int journalCommand(Context &c)
{
    const Journal journal(QStringLiteral("cli"));
    const QList<JournalEntry> entries = journal.entries(c.serial);
    if (c.json) {
        QJsonArray list;
        for (const JournalEntry &e : entries)
            list.append(e.toJson());
        c.writeJson(QJsonObject{{QStringLiteral("journal"), journal.filePath()}, {QStringLiteral("entries"), list}});
        return Done;
    }
    if (entries.isEmpty())
        c.out() << QStringLiteral("Журнал записей пуст (%1).\n").arg(journal.filePath());
    for (const JournalEntry &e : entries) {
        c.out() << e.time.toString(Qt::ISODate) << "  " << e.program << (e.isRead() ? "  read " : "  ") << e.link
                << ' ' << e.target
                << QStringLiteral("  № ") << e.serial << "  " << e.result;
        if (!e.message.isEmpty())
            c.out() << " (" << e.message.trimmed() << ')';
        c.out() << "\n    sha256 " << (e.sha256.isEmpty() ? QStringLiteral("-") : e.sha256)
                << (e.copy.isEmpty() ? QString() : QStringLiteral("  копия ") + e.copy) << '\n';
        if (e.answerMs && e.durationMs)
            c.out() << QStringLiteral("    адаптер USB: ответ за %1 мс на пакет, запись шла %2 с\n")
                           .arg(QString::number(*e.answerMs, 'f', 1).replace(QLatin1Char('.'), QLatin1Char(',')))
                           .arg(QString::number(double(*e.durationMs) / 1000.0, 'f', 1).replace(QLatin1Char('.'), QLatin1Char(',')));
    }
    c.out() << Qt::flush;
    return Done;
}

} // namespace tarvil::cli
