#include "SimControl.h"

#include "LanSimulator.h"
#include "UsbSimulator.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>

#include <algorithm>
#include <memory>

#ifndef Q_OS_WIN
#include <QTcpServer>
#include <QTcpSocket>
#endif

namespace tarvil::sim {

namespace {

QJsonArray selectorsToJson(const QList<ReplySelector> &selectors)
{
    QJsonArray out;
    for (const ReplySelector &s : selectors)
        out.append(s.toString());
    return out;
}

QList<ReplySelector> selectorsFromJson(const QJsonValue &value)
{
    QList<ReplySelector> out;
    for (const auto &v : value.toArray()) {
        if (const auto s = ReplySelector::parse(v.toString()))
            out.append(*s);
    }
    return out;
}

QString bytesToJson(const QByteArray &bytes) { return QString::fromLatin1(bytes.toBase64()); }
QByteArray bytesFromJson(const QJsonValue &value) { return QByteArray::fromBase64(value.toString().toLatin1()); }

std::chrono::milliseconds millis(const QJsonValue &value, std::chrono::milliseconds fallback)
{
    return value.isDouble() ? std::chrono::milliseconds(value.toInteger()) : fallback;
}

} // namespace

QJsonObject lanFaultsToJson(const LanFaults &f)
{
    QJsonArray extras;
    for (const LanExtra &e : f.extras) {
        extras.append(QJsonObject{{QStringLiteral("at"), e.at.toString()},
                                  {QStringLiteral("data"), bytesToJson(e.data)},
                                  {QStringLiteral("before"), e.before},
                                  {QStringLiteral("gap"), qint64(e.gap.count())},
                                  {QStringLiteral("fromOther"), e.fromOther}});
    }
    return QJsonObject{
        {QStringLiteral("silent"), f.silent},
        {QStringLiteral("dropFirst"), f.dropFirst},
        {QStringLiteral("dropEvery"), f.dropEvery},
        {QStringLiteral("dropReplies"), selectorsToJson(f.dropReplies)},
        {QStringLiteral("delay"), qint64(f.delay.count())},
        {QStringLiteral("duplicateReadBlock"), f.duplicateReadBlock},
        {QStringLiteral("alterDuplicate"), f.alterDuplicate},
        {QStringLiteral("earlyEnd"), int(f.earlyEnd)},
        {QStringLiteral("otherMode"), int(f.otherMode)},
        {QStringLiteral("otherAddress"), f.otherAddress.toString()},
        {QStringLiteral("failWrite"), f.failWrite},
        {QStringLiteral("stopReadAfter"), f.stopReadAfter},
        {QStringLiteral("duplicateReplies"), selectorsToJson(f.duplicateReplies)},
        {QStringLiteral("duplicateGap"), qint64(f.duplicateGap.count())},
        {QStringLiteral("extras"), extras},
        {QStringLiteral("oversizeBefore"), selectorsToJson(f.oversizeBefore)},
        {QStringLiteral("oversizeBytes"), f.oversizeBytes},
        {QStringLiteral("lostRequests"), selectorsToJson(f.lostRequests)},
        {QStringLiteral("lateReplies"), selectorsToJson(f.lateReplies)},
        {QStringLiteral("lateBy"), qint64(f.lateBy.count())},
    };
}

LanFaults lanFaultsFromJson(const QJsonObject &j)
{
    LanFaults f;
    f.silent = j.value(QStringLiteral("silent")).toBool();
    f.dropFirst = j.value(QStringLiteral("dropFirst")).toInt();
    f.dropEvery = j.value(QStringLiteral("dropEvery")).toInt();
    f.dropReplies = selectorsFromJson(j.value(QStringLiteral("dropReplies")));
    f.delay = millis(j.value(QStringLiteral("delay")), f.delay);
    f.duplicateReadBlock = j.value(QStringLiteral("duplicateReadBlock")).toInt(-1);
    f.alterDuplicate = j.value(QStringLiteral("alterDuplicate")).toBool();
    f.earlyEnd = EarlyEnd(j.value(QStringLiteral("earlyEnd")).toInt());
    f.otherMode = OtherAddressMode(j.value(QStringLiteral("otherMode")).toInt());
    if (j.contains(QStringLiteral("otherAddress")))
        f.otherAddress = QHostAddress(j.value(QStringLiteral("otherAddress")).toString());
    f.failWrite = j.value(QStringLiteral("failWrite")).toBool();
    f.stopReadAfter = j.value(QStringLiteral("stopReadAfter")).toInt(-1);
    f.duplicateReplies = selectorsFromJson(j.value(QStringLiteral("duplicateReplies")));
    f.duplicateGap = millis(j.value(QStringLiteral("duplicateGap")), f.duplicateGap);
    for (const auto &v : j.value(QStringLiteral("extras")).toArray()) {
        const QJsonObject e = v.toObject();
        LanExtra extra;
        if (const auto at = ReplySelector::parse(e.value(QStringLiteral("at")).toString()))
            extra.at = *at;
        extra.data = bytesFromJson(e.value(QStringLiteral("data")));
        extra.before = e.value(QStringLiteral("before")).toBool();
        extra.gap = millis(e.value(QStringLiteral("gap")), extra.gap);
        extra.fromOther = e.value(QStringLiteral("fromOther")).toBool();
        f.extras.append(extra);
    }
    f.oversizeBefore = selectorsFromJson(j.value(QStringLiteral("oversizeBefore")));
    f.oversizeBytes = j.value(QStringLiteral("oversizeBytes")).toInt(f.oversizeBytes);
    f.lostRequests = selectorsFromJson(j.value(QStringLiteral("lostRequests")));
    f.lateReplies = selectorsFromJson(j.value(QStringLiteral("lateReplies")));
    f.lateBy = millis(j.value(QStringLiteral("lateBy")), f.lateBy);
    return f;
}

QJsonObject usbFaultsToJson(const UsbFaults &f)
{
    QJsonArray naks;
    QList<int> sorted = f.nakPackets.values();
    std::sort(sorted.begin(), sorted.end());
    for (int n : sorted)
        naks.append(n);
    QJsonArray answers;
    for (const UsbFaults::Answer &a : f.answers)
        answers.append(QJsonObject{{QStringLiteral("at"), a.at.toString()}, {QStringLiteral("byte"), int(a.byte)}});
    return QJsonObject{
        {QStringLiteral("silent"), f.silent},
        {QStringLiteral("dropFirst"), f.dropFirst},
        {QStringLiteral("dropEvery"), f.dropEvery},
        {QStringLiteral("dropReplies"), selectorsToJson(f.dropReplies)},
        {QStringLiteral("delay"), qint64(f.delay.count())},
        {QStringLiteral("nakPackets"), naks},
        {QStringLiteral("nakRate"), f.nakRate},
        {QStringLiteral("seed"), qint64(f.seed)},
        {QStringLiteral("memoryFailureAt"), f.memoryFailureAt},
        {QStringLiteral("fatalAt"), f.fatalAt},
        {QStringLiteral("stopAfter"), f.stopAfter},
        {QStringLiteral("closeAfter"), f.closeAfter},
        {QStringLiteral("pace"), qint64(f.pace.count())},
        {QStringLiteral("pacedReplies"), f.pacedReplies},
        {QStringLiteral("stallReplies"), selectorsToJson(f.stallReplies)},
        {QStringLiteral("stallFor"), qint64(f.stallFor.count())},
        {QStringLiteral("answers"), answers},
        {QStringLiteral("nakTimes"), f.nakTimes},
        {QStringLiteral("nakFrom"), f.nakFrom},
        {QStringLiteral("nakTo"), f.nakTo},
        {QStringLiteral("latency"), qint64(f.latency.count())},
    };
}

UsbFaults usbFaultsFromJson(const QJsonObject &j)
{
    UsbFaults f;
    f.silent = j.value(QStringLiteral("silent")).toBool();
    f.dropFirst = j.value(QStringLiteral("dropFirst")).toInt();
    f.dropEvery = j.value(QStringLiteral("dropEvery")).toInt();
    f.dropReplies = selectorsFromJson(j.value(QStringLiteral("dropReplies")));
    f.delay = millis(j.value(QStringLiteral("delay")), f.delay);
    for (const auto &v : j.value(QStringLiteral("nakPackets")).toArray())
        f.nakPackets.insert(v.toInt());
    f.nakRate = j.value(QStringLiteral("nakRate")).toDouble();
    f.seed = quint32(j.value(QStringLiteral("seed")).toInteger(f.seed));
    f.memoryFailureAt = j.value(QStringLiteral("memoryFailureAt")).toInt(-1);
    f.fatalAt = j.value(QStringLiteral("fatalAt")).toInt(-1);
    f.stopAfter = j.value(QStringLiteral("stopAfter")).toInt(-1);
    f.closeAfter = j.value(QStringLiteral("closeAfter")).toInt(-1);
    f.pace = millis(j.value(QStringLiteral("pace")), f.pace);
    f.pacedReplies = j.value(QStringLiteral("pacedReplies")).toInt();
    f.stallReplies = selectorsFromJson(j.value(QStringLiteral("stallReplies")));
    f.stallFor = millis(j.value(QStringLiteral("stallFor")), f.stallFor);
    for (const auto &v : j.value(QStringLiteral("answers")).toArray()) {
        const QJsonObject a = v.toObject();
        if (const auto at = ReplySelector::parse(a.value(QStringLiteral("at")).toString()))
            f.answers.append({*at, std::uint8_t(a.value(QStringLiteral("byte")).toInt())});
    }
    f.nakTimes = j.value(QStringLiteral("nakTimes")).toInt();
    f.nakFrom = j.value(QStringLiteral("nakFrom")).toInt();
    f.nakTo = j.value(QStringLiteral("nakTo")).toInt(-1);
    f.latency = millis(j.value(QStringLiteral("latency")), f.latency);
    return f;
}

QJsonObject usbFrameToJson(const UsbFrame &f)
{
    return QJsonObject{{QStringLiteral("kind"), int(f.kind)},
                       {QStringLiteral("address"), int(f.address)},
                       {QStringLiteral("data"), int(f.data)},
                       {QStringLiteral("index"), f.index},
                       {QStringLiteral("reply"), f.reply},
                       {QStringLiteral("replyLost"), f.replyLost},
                       {QStringLiteral("held"), f.held},
                       {QStringLiteral("stored"), f.stored},
                       {QStringLiteral("elapsedNs"), f.elapsedNs}};
}

UsbFrame usbFrameFromJson(const QJsonObject &j)
{
    UsbFrame f;
    f.kind = FrameKind(j.value(QStringLiteral("kind")).toInt());
    f.address = std::uint16_t(j.value(QStringLiteral("address")).toInt());
    f.data = std::uint8_t(j.value(QStringLiteral("data")).toInt());
    f.index = j.value(QStringLiteral("index")).toInt(-1);
    f.reply = j.value(QStringLiteral("reply")).toInt(-1);
    f.replyLost = j.value(QStringLiteral("replyLost")).toBool();
    f.held = j.value(QStringLiteral("held")).toBool();
    f.stored = j.value(QStringLiteral("stored")).toBool();
    f.elapsedNs = j.value(QStringLiteral("elapsedNs")).toInteger();
    return f;
}

QJsonObject datagramToJson(const LanDatagram &d)
{
    return QJsonObject{{QStringLiteral("data"), bytesToJson(d.data)},
                       {QStringLiteral("address"), d.address.toString()},
                       {QStringLiteral("port"), int(d.port)},
                       {QStringLiteral("elapsedNs"), d.elapsedNs},
                       {QStringLiteral("kind"), int(d.kind)},
                       {QStringLiteral("number"), d.number},
                       {QStringLiteral("unheard"), d.unheard}};
}

LanDatagram datagramFromJson(const QJsonObject &j)
{
    LanDatagram d;
    d.data = bytesFromJson(j.value(QStringLiteral("data")));
    d.address = QHostAddress(j.value(QStringLiteral("address")).toString());
    d.port = quint16(j.value(QStringLiteral("port")).toInt());
    d.elapsedNs = j.value(QStringLiteral("elapsedNs")).toInteger();
    d.kind = Request(j.value(QStringLiteral("kind")).toInt());
    d.number = j.value(QStringLiteral("number")).toInt(-1);
    d.unheard = j.value(QStringLiteral("unheard")).toBool();
    return d;
}

#ifndef Q_OS_WIN

namespace {

// The USB side: a pseudo-terminal of its own, reachable also through
// `link` when the command names one (a symbolic link made there, such as a
// Wine prefix's dosdevices/com12, so that a Windows program opens it as COM12).
QJsonObject answerUsb(UsbSimulator &usb, const QString &cmd, const QJsonObject &command, QString *link)
{
    const auto result = [&usb](bool ok) {
        return QJsonObject{{QStringLiteral("ok"), ok}, {QStringLiteral("error"), usb.errorString()}};
    };
    if (cmd == QLatin1String("openUsb")) {
        if (!usb.open())
            return result(false);
        if (!link->isEmpty())
            QFile::remove(*link);
        *link = command.value(QStringLiteral("link")).toString();
        if (!link->isEmpty()) {
            QFile::remove(*link);
            if (!QFile::link(usb.devicePath(), *link))
                return QJsonObject{{QStringLiteral("ok"), false},
                                   {QStringLiteral("error"), QStringLiteral("cannot make %1").arg(*link)}};
        }
        QJsonObject r = result(true);
        r.insert(QStringLiteral("path"), usb.devicePath());
        return r;
    }
    if (cmd == QLatin1String("closeUsb")) {
        usb.close();
        return result(true);
    }
    if (cmd == QLatin1String("setUsbFaults")) {
        usb.setFaults(usbFaultsFromJson(command.value(QStringLiteral("faults")).toObject()));
        return result(true);
    }
    if (cmd == QLatin1String("setUsbImage"))
        return result(usb.setImage(bytesFromJson(command.value(QStringLiteral("image")))));
    if (cmd == QLatin1String("clearUsbLog")) {
        usb.clearLog();
        return result(true);
    }
    if (cmd == QLatin1String("usbPacketsAt"))
        return QJsonObject{{QStringLiteral("ok"), true},
                           {QStringLiteral("count"), usb.packetsAt(command.value(QStringLiteral("address")).toInt())}};
    if (cmd == QLatin1String("usbState")) {
        return QJsonObject{{QStringLiteral("ok"), true},
                           {QStringLiteral("open"), usb.isOpen()},
                           {QStringLiteral("image"), bytesToJson(usb.image())},
                           {QStringLiteral("polls"), usb.polls()},
                           {QStringLiteral("dataPackets"), usb.dataPackets()},
                           {QStringLiteral("discardedBytes"), usb.discardedBytes()},
                           {QStringLiteral("writesCompleted"), usb.writesCompleted()}};
    }
    return QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("error"), QStringLiteral("unknown command")}};
}

