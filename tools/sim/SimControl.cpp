#include "SimControl.h"

#include "LanSimulator.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>

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

QJsonObject answer(LanSimulator &sim, const QJsonObject &command)
{
    const QString cmd = command.value(QStringLiteral("cmd")).toString();
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

bool serveControl(LanSimulator &sim, quint16 port, QString *error)
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
    QObject::connect(server, &QTcpServer::newConnection, server, [server, unclaimed, &sim] {
        QTcpSocket *connection = server->nextPendingConnection();
        if (!connection)
            return;
        unclaimed->stop();
        server->close(); // one test program a simulator
        QObject::connect(connection, &QTcpSocket::disconnected, QCoreApplication::instance(),
                         &QCoreApplication::quit);
        // Every datagram heard, as it is heard: tests act at chosen requests.
        QObject::connect(&sim, &LanSimulator::datagramReceived, connection, [connection](const LanDatagram &d) {
            const QJsonObject event{{QStringLiteral("event"), QStringLiteral("datagram")},
                                    {QStringLiteral("datagram"), datagramToJson(d)}};
            connection->write(QJsonDocument(event).toJson(QJsonDocument::Compact) + '\n');
        });
        QObject::connect(connection, &QTcpSocket::readyRead, connection, [connection, &sim] {
            while (connection->canReadLine()) {
                const QJsonObject command = QJsonDocument::fromJson(connection->readLine()).object();
                connection->write(QJsonDocument(answer(sim, command)).toJson(QJsonDocument::Compact) + '\n');
            }
        });
    });
    return true;
}

#endif

} // namespace tarvil::sim