QJsonObject answer(LanSimulator &sim, UsbSimulator &usb, const QJsonObject &command, QString *link)
{
    const QString cmd = command.value(QStringLiteral("cmd")).toString();
    if (cmd.contains(QLatin1String("usb"), Qt::CaseInsensitive))
        return answerUsb(usb, cmd, command, link);
    const auto result = [&sim](bool ok) {
        return QJsonObject{{QStringLiteral("ok"), ok}, {QStringLiteral("error"), sim.errorString()}};
    };
    if (cmd == QLatin1String("start")) {
        return result(sim.start(QHostAddress(command.value(QStringLiteral("address")).toString()),
                                quint16(command.value(QStringLiteral("port")).toInt())));
    }
    if (cmd == QLatin1String("stop")) {
        sim.stop();
        return result(true);
    }
    if (cmd == QLatin1String("setFaults"))
        return result(sim.setFaults(lanFaultsFromJson(command.value(QStringLiteral("faults")).toObject())));
    if (cmd == QLatin1String("setImage"))
        return result(sim.setImage(bytesFromJson(command.value(QStringLiteral("image")))));
    if (cmd == QLatin1String("setImageByte")) {
        sim.setImageByte(command.value(QStringLiteral("address")).toInt(),
                         std::uint8_t(command.value(QStringLiteral("value")).toInt()));
        return result(true);
    }
    if (cmd == QLatin1String("clearLog")) {
        sim.clearLog();
        return result(true);
    }
    if (cmd == QLatin1String("state")) {
        QJsonArray received;
        for (const LanDatagram &d : sim.received())
            received.append(datagramToJson(d));
        return QJsonObject{{QStringLiteral("ok"), true},
                           {QStringLiteral("running"), sim.isRunning()},
                           {QStringLiteral("image"), bytesToJson(sim.image())},
                           {QStringLiteral("received"), received},
                           {QStringLiteral("writesCompleted"), sim.writesCompleted()},
                           {QStringLiteral("writesFailed"), sim.writesFailed()},
                           {QStringLiteral("readsCompleted"), sim.readsCompleted()}};
    }
    return QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("error"), QStringLiteral("unknown command")}};
}

} // namespace

bool serveControl(LanSimulator &sim, UsbSimulator &usb, quint16 port, QString *error)
{
    auto *server = new QTcpServer(QCoreApplication::instance());
    if (!server->listen(QHostAddress::LocalHost, port)) {
        *error = server->errorString();
        return false;
    }
    // Nobody came: the program that started the simulator is gone.
    auto *unclaimed = new QTimer(server);
    unclaimed->setSingleShot(true);
    QObject::connect(unclaimed, &QTimer::timeout, QCoreApplication::instance(), &QCoreApplication::quit);
    unclaimed->start(20000);
    QObject::connect(server, &QTcpServer::newConnection, server, [server, unclaimed, &sim, &usb] {
        QTcpSocket *connection = server->nextPendingConnection();
        if (!connection)
            return;
        unclaimed->stop();
        server->close(); // one test program a simulator
        // The link made for the USB side goes with the connection.
        auto link = std::make_shared<QString>();
        QObject::connect(connection, &QTcpSocket::disconnected, QCoreApplication::instance(), [link] {
            if (!link->isEmpty())
                QFile::remove(*link);
            QCoreApplication::quit();
        });
        usb.setRecordFrames(false);
        QObject::connect(&usb, &UsbSimulator::frameReceived, connection, [connection](const UsbFrame &f) {
            const QJsonObject event{{QStringLiteral("event"), QStringLiteral("usbFrame")},
                                    {QStringLiteral("frame"), usbFrameToJson(f)}};
            connection->write(QJsonDocument(event).toJson(QJsonDocument::Compact) + '\n');
        });
        QObject::connect(&usb, &UsbSimulator::writeCompleted, connection, [connection] {
            connection->write(QJsonDocument(QJsonObject{{QStringLiteral("event"), QStringLiteral("usbWriteCompleted")}})
                                  .toJson(QJsonDocument::Compact)
                              + '\n');
        });
        QObject::connect(&usb, &UsbSimulator::closed, connection, [connection] {
            connection->write(QJsonDocument(QJsonObject{{QStringLiteral("event"), QStringLiteral("usbClosed")}})
                                  .toJson(QJsonDocument::Compact)
                              + '\n');
        });
        // Every datagram heard, as it is heard: tests act at chosen requests.
        QObject::connect(&sim, &LanSimulator::datagramReceived, connection, [connection](const LanDatagram &d) {
            const QJsonObject event{{QStringLiteral("event"), QStringLiteral("datagram")},
                                    {QStringLiteral("datagram"), datagramToJson(d)}};
            connection->write(QJsonDocument(event).toJson(QJsonDocument::Compact) + '\n');
        });
        QObject::connect(connection, &QTcpSocket::readyRead, connection, [connection, &sim, &usb, link] {
            while (connection->canReadLine()) {
                const QJsonObject command = QJsonDocument::fromJson(connection->readLine()).object();
                connection->write(QJsonDocument(answer(sim, usb, command, link.get())).toJson(QJsonDocument::Compact)
                                  + '\n');
            }
        });
    });
    return true;
}

#endif

} // namespace tarvil::sim
