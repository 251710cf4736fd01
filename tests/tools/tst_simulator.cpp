// The transceiver simulator, driven the way the tool drives a transceiver:
// raw UDP datagrams, raw bytes on the pseudo-terminal, and the minimal client.

#include "LanSimulator.h"
#include "MinimalClient.h"
#include "SampleImage.h"
#include "SimOptions.h"
#include "SimControl.h"
#include "SimProtocol.h"
#include "UsbSimulator.h"

#include "link/Packets.h"
#include "model/ConfigImage.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QNetworkDatagram>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using namespace tarvil;
using namespace tarvil::sim;
using namespace std::chrono_literals;

namespace {

const QHostAddress kSimAddress(QStringLiteral("127.0.0.2"));
const QHostAddress kOtherAddress(QStringLiteral("127.0.0.3"));

// Every byte position gets a value that differs from its neighbours, so a
// block stored at the wrong place shows.
QByteArray patternImage(int seed)
{
    QByteArray image(kImageBytes, '\0');
    for (int i = 0; i < kImageBytes; ++i)
        image[i] = char((i * 31 + seed * 7 + (i >> 8)) & 0xFF);
    return image;
}

QByteArray block(const QByteArray &image, int n) { return writeBlockDatagram(n, image.mid((n - 1) * kBlockPayload, kBlockPayload)); }

// A client bound as the tool binds: the wildcard address on the simulator's
// port, with address sharing.
struct UdpClient {
    QUdpSocket socket;
    QList<QNetworkDatagram> got;
    QList<qint64> gotAtMs; // arrival of each datagram, on `clock`
    QElapsedTimer clock;
    quint16 port = 0;

    bool bind(quint16 p)
    {
        port = p;
        clock.start();
        if (!socket.bind(QHostAddress::AnyIPv4, p, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint))
            return false;
        QObject::connect(&socket, &QUdpSocket::readyRead, &socket, [this] {
            while (socket.hasPendingDatagrams()) {
                got.append(socket.receiveDatagram());
                gotAtMs.append(clock.elapsed());
            }
        });
        return true;
    }
    void send(const QByteArray &d) { socket.writeDatagram(d, kSimAddress, port); }
    QByteArray last() const { return got.isEmpty() ? QByteArray() : got.last().data(); }
    QHostAddress lastSender() const { return got.isEmpty() ? QHostAddress() : QHostAddress(got.last().senderAddress().toIPv4Address()); }
};

// The slave side of the simulator's pseudo-terminal, opened as a tool would.
struct PtyClient {
    int fd = -1;
    ~PtyClient()
    {
        if (fd >= 0)
            ::close(fd);
    }
    bool open(const QString &path)
    {
        fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            return false;
        termios tio{};
        ::tcgetattr(fd, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(fd, TCSANOW, &tio);
        return true;
    }
    void write(const QByteArray &bytes) { QCOMPARE(::write(fd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size())); }
    // Collects replies while the event loop runs, until `count` bytes came
    // or the time is up. `failed` reports a port that went away.
    QByteArray read(int count, int timeoutMs = 5000, bool *failed = nullptr)
    {
        QByteArray got;
        QElapsedTimer t;
        t.start();
        while (got.size() < count && t.elapsed() < timeoutMs) {
            char buffer[256];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) {
                got.append(buffer, n);
                continue;
            }
            if ((n == 0 || errno != EAGAIN) && failed) {
                *failed = true;
                break;
            }
            QTest::qWait(1);
        }
        return got;
    }
    // What arrives within a short quiet spell: for checks that nothing comes.
    QByteArray quiet(int ms = 100) { return read(1 << 20, ms); }
};

QByteArray packet(int address, int data) { return makeFrame(';', std::uint16_t(address), std::uint8_t(data)); }

std::optional<SimOptions> options(const QString &line)
{
    return parseSimOptions(line.split(QLatin1Char(' '), Qt::SkipEmptyParts)).options;
}

// A datagram the transceiver sent, as the scripts below name it.
QString token(const QNetworkDatagram &d)
{
    const QByteArray data = d.data();
    QString name;
    if (isReadBlock(data))
        name = QStringLiteral("readblock:%1").arg(int(std::uint8_t(data.at(11))));
    else if (isReadCommon(data))
        name = QStringLiteral("readcommon");
    else if (isReadEnd(data))
        name = QStringLiteral("readend");
    else if (data.size() > 12)
        name = QStringLiteral("bytes:%1").arg(data.size());
    else
        name = QString::fromLatin1(data);
    if (QHostAddress(d.senderAddress().toIPv4Address()) == kOtherAddress)
        name += QStringLiteral("@other");
    return name;
}

// The requests a script step sends: CONFIG, DATF, FPDE, READF, RDY0,
// block:N, block:A-B, common.
QList<QByteArray> requests(const QString &text, const QByteArray &image)
{
    static const QHash<QString, QByteArray> commands{
        {QStringLiteral("CONFIG"), "AT+CONFIG"}, {QStringLiteral("DATF"), "AT+DATF"}, {QStringLiteral("FPDE"), "AT+FPDE"},
        {QStringLiteral("READF"), "AT+READF"},   {QStringLiteral("RDY0"), "AT+RDY0"}};
    if (commands.contains(text))
        return {commands.value(text)};
    if (text == QLatin1String("common"))
        return {writeCommonDatagram(image.mid(kCommonOffset))};
    const QStringList range = text.mid(6).split(QLatin1Char('-'));
    QList<QByteArray> blocks;
    for (int n = range.first().toInt(); n <= range.last().toInt(); ++n)
        blocks << block(image, n);
    return blocks;
}

// Runs a script of steps "REQUEST > REPLY REPLY ..." against the simulator:
// each request of the step is sent and must get exactly the replies named,
// in order. A reply token may end in "+MS": it came at least MS after the
// datagram before it (or after the request).
void runLanScript(LanSimulator &sim, UdpClient &client, const QStringList &script)
{
    const QByteArray image = patternImage(20);
    for (const QString &step : script) {
        const qsizetype arrow = step.indexOf(QLatin1Char('>'));
        const QString request = step.left(arrow).trimmed();
        const QStringList expected = step.mid(arrow + 1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const QList<QByteArray> sends = requests(request, image);
        for (qsizetype i = 0; i < sends.size(); ++i) {
            const qsizetype before = client.got.size();
            const qsizetype heard = sim.received().size();
            const qint64 sentAt = client.clock.elapsed();
            client.send(sends.at(i));
            QElapsedTimer waited;
            waited.start();
            while (!(sim.received().size() > heard && client.got.size() >= before + expected.size())
                   && waited.elapsed() < 3000)
                QTest::qWait(1);
            // The last request of a step waits a little for anything more.
            if (i + 1 == sends.size())
                QTest::qWait(60);
            QStringList got;
            for (qsizetype k = before; k < client.got.size(); ++k)
                got << token(client.got.at(k));
            QStringList names;
            for (const QString &e : expected)
                names << e.section(QLatin1Char('+'), 0, 0);
            QVERIFY2(got == names, qPrintable(QStringLiteral("%1: got %2").arg(step, got.join(QLatin1Char(' ')))));
            for (qsizetype k = 0; k < expected.size(); ++k) {
                const int gap = expected.at(k).section(QLatin1Char('+'), 1).toInt();
                const qint64 previous = k == 0 ? sentAt : client.gotAtMs.at(before + k - 1);
                QVERIFY2(client.gotAtMs.at(before + k) - previous >= gap,
                         qPrintable(QStringLiteral("%1: reply %2 came too soon").arg(step).arg(k)));
            }
        }
    }
}

QStringList writeUntilResult()
{
    return {QStringLiteral("DATF > READY"), QStringLiteral("block:1-60 > OK"), QStringLiteral("common > OK"),
            QStringLiteral("FPDE >")};
}

} // namespace

class SimulatorTest : public QObject {
    Q_OBJECT

    quint16 port_ = test::udpPort();

private slots:
    // --- the simulator's own encodings against the tool's -----------------

    void crc_agreesWithCheckValueAndToolPackets()
    {
        QCOMPARE(crc16(QByteArrayLiteral("123456789")), std::uint16_t(0x31C3));
        QCOMPARE(crc16(QByteArray()), std::uint16_t(0));
        QCOMPARE(pollFrame(), QByteArray::fromHex("23010101B8B2"));
        QCOMPARE(packet(14100, 0), QByteArray::fromHex("3B1437003157"));
        // Two implementations written apart must agree on every address.
        for (int address = 0; address < kImageBytes; ++address) {
            const auto data = std::uint8_t((address * 13) & 0xFF);
            const QByteArray mine = makeFrame(';', std::uint16_t(address), data);
            const QByteArray tools = WritePacket::make(kDataMarker, std::uint16_t(address), data).toByteArray();
            if (mine != tools)
                QFAIL(qPrintable(QStringLiteral("address %1: %2 vs %3").arg(address).arg(QString::fromLatin1(mine.toHex()), QString::fromLatin1(tools.toHex()))));
        }
    }

    void frameParser_resynchronisesAfterNoise_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QList<int>>("addresses"); // -1: a poll
        QTest::addColumn<int>("discarded");
        const QByteArray a = packet(5, 0x41), b = packet(14201, 2), poll = pollFrame();
        QByteArray badCrc = packet(7, 7);
        badCrc[5] = char(badCrc.at(5) ^ 1);
        QTest::newRow("clean") << a + poll + b << QList<int>{5, -1, 14201} << 0;
        QTest::newRow("leading noise") << QByteArray("\x00\xFFxy", 4) + a << QList<int>{5} << 4;
        QTest::newRow("marker bytes in noise") << QByteArray(";;#") + a + b << QList<int>{5, 14201} << 3;
        QTest::newRow("corrupted CRC between good frames") << a + badCrc + b << QList<int>{5, 14201} << 6;
        QTest::newRow("frame missing its last byte") << a.left(5) + b << QList<int>{14201} << 5;
        QTest::newRow("partial frame waits") << a + b.left(3) << QList<int>{5} << 0;
    }
    void frameParser_resynchronisesAfterNoise()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QList<int>, addresses);
        QFETCH(int, discarded);
        // Whole, and byte by byte as a serial line may deliver it.
        for (bool split : {false, true}) {
            FrameParser parser;
            QList<int> seen;
            auto drain = [&] {
                while (auto f = parser.next())
                    seen << (f->kind == FrameKind::Poll ? -1 : int(f->address));
            };
            if (split) {
                for (char c : stream) {
                    parser.feed(&c, 1);
                    drain();
                }
            } else {
                parser.feed(stream);
                drain();
            }
            QCOMPARE(seen, addresses);
            QCOMPARE(parser.discardedBytes(), qint64(discarded));
        }
    }

    void parseRequest_takesExactRequestsOnly_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("number");
        const QByteArray records(kBlockPayload, 'r');
        const QByteArray common(kCommonBytes, 'c');
        QTest::newRow("AT+CONFIG") << QByteArray("AT+CONFIG") << int(Request::Config) << -1;
        QTest::newRow("AT+CONFIG with CR") << QByteArray("AT+CONFIG\r") << int(Request::Unknown) << -1;
        QTest::newRow("AT+DATF") << QByteArray("AT+DATF") << int(Request::Datf) << -1;
        QTest::newRow("AT+FPDE") << QByteArray("AT+FPDE") << int(Request::Fpde) << -1;
        QTest::newRow("AT+READF") << QByteArray("AT+READF") << int(Request::ReadF) << -1;
        QTest::newRow("AT+RDY0") << QByteArray("AT+RDY0") << int(Request::Rdy0) << -1;
        QTest::newRow("lower case") << QByteArray("at+config") << int(Request::Unknown) << -1;
        QTest::newRow("block 1") << writeBlockDatagram(1, records) << int(Request::WriteBlock) << 1;
        QTest::newRow("block 60") << writeBlockDatagram(60, records) << int(Request::WriteBlock) << 60;
        QTest::newRow("block 0") << writeBlockDatagram(0, records) << int(Request::Unknown) << -1;
        QTest::newRow("block 61 of block length") << writeBlockDatagram(61, records) << int(Request::Unknown) << -1;
        QTest::newRow("block one byte short") << writeBlockDatagram(5, records).chopped(1) << int(Request::Unknown) << -1;
        QByteArray wrongLength = writeBlockDatagram(5, records);
        wrongLength[9] = char(234);
        QTest::newRow("block with a wrong length byte") << wrongLength << int(Request::Unknown) << -1;
        QTest::newRow("common block") << writeCommonDatagram(common) << int(Request::WriteCommon) << 61;
        QByteArray common60 = writeCommonDatagram(common);
        common60[11] = char(60);
        QTest::newRow("common block numbered 60") << common60 << int(Request::Unknown) << -1;
        QTest::newRow("empty") << QByteArray() << int(Request::Unknown) << -1;
    }
    void parseRequest_takesExactRequestsOnly()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(int, kind);
        QFETCH(int, number);
        const ParsedRequest r = parseRequest(datagram);
        QCOMPARE(int(r.kind), kind);
        QCOMPARE(r.number, number);
        if (r.kind == Request::WriteBlock)
            QCOMPARE(r.payload, datagram.mid(kHeaderBytes));
    }

    void replySelector_parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("number");
        QTest::addColumn<int>("times");
        QTest::newRow("block:5") << "block:5" << true << int(ReplySelector::Block) << 5 << 1;
        QTest::newRow("any block") << "block" << true << int(ReplySelector::Block) << -1 << 1;
        QTest::newRow("result") << "result" << true << int(ReplySelector::Result) << -1 << 1;
        QTest::newRow("readblock twice") << "readblock:10x2" << true << int(ReplySelector::ReadBlock) << 10 << 2;
        QTest::newRow("every reply to a packet") << "packet:7xall" << true << int(ReplySelector::Packet) << 7 << 0;
        QTest::newRow("result takes no number") << "result:3" << false << 0 << 0 << 0;
        QTest::newRow("zero times") << "block:5x0" << false << 0 << 0 << 0;
        QTest::newRow("unknown") << "reboot" << false << 0 << 0 << 0;
        QTest::newRow("empty") << "" << false << 0 << 0 << 0;
        QTest::newRow("kind glued to a count") << "configxall" << true << int(ReplySelector::Config) << -1 << 0;
        QTest::newRow("kind with a stray x") << "configx" << false << 0 << 0 << 0;
    }
    void replySelector_parse()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        const auto s = ReplySelector::parse(text);
        QCOMPARE(s.has_value(), valid);
        if (!valid)
            return;
        QFETCH(int, kind);
        QFETCH(int, number);
        QFETCH(int, times);
        QCOMPARE(int(s->kind), kind);
        QCOMPARE(s->number, number);
        QCOMPARE(s->times, times);
        QCOMPARE(ReplySelector::parse(s->toString()), s);
    }

    // Where the simulator runs as a program of its own, a test's faults and
    // the datagrams it heard cross the control connection as JSON: a field
    // lost or misread on the way leaves a test without the fault it names.
    // Every field here differs from its default, and a missing key must read
    // back as the default.
    void controlConnection_carriesEveryFaultAndDatagramField()
    {
        const auto sel = [](const char *text) { return *ReplySelector::parse(QString::fromLatin1(text)); };
        LanFaults f;
        f.silent = true;
        f.dropFirst = 2;
        f.dropEvery = 3;
        f.dropReplies = {sel("block:5"), sel("resultx2")};
        f.delay = 7ms;
        f.duplicateReadBlock = 4;
        f.alterDuplicate = true;
        f.earlyEnd = EarlyEnd::ThenContinue;
        f.otherMode = OtherAddressMode::Also;
        f.otherAddress = QHostAddress(QStringLiteral("127.0.0.9"));
        f.failWrite = true;
        f.stopReadAfter = 6;
        f.duplicateReplies = {sel("ready")};
        f.duplicateGap = 11ms;
        f.extras = {*LanExtra::parse(QStringLiteral("result+50=hex:474F")), *LanExtra::parse(QStringLiteral("ready=OK"))};
        f.extras[1].before = true;
        f.extras[1].fromOther = true;
        f.oversizeBefore = {sel("readblock:3")};
        f.oversizeBytes = 400;
        f.lostRequests = {sel("readcommon")};
        f.lateReplies = {sel("packet:7xall")};
        f.lateBy = 90ms;

        const QJsonObject sent = lanFaultsToJson(f);
        const QJsonObject defaults = lanFaultsToJson(LanFaults{});
        for (auto it = sent.begin(); it != sent.end(); ++it)
            QVERIFY2(it.value() != defaults.value(it.key()), qPrintable(it.key() + " is left at its default here"));
        QCOMPARE(lanFaultsToJson(lanFaultsFromJson(sent)), sent);
        QCOMPARE(lanFaultsFromJson(sent).extras, f.extras);
        QCOMPARE(lanFaultsToJson(lanFaultsFromJson(QJsonObject{})), defaults);

        LanDatagram d;
        d.data = QByteArray("AT+DATF\0\xFF", 9);
        d.address = kOtherAddress;
        d.port = 40001;
        d.elapsedNs = 123456789012;
        d.kind = Request::WriteBlock;
        d.number = 17;
        d.unheard = true;
        const LanDatagram back = datagramFromJson(datagramToJson(d));
        QCOMPARE(back.data, d.data);
        QCOMPARE(back.address, d.address);
        QCOMPARE(back.port, d.port);
        QCOMPARE(back.elapsedNs, d.elapsedNs);
        QCOMPARE(back.kind, d.kind);
        QCOMPARE(back.number, d.number);
        QCOMPARE(back.unheard, d.unheard);

        UsbFaults u;
        u.silent = true;
        u.dropFirst = 1;
        u.dropEvery = 4;
        u.dropReplies = {sel("packet:9x2")};
        u.delay = 3ms;
        u.nakPackets = {2, 7};
        u.nakRate = 0.5;
        u.seed = 77;
        u.memoryFailureAt = 11;
        u.fatalAt = 12;
        u.stopAfter = 13;
        u.closeAfter = 14;
        u.pace = 2ms;
        u.pacedReplies = 15;
        u.stallReplies = {sel("poll:3")};
        u.stallFor = 16ms;
        u.answers = {{sel("poll:2"), 0x25}};
        u.nakTimes = 2;
        u.nakFrom = 10;
        u.nakTo = 20;
        u.latency = 16ms;
        const QJsonObject usbSent = usbFaultsToJson(u);
        const QJsonObject usbDefaults = usbFaultsToJson(UsbFaults{});
        for (auto it = usbSent.begin(); it != usbSent.end(); ++it)
            QVERIFY2(it.value() != usbDefaults.value(it.key()), qPrintable(it.key() + " is left at its default here"));
        QCOMPARE(usbFaultsToJson(usbFaultsFromJson(usbSent)), usbSent);
        QCOMPARE(usbFaultsFromJson(usbSent).answers, u.answers);
        QCOMPARE(usbFaultsToJson(usbFaultsFromJson(QJsonObject{})), usbDefaults);

        UsbFrame frame;
        frame.kind = FrameKind::Data;
        frame.address = 14201;
        frame.data = 0xA5;
        frame.index = 300;
        frame.reply = 0x15;
        frame.replyLost = true;
        frame.held = true;
        frame.stored = true;
        frame.elapsedNs = 987654321;
        const UsbFrame frameBack = usbFrameFromJson(usbFrameToJson(frame));
        QCOMPARE(frameBack.kind, frame.kind);
        QCOMPARE(frameBack.address, frame.address);
        QCOMPARE(frameBack.data, frame.data);
        QCOMPARE(frameBack.index, frame.index);
        QCOMPARE(frameBack.reply, frame.reply);
        QCOMPARE(frameBack.replyLost, frame.replyLost);
        QCOMPARE(frameBack.held, frame.held);
        QCOMPARE(frameBack.stored, frame.stored);
        QCOMPARE(frameBack.elapsedNs, frame.elapsedNs);
    }

    // The simulator lays out its sample without the tool's encoders: the
    // tool's decoder must find in it what the sample means to hold.
    void freshSimulator_readsOutTheSampleImage()
    {
        LanSimulator sim;
        QVERIFY(sim.start(kSimAddress, port_));
        MinimalClient client(kSimAddress, port_);
        const ClientResult read = client.lanRead();
        QVERIFY2(read.ok, qPrintable(read.error));
        const QByteArray image = read.image;
        QCOMPARE(image, sampleImage());
        ConfigImage decoded;
        std::memcpy(decoded.data(), image.constData(), size_t(kImageBytes));
        const QList<ObjectRow> rows = decoded.decodeObjects();
        QCOMPARE(rows.size(), 5);
        QStringList objects;
        for (const ObjectRow &r : rows)
            objects << r.Obj;
        QCOMPARE(objects, QStringList({"0001", "0002", "0010", "0042", "0100"}));
        const ObjectRow &fourth = rows.at(3);
        QCOMPARE(fourth.Account, QStringLiteral("4242"));
        QCOMPARE(fourth.P1, QStringLiteral("+79001234542"));
        QCOMPARE(fourth.P2, QStringLiteral("+79001234543"));
        QCOMPARE(fourth.TypeId, std::int16_t(8));
        QCOMPARE(fourth.Prot, std::int16_t(6));
        QCOMPARE(fourth.WaitTest, 120);
        QCOMPARE(fourth.A_F, std::int16_t(3));
        QCOMPARE(fourth.Frmt, std::int16_t(2));
        QCOMPARE(rows.at(4).WaitTest, 1440);
        const CommonSettings common = decoded.decodeCommon();
        QCOMPARE(common.serial, QStringLiteral("12345"));
        QCOMPARE(common.masterIp, QStringLiteral("192.168.1.10"));
        QCOMPARE(common.ownIp, QStringLiteral("192.168.1.221"));
        QCOMPARE(common.masterPort, QStringLiteral("5000"));
        QCOMPARE(common.apn, QStringLiteral("internet"));
        QCOMPARE(common.baud, QStringLiteral("115200"));
        QCOMPARE(common.periodHB, 60u);
        QCOMPARE(common.format, 1);
        // The constant and the reserved bytes, as only a transceiver sets them.
        QCOMPARE(image.mid(kCommonOffset + 86, 2), QByteArray::fromHex("0F27"));
        QCOMPARE(image.mid(kCommonOffset + 94, 3), QByteArray::fromHex("011F0D"));
    }

    // --- LAN -----------------------------------------------------------------

    void lan_connectIsAnsweredFromOwnAddressToSender()
    {
        LanSimulator sim;
        QVERIFY2(sim.start(kSimAddress, port_), qPrintable(sim.errorString()));
        UdpClient client;
        QVERIFY(client.bind(port_));
        QSignalSpy received(&sim, &LanSimulator::datagramReceived);
        client.send("AT+CONFIG");
        QTRY_COMPARE(client.got.size(), 1);
        QCOMPARE(client.last(), QByteArray("OK"));
        QCOMPARE(client.lastSender(), kSimAddress);
        QCOMPARE(client.got.last().senderPort(), int(port_));
        QCOMPARE(received.size(), 1);
        QCOMPARE(sim.received().size(), 1);
        QCOMPARE(sim.received().first().kind, Request::Config);
        QCOMPARE(sim.received().first().port, port_);
        // Odd datagrams are recorded and get no answer.
        client.send("AT+CONFIGX");
        client.send(QByteArray(300, 'x'));
        QTRY_COMPARE(sim.received().size(), 3);
        QTest::qWait(50);
        QCOMPARE(client.got.size(), 1);
    }

    void lan_fullWriteStoresImageByteForByte()
    {
        LanSimulator sim;
        QVERIFY(sim.start(kSimAddress, port_));
        UdpClient client;
        QVERIFY(client.bind(port_));
        QSignalSpy completed(&sim, &LanSimulator::writeCompleted);
        const QByteArray image = patternImage(1);

        client.send("AT+DATF");
        QTRY_COMPARE(client.got.size(), 1);
        const QByteArray ready = client.last();
        QVERIFY(isReadyReply(ready));
        for (int n = 1; n <= kBlocks; ++n) {
            client.send(block(image, n));
            QTRY_COMPARE(client.got.size(), n + 1);
            QCOMPARE(client.last(), QByteArray("OK"));
        }
        client.send(writeCommonDatagram(image.mid(kCommonOffset)));
        QTRY_COMPARE(client.got.size(), 62);
        QCOMPARE(client.last(), QByteArray("OK"));
        QCOMPARE(sim.image(), sampleImage()); // nothing lands before the result
        client.send("AT+FPDE");
        client.send("AT+CONFIG");
        QTRY_COMPARE(client.got.size(), 63); // "AT+FPDE" itself is not answered
        QCOMPARE(client.last(), QByteArray("GOOD"));
        QCOMPARE(sim.image(), image);
        QCOMPARE(sim.writesCompleted(), 1);
        QCOMPARE(completed.size(), 1);

        QList<Request> expected{Request::Datf};
        for (int n = 1; n <= kBlocks; ++n)
            expected << Request::WriteBlock;
        expected << Request::WriteCommon << Request::Fpde << Request::Config;
        QCOMPARE(sim.receivedKinds(), expected);
        for (qsizetype i = 1; i < sim.received().size(); ++i)
            QVERIFY(sim.received().at(i).elapsedNs >= sim.received().at(i - 1).elapsedNs);
        QCOMPARE(sim.received().at(5).number, 5);

        // The keep-alive after the write is a plain connect again.
        client.send("AT+CONFIG");
        QTRY_COMPARE(client.got.size(), 64);
        QCOMPARE(client.last(), QByteArray("OK"));
    }

    void lan_incompleteWriteGetsFailureAndKeepsImage_data()
    {
        QTest::addColumn<bool>("withDatf");
        QTest::addColumn<int>("skippedBlock"); // 61: the common block
        QTest::newRow("block 30 missing") << true << 30;
        QTest::newRow("common block missing") << true << 61;
        QTest::newRow("no AT+DATF") << false << 0;
    }
    void lan_incompleteWriteGetsFailureAndKeepsImage()
    {
        QFETCH(bool, withDatf);
        QFETCH(int, skippedBlock);
        LanSimulator sim;
        QVERIFY(sim.start(kSimAddress, port_));
        QVERIFY(sim.setImage(sampleImage()));
        UdpClient client;
        QVERIFY(client.bind(port_));
        const QByteArray image = patternImage(2);
        int expected = 0;
        if (withDatf) {
            client.send("AT+DATF");
            ++expected;
        }
        for (int n = 1; n <= kBlocks + 1; ++n) {
            if (n == skippedBlock)
                continue;
            client.send(n <= kBlocks ? block(image, n) : writeCommonDatagram(image.mid(kCommonOffset)));
            ++expected;
            QTRY_COMPARE(client.got.size(), expected);
        }
        client.send("AT+FPDE");
        client.send("AT+CONFIG");
        QTRY_COMPARE(client.got.size(), expected + 1);
        QCOMPARE(client.last(), QByteArray("BAD"));
        QCOMPARE(sim.image(), sampleImage());
        QCOMPARE(sim.writesCompleted(), 0);
        QCOMPARE(sim.writesFailed(), 1);
    }

    void lan_readSendsImageStopAndWait()
    {
        LanSimulator sim;
        QVERIFY(sim.start(kSimAddress, port_));
        const QByteArray image = patternImage(3);
        QVERIFY(sim.setImage(image));
        UdpClient client;
        QVERIFY(client.bind(port_));
        QSignalSpy done(&sim, &LanSimulator::readCompleted);

        client.send("AT+READF");
        QTRY_COMPARE(client.got.size(), 1);
        QTest::qWait(50);
        QCOMPARE(client.got.size(), 1); // nothing more before the acknowledgement
        QByteArray assembled(kImageBytes, '\0');
        for (int b = 0; b < kBlocks; ++b) {
            QTRY_COMPARE(client.got.size(), b + 1);
            const QByteArray d = client.last();
            QVERIFY2(isReadBlock(d), qPrintable(QStringLiteral("datagram %1").arg(b)));
            QCOMPARE(int(std::uint8_t(d.at(11))), b);
            QCOMPARE(client.lastSender(), kSimAddress);
            assembled.replace(b * kBlockPayload, kBlockPayload, d.mid(kHeaderBytes));
            client.send("AT+RDY0");
        }
        QTRY_COMPARE(client.got.size(), 61);
        QVERIFY(isReadCommon(client.last()));
        assembled.replace(kCommonOffset, kCommonBytes, client.last().mid(kHeaderBytes));
        QCOMPARE(assembled, image);
        client.send("AT+RDY0");
        QTRY_COMPARE(client.got.size(), 62);
        QVERIFY(isReadEnd(client.last()));
        QCOMPARE(sim.readsCompleted(), 0); // the end still awaits its acknowledgement
        client.send("AT+RDY0");
        QTRY_COMPARE(sim.readsCompleted(), 1);
        QCOMPARE(done.size(), 1);
        // An acknowledgement with no read under way is not answered.
        client.send("AT+RDY0");
        QTRY_COMPARE(sim.received().size(), 64);
        QTest::qWait(50);
        QCOMPARE(client.got.size(), 62);
    }

    void lan_repeatedReadfStartsOver()
    {
        LanSimulator sim;
        QVERIFY(sim.start(kSimAddress, port_));
        UdpClient client;
        QVERIFY(client.bind(port_));
        client.send("AT+READF");
        QTRY_COMPARE(client.got.size(), 1);
        client.send("AT+RDY0");
        client.send("AT+RDY0");
        QTRY_COMPARE(client.got.size(), 3);
        QCOMPARE(int(client.last().at(11)), 2);
        client.send("AT+READF");
        QTRY_COMPARE(client.got.size(), 4);
        QCOMPARE(int(client.last().at(11)), 0);
    }

    void lan_minimalClientWriteThenReadRoundTrip()
    {
        LanSimulator sim;
        QVERIFY(sim.start(kSimAddress, port_));
        MinimalClient client(kSimAddress, port_);
        const QByteArray image = patternImage(4);
        const ClientResult written = client.lanWrite(image);
        QVERIFY2(written.ok, qPrintable(written.error));
        QCOMPARE(written.requests, 64);
        QVERIFY(written.elapsed.count() > 0);
        QCOMPARE(sim.image(), image);
        const ClientResult read = client.lanRead();
        QVERIFY2(read.ok, qPrintable(read.error));
        QCOMPARE(read.requests, 63); // "AT+READF" and 62 acknowledgements
        QCOMPARE(read.image, image);
        QTRY_COMPARE(sim.readsCompleted(), 1); // the last acknowledgement is on its way
        QCOMPARE(client.lanWrite(QByteArray(10, 'x')).ok, false);
    }

    void lan_lostResultIsGivenAgainToRepeatedConfig()
    {
        LanSimulator sim;
        QVERIFY(sim.start(kSimAddress, port_));
        LanFaults faults;
        faults.dropReplies << ReplySelector{ReplySelector::Result, -1, 1};
        QVERIFY(sim.setFaults(faults));
        UdpClient client;
        QVERIFY(client.bind(port_));
        const QByteArray image = patternImage(5);
        client.send("AT+DATF");
        for (int n = 1; n <= kBlocks; ++n)
            client.send(block(image, n));
        client.send(writeCommonDatagram(image.mid(kCommonOffset)));
        QTRY_COMPARE(client.got.size(), 62);
        client.send("AT+FPDE");
        client.send("AT+CONFIG");
        QTRY_COMPARE(sim.received().size(), 64);
        QTest::qWait(50);
        QCOMPARE(client.got.size(), 62); // the result went missing
        QCOMPARE(sim.writesCompleted(), 1); // ... but the image was written
        client.send("AT+CONFIG"); // the tool's repeat
        QTRY_COMPARE(client.got.size(), 63);
        QCOMPARE(client.last(), QByteArray("GOOD"));
        QCOMPARE(sim.writesCompleted(), 1);
        QCOMPARE(sim.image(), image);
        client.send("AT+CONFIG");
        QTRY_COMPARE(client.got.size(), 64);
        QCOMPARE(client.last(), QByteArray("OK"));
    }

    void lan_silentHearsAndAnswersNothing()
    {
        LanSimulator sim;
        QVERIFY(sim.start(kSimAddress, port_));
        LanFaults faults;
        faults.silent = true;
        QVERIFY(sim.setFaults(faults));
        UdpClient client;
        QVERIFY(client.bind(port_));
        client.send("AT+CONFIG");
        client.send("AT+DATF");
        client.send("AT+READF");
        QTRY_COMPARE(sim.received().size(), 3);
        QTest::qWait(100);
        QVERIFY(client.got.isEmpty());
        QVERIFY(sim.replies().isEmpty());
    }

    void lan_dropFaultsLoseTheChosenReplies_data()
    {
        QTest::addColumn<int>("dropFirst");
        QTest::addColumn<int>("dropEvery");
        QTest::addColumn<QString>("selectors");
        QTest::addColumn<QList<bool>>("answered"); // per "AT+CONFIG", in order
        QTest::newRow("first 2") << 2 << 0 << "" << QList<bool>{false, false, true, true, true, true};
        QTest::newRow("every 3rd") << 0 << 3 << "" << QList<bool>{true, true, false, true, true, false};
        QTest::newRow("config once") << 0 << 0 << "config" << QList<bool>{false, true, true, true, true, true};
        QTest::newRow("config twice") << 0 << 0 << "configx2" << QList<bool>{false, false, true, true, true, true};
        QTest::newRow("config always") << 0 << 0 << "configxall" << QList<bool>{false, false, false, false, false, false};
        QTest::newRow("other requests only") << 0 << 0 << "block,result" << QList<bool>{true, true, true, true, true, true};
    }
    void lan_dropFaultsLoseTheChosenReplies()
    {
        QFETCH(int, dropFirst);
        QFETCH(int, dropEvery);
        QFETCH(QString, selectors);
        QFETCH(QList<bool>, answered);
        LanSimulator sim;
        QVERIFY(sim.start(kSimAddress, port_));
        LanFaults faults;
        faults.dropFirst = dropFirst;
        faults.dropEvery = dropEvery;
        for (const QString &s : selectors.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const auto selector = ReplySelector::parse(s);
            QVERIFY2(selector, qPrintable(s));
            faults.dropReplies << *selector;
        }
        QVERIFY(sim.setFaults(faults));
        UdpClient client;
        QVERIFY(client.bind(port_));
        for (qsizetype i = 0; i < answered.size(); ++i)
            client.send("AT+CONFIG");
        QTRY_COMPARE(sim.replies().size(), answered.size());
        QList<bool> sent;
        for (const LanReply &r : sim.replies())
            sent << !r.dropped;
        QCOMPARE(sent, answered);
        const int expected = int(answered.count(true));
        QTRY_COMPARE(client.got.size(), expected);
        QTest::qWait(50);
        QCOMPARE(client.got.size(), expected);
    }

    void lan_lostBlockAckIsGivenToTheRepeatedBlock()
    {
        LanSimulator sim;
        QVERIFY(sim.start(kSimAddress, port_));
        LanFaults faults;
        faults.dropReplies << ReplySelector{ReplySelector::Block, 3, 1};
        QVERIFY(sim.setFaults(faults));
        UdpClient client;
        QVERIFY(client.bind(port_));
        const QByteArray image = patternImage(6);
        client.send("AT+DATF");
        client.send(block(image, 1));
        client.send(block(image, 2));
        client.send(block(image, 3));
        QTRY_COMPARE(sim.received().size(), 4);
        QTRY_COMPARE(client.got.size(), 3);
        client.send(block(image, 3)); // the tool repeats it
        QTRY_COMPARE(client.got.size(), 4);
        QCOMPARE(client.last(), QByteArray("OK"));
        for (int n = 4; n <= kBlocks; ++n)
            client.send(block(image, n));
        client.send(writeCommonDatagram(image.mid(kCommonOffset)));
        client.send("AT+FPDE");
        client.send("AT+CONFIG");
        QTRY_COMPARE(client.got.size(), 63);
        QCOMPARE(client.last(), QByteArray("GOOD"));
        QCOMPARE(sim.image(), image);
    }

    void lan_delayedRepliesKeepTheirOrder()
    {
        LanSimulator sim;
        QVERIFY(sim.start(kSimAddress, port_));
        LanFaults faults;
        faults.delay = 150ms;
        QVERIFY(sim.setFaults(faults));
        UdpClient client;
        QVERIFY(client.bind(port_));
        QElapsedTimer t;
        t.start();
        client.send("AT+CONFIG");
        client.send("AT+DATF");
        QTRY_COMPARE(client.got.size(), 2);
        QVERIFY(t.elapsed() >= 140);
        QCOMPARE(client.got.at(0).data(), QByteArray("OK"));
        QVERIFY(isReadyReply(client.got.at(1).data()));
    }

    void lan_readBlockSentTwiceWithTheSameNumber()
    {
        LanSimulator sim;
        QVERIFY(sim.start(kSimAddress, port_));
        const QByteArray image = patternImage(7);
        QVERIFY(sim.setImage(image));
        LanFaults faults;
        faults.duplicateReadBlock = 4;
        faults.alterDuplicate = true;
        QVERIFY(sim.setFaults(faults));
        QList<QByteArray> sent;
        connect(&sim, &LanSimulator::replySent, this, [&](const LanReply &r) { sent << r.data; });
        MinimalClient client(kSimAddress, port_);
        const ClientResult read = client.lanRead();
        QVERIFY2(read.ok, qPrintable(read.error));
        QCOMPARE(read.image, image); // a client that skips the repeat keeps the first copy
        QCOMPARE(sent.size(), 63);
        QCOMPARE(int(sent.at(4).at(11)), 4);
        QCOMPARE(int(sent.at(5).at(11)), 4);
        QCOMPARE(int(sent.at(6).at(11)), 5);
        QVERIFY(sent.at(4).mid(kHeaderBytes) != sent.at(5).mid(kHeaderBytes));
        QCOMPARE(read.requests, 64); // the repeat is acknowledged as well
    }

    void lan_endBeforeCommonBlock_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("then stop") << int(EarlyEnd::ThenStop);
        QTest::newRow("then continue") << int(EarlyEnd::ThenContinue);
    }
    void lan_endBeforeCommonBlock()
    {
        QFETCH(int, mode);
        LanSimulator sim;
        QVERIFY(sim.start(kSimAddress, port_));
        const QByteArray image = patternImage(8);
        QVERIFY(sim.setImage(image));
        LanFaults faults;
        faults.earlyEnd = EarlyEnd(mode);
        QVERIFY(sim.setFaults(faults));
        UdpClient client;
        QVERIFY(client.bind(port_));
        client.send("AT+READF");
        for (int b = 1; b <= kBlocks; ++b) {
            QTRY_COMPARE(client.got.size(), b);
            client.send("AT+RDY0");
        }
        QTRY_VERIFY(client.got.size() >= kBlocks + 1);
        QVERIFY(isReadEnd(client.got.at(kBlocks).data()));
        if (EarlyEnd(mode) == EarlyEnd::ThenStop) {
            QTest::qWait(100);
            QCOMPARE(client.got.size(), kBlocks + 1);
            QCOMPARE(sim.readsCompleted(), 0);
            // A client that wrongly takes that end still does not complete the read.
            client.send("AT+RDY0");
            QTRY_COMPARE(sim.received().size(), kBlocks + 2);
            QTest::qWait(50);
            QCOMPARE(sim.readsCompleted(), 0);
            return;
        }
        // The common block follows at once, unacknowledged end or not.
        QTRY_COMPARE(client.got.size(), kBlocks + 2);
        QVERIFY(isReadCommon(client.got.at(kBlocks + 1).data()));
        client.send("AT+RDY0");
        QTRY_COMPARE(client.got.size(), kBlocks + 3);
        QVERIFY(isReadEnd(client.last()));
        client.send("AT+RDY0");
        QTRY_COMPARE(sim.readsCompleted(), 1);
        // And a client that reads by the rules gets the whole image.
        MinimalClient minimal(kSimAddress, port_);
        const ClientResult read = minimal.lanRead();
        QVERIFY2(read.ok, qPrintable(read.error));
        QCOMPARE(read.image, image);
    }

    void lan_repliesFromAnotherAddress_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("instead") << int(OtherAddressMode::Instead);
        QTest::newRow("also") << int(OtherAddressMode::Also);
    }
    void lan_repliesFromAnotherAddress()
    {
        QFETCH(int, mode);
        LanSimulator sim;
        LanFaults faults;
        faults.otherMode = OtherAddressMode(mode);
        faults.otherAddress = kOtherAddress;
        QVERIFY(sim.setFaults(faults)); // before start: bound with it
        QVERIFY2(sim.start(kSimAddress, port_), qPrintable(sim.errorString()));
        UdpClient client;
        QVERIFY(client.bind(port_));
        client.send("AT+CONFIG");
        const bool also = OtherAddressMode(mode) == OtherAddressMode::Also;
        QTRY_COMPARE(client.got.size(), also ? 2 : 1);
        QCOMPARE(QHostAddress(client.got.at(0).senderAddress().toIPv4Address()), kOtherAddress);
        QCOMPARE(client.got.at(0).senderPort(), int(port_));
        if (also)
            QCOMPARE(client.lastSender(), kSimAddress);

        MinimalClient minimal(kSimAddress, port_);
        minimal.setTimeLimit(also ? 20000ms : 300ms);
        const ClientResult written = minimal.lanWrite(patternImage(9));
        QCOMPARE(written.ok, also); // replies from elsewhere are not the transceiver's
        // Back to normal at once when the fault is taken off.
        QVERIFY(sim.setFaults({}));
        client.got.clear();
        client.send("AT+CONFIG");
        QTRY_COMPARE(client.got.size(), 1);
        QCOMPARE(client.lastSender(), kSimAddress);
    }

    void lan_failureReplyKeepsImage()
    {
        LanSimulator sim;
        QVERIFY(sim.start(kSimAddress, port_));
        QVERIFY(sim.setImage(sampleImage()));
        LanFaults faults;
        faults.failWrite = true;
        QVERIFY(sim.setFaults(faults));
        QSignalSpy failed(&sim, &LanSimulator::writeFailed);
        MinimalClient client(kSimAddress, port_);
        const ClientResult written = client.lanWrite(patternImage(10));
        QVERIFY(!written.ok);
        QVERIFY(written.error.contains(QStringLiteral("failure reply")));
        QCOMPARE(sim.replies().last().data, QByteArray("BAD"));
        QCOMPARE(sim.image(), sampleImage());
        QCOMPARE(failed.size(), 1);
        QCOMPARE(sim.writesCompleted(), 0);
    }

    void lan_readStopsAfterNBlocks()
    {
        LanSimulator sim;
        QVERIFY(sim.start(kSimAddress, port_));
        LanFaults faults;
        faults.stopReadAfter = 10;
        QVERIFY(sim.setFaults(faults));
        UdpClient client;
        QVERIFY(client.bind(port_));
        client.send("AT+READF");
        for (int b = 1; b <= 10; ++b) {
            QTRY_COMPARE(client.got.size(), b);
            client.send("AT+RDY0");
        }
        QTRY_COMPARE(sim.received().size(), 11);
        QTest::qWait(100);
        QCOMPARE(client.got.size(), 10);
        QCOMPARE(sim.readsCompleted(), 0);
        client.send("AT+READF"); // the tool's next attempt gets the same
        QTRY_COMPARE(client.got.size(), 11);
        QCOMPARE(int(client.last().at(11)), 0);
    }

    void lan_faultScripts_data()
    {
        QTest::addColumn<QString>("faults"); // tarvil-sim's options
        QTest::addColumn<QStringList>("script");
        QTest::addColumn<int>("writes");  // writes completed at the end
        QTest::addColumn<int>("unheard"); // requests not heard
        const QStringList write = writeUntilResult();
        QTest::newRow("ready reply twice, 50 ms apart")
            << "--duplicate ready --duplicate-gap 50" << QStringList{"DATF > READY READY+45"} << 0 << 0;
        QTest::newRow("every block's OK twice")
            << "--duplicate blockxall --duplicate-gap 5" << QStringList{"DATF > READY", "block:1-60 > OK OK"} << 0 << 0;
        QTest::newRow("result twice; the image is written once")
            << "--duplicate result" << write + QStringList{"CONFIG > GOOD GOOD+45"} << 1 << 0;
        QTest::newRow("stray OK right behind the ready reply")
            << "--extra-after ready=OK" << QStringList{"DATF > READY OK", "block:1 > OK"} << 0 << 0;
        QTest::newRow("datagrams from the other address behind the result")
            << "--stray-after result+30=hex:474F4F44 --stray-after result=OK"
            << write + QStringList{"CONFIG > GOOD OK@other GOOD@other+25", "CONFIG > OK"} << 1 << 0;
        QTest::newRow("bytes right before a reply") << "--extra-before config=BAD" << QStringList{"CONFIG > BAD OK"} << 0 << 0;
        QTest::newRow("an oversized datagram before every reply")
            << "--oversize-before anyxall"
            << QStringList{"CONFIG > bytes:300 OK", "READF > bytes:300 readblock:0", "RDY0 > bytes:300 readblock:1"} << 0 << 0;
        QTest::newRow("400 bytes before the ready reply only")
            << "--oversize-before ready --oversize-bytes 400"
            << QStringList{"CONFIG > OK", "DATF > bytes:400 READY", "DATF > READY"} << 0 << 0;
        QTest::newRow("late keep-alive answers arrive after the next reply")
            << "--late configxall --late-by 400" << QStringList{"CONFIG >", "DATF > READY OK+100"} << 0 << 0;

        QTest::newRow("AT+DATF not heard once") << "--lose-request ready" << QStringList{"DATF >", "DATF > READY"} << 0 << 1;
        QTest::newRow("AT+DATF never heard") << "--lose-request readyxall" << QStringList{"DATF >", "DATF >", "DATF >"} << 0 << 3;
        QTest::newRow("a data block not heard and not repeated: the write fails")
            << "--lose-request block:2"
            << QStringList{"DATF > READY", "block:1 > OK", "block:2 >", "block:3-60 > OK", "common > OK", "FPDE >",
                           "CONFIG > BAD"}
            << 0 << 1;
        QTest::newRow("a data block heard when repeated")
            << "--lose-request block:2"
            << QStringList{"DATF > READY", "block:1 > OK", "block:2 >", "block:2 > OK", "block:3-60 > OK", "common > OK",
                           "FPDE >", "CONFIG > GOOD"}
            << 1 << 1;
        QTest::newRow("the common block not heard twice")
            << "--lose-request commonx2"
            << QStringList{"DATF > READY", "block:1-60 > OK", "common >", "common >", "common > OK", "FPDE >", "CONFIG > GOOD"}
            << 1 << 2;
        QTest::newRow("the final AT+CONFIG not heard once")
            << "--lose-request result" << write + QStringList{"CONFIG >", "CONFIG > GOOD"} << 1 << 1;
        QTest::newRow("keep-alives not heard, the result is") // "config" is not the result's request
            << "--lose-request configxall" << QStringList{"CONFIG >", "CONFIG >"} + write + QStringList{"CONFIG > GOOD"}
            << 1 << 2;
        QTest::newRow("AT+READF not heard once")
            << "--lose-request readblock:0" << QStringList{"READF >", "READF > readblock:0", "RDY0 > readblock:1"} << 0 << 1;
        QTest::newRow("an acknowledgement of the read not heard")
            << "--lose-request readblock:2"
            << QStringList{"READF > readblock:0", "RDY0 > readblock:1", "RDY0 >", "RDY0 > readblock:2"} << 0 << 1;
    }
    void lan_faultScripts()
    {
        QFETCH(QString, faults);
        QFETCH(QStringList, script);
        QFETCH(int, writes);
        QFETCH(int, unheard);
        const auto o = options(faults);
        QVERIFY2(o, qPrintable(faults));
        LanSimulator sim;
        QVERIFY(sim.setFaults(o->lanFaults));
        QVERIFY2(sim.start(kSimAddress, port_), qPrintable(sim.errorString()));
        UdpClient client;
        QVERIFY(client.bind(port_));
        runLanScript(sim, client, script);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(sim.writesCompleted(), writes);
        if (writes > 0)
            QCOMPARE(sim.image(), patternImage(20));
        int notHeard = 0;
        for (const LanDatagram &d : sim.received())
            notHeard += d.unheard;
        QCOMPARE(notHeard, unheard);
        // What the faults add is marked; everything else is a proper reply from the simulator's own address.
        for (const LanReply &r : sim.replies()) {
            const bool proper = isOkReply(r.data) || isReadyReply(r.data) || isGoodReply(r.data) || isBadReply(r.data)
                || isReadBlock(r.data) || isReadCommon(r.data) || isReadEnd(r.data);
            if (!r.extra)
                QVERIFY(proper && !r.fromOtherAddress);
        }
    }

    void lan_extraParsing_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("gap");
        QTest::newRow("text") << "ready=OK" << true << QByteArray("OK") << 0;
        QTest::newRow("hex with a gap") << "block:5x2+40=hex:4f4B00" << true << QByteArray("OK\0", 3) << 40;
        QTest::newRow("text with an equals sign") << "result=A=B" << true << QByteArray("A=B") << 0;
        QTest::newRow("odd hex digits") << "ready=hex:4F4" << false << QByteArray() << 0;
        QTest::newRow("no bytes") << "ready=" << false << QByteArray() << 0;
        QTest::newRow("no reply") << "=OK" << false << QByteArray() << 0;
        QTest::newRow("unknown reply") << "reboot=OK" << false << QByteArray() << 0;
    }
    void lan_extraParsing()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        const auto extra = LanExtra::parse(text);
        QCOMPARE(extra.has_value(), valid);
        if (!valid)
            return;
        QFETCH(QByteArray, data);
        QFETCH(int, gap);
        QCOMPARE(extra->data, data);
        QCOMPARE(extra->gap.count(), gap);
    }

    void lan_refusesWhatItCannotDo()
    {
        LanSimulator sim;
        QVERIFY(!sim.setImage(QByteArray(kImageBytes - 1, '\0')));
        QVERIFY(!sim.start(QHostAddress(QStringLiteral("192.0.2.1")), port_));
        QVERIFY(sim.errorString().contains(QStringLiteral("192.0.2.1")));
        QVERIFY(!sim.isRunning());
        QVERIFY(sim.start(kSimAddress, port_));
        LanFaults faults;
        faults.otherMode = OtherAddressMode::Instead;
        faults.otherAddress = QHostAddress(QStringLiteral("192.0.2.1"));
        QVERIFY(!sim.setFaults(faults));
        QVERIFY(!sim.errorString().isEmpty());
        QCOMPARE(sim.faults().otherMode, OtherAddressMode::Off); // the faults before stay
    }

    // --- USB -----------------------------------------------------------------

    void usb_answersPollsAndStoresDataPackets()
    {
        UsbSimulator sim;
        QVERIFY2(sim.open(), qPrintable(sim.errorString()));
        QVERIFY(sim.devicePath().startsWith(QStringLiteral("/dev/")));
        PtyClient client;
        QVERIFY(client.open(sim.devicePath()));
        QSignalSpy frames(&sim, &UsbSimulator::frameReceived);

        client.write(pollFrame());
        QCOMPARE(client.read(1), QByteArray("\x01"));
        client.write(packet(5, 0xAB));
        QCOMPARE(client.read(1), QByteArray("\x01"));
        client.write(packet(5, 0xAB));
        QCOMPARE(client.read(1), QByteArray("\x01"));
        client.write(packet(14201, 0x0D)); // bytes a cooked line would change
        QCOMPARE(client.read(1), QByteArray("\x01"));
        QCOMPARE(sim.polls(), 1);
        QCOMPARE(sim.dataPackets(), 3);
        QCOMPARE(sim.packetsAt(5), 2);
        QCOMPARE(sim.packetsAt(14201), 1);
        QCOMPARE(std::uint8_t(sim.image().at(5)), std::uint8_t(0xAB));
        QCOMPARE(std::uint8_t(sim.image().at(14201)), std::uint8_t(0x0D));
        QCOMPARE(frames.size(), 4);
        QCOMPARE(sim.frames().at(0).kind, FrameKind::Poll);
        QCOMPARE(sim.frames().at(2).index, 1);
        QCOMPARE(sim.frames().at(3).address, std::uint16_t(14201));
        QCOMPARE(sim.frames().at(3).reply, 0x01);
    }

    void usb_serialPortOfTheToolOpensTheDevice()
    {
        UsbSimulator sim;
        QVERIFY(sim.open());
        QSerialPort port(sim.devicePath());
        port.setBaudRate(115200);
        port.setDataBits(QSerialPort::Data8);
        port.setParity(QSerialPort::NoParity);
        port.setStopBits(QSerialPort::OneStop);
        port.setFlowControl(QSerialPort::NoFlowControl);
        QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
        port.setDataTerminalReady(true); // a pseudo-terminal has no modem lines: may refuse
        port.write(pollFrame() + packet(0x1311, 0x11)); // XON and XOFF bytes pass untouched
        QTRY_COMPARE(port.bytesAvailable(), qint64(2));
        QCOMPARE(port.readAll(), QByteArray("\x01\x01"));
        QCOMPARE(sim.packetsAt(0x1311), 1);
        QCOMPARE(std::uint8_t(sim.image().at(0x1311)), std::uint8_t(0x11));
        // The tool's port fails when the device goes away.
        QSignalSpy errors(&port, &QSerialPort::errorOccurred);
        sim.close();
        QTRY_VERIFY(errors.size() > 0 && port.error() != QSerialPort::NoError);
    }

    void usb_noiseAndStrangeFramesGetNoAnswer()
    {
        UsbSimulator sim;
        QVERIFY(sim.open());
        PtyClient client;
        QVERIFY(client.open(sim.devicePath()));
        client.write(QByteArray("\x00;;#\xFF", 5) + packet(1, 0x11));
        QCOMPARE(client.read(1), QByteArray("\x01"));
        QCOMPARE(sim.discardedBytes(), qint64(5));
        client.write(makeFrame('#', 0x0202, 0x02)); // valid CRC, not a poll
        QCOMPARE(client.quiet(), QByteArray());
        QCOMPARE(sim.frames().last().kind, FrameKind::Command);
        client.write(packet(kImageBytes, 0x22)); // outside the image
        QCOMPARE(client.read(1), QByteArray("\x15"));
        QCOMPARE(sim.frames().last().stored, false);
        QCOMPARE(sim.dataPackets(), 2);
    }

    void usb_minimalClientWriteStoresImage()
    {
        UsbSimulator sim;
        QVERIFY(sim.open());
        QSignalSpy completed(&sim, &UsbSimulator::writeCompleted);
        MinimalClient client(kSimAddress, port_);
        const QByteArray image = patternImage(11);
        const ClientResult written = client.usbWrite(sim.devicePath(), image);
        QVERIFY2(written.ok, qPrintable(written.error));
        QCOMPARE(written.requests, kImageBytes + 1);
        QCOMPARE(sim.image(), image);
        QCOMPARE(sim.dataPackets(), kImageBytes + 1);
        QCOMPARE(sim.packetsAt(0), 2); // packet 0 twice, as the tool sends it
        QCOMPARE(sim.packetsAt(1), 1);
        QCOMPARE(sim.writesCompleted(), 1);
        QCOMPARE(completed.size(), 1);
    }

    void usb_nakOnChosenPacketsStoresNothing()
    {
        UsbSimulator sim;
        QVERIFY(sim.open());
        UsbFaults faults;
        faults.nakPackets = {1, 3};
        sim.setFaults(faults);
        PtyClient client;
        QVERIFY(client.open(sim.devicePath()));
        const QList<QByteArray> stream{packet(0, 0x10), packet(1, 0x21), packet(1, 0x22), packet(2, 0x31),
                                       packet(2, 0x32)};
        QByteArray replies;
        for (const QByteArray &p : stream) {
            client.write(p);
            replies += client.read(1);
        }
        QCOMPARE(replies, QByteArray::fromHex("0115011501"));
        QCOMPARE(int(std::uint8_t(sim.image().at(1))), 0x22);
        QCOMPARE(int(std::uint8_t(sim.image().at(2))), 0x32);
        QCOMPARE(sim.packetsAt(1), 1);
        QCOMPARE(sim.frames().at(1).stored, false);

        // The minimal client repeats a rejected packet and still writes it all.
        UsbSimulator second;
        QVERIFY(second.open());
        faults.nakPackets = {1, 5, 100, 14202};
        second.setFaults(faults);
        MinimalClient minimal(kSimAddress, port_);
        const QByteArray image = patternImage(12);
        const ClientResult written = minimal.usbWrite(second.devicePath(), image);
        QVERIFY2(written.ok, qPrintable(written.error));
        QCOMPARE(second.image(), image);
        QCOMPARE(second.dataPackets(), kImageBytes + 1 + 4);
    }

    void usb_randomNaksFollowTheSeed()
    {
        auto run = [](quint32 seed) {
            UsbSimulator sim;
            UsbFaults faults;
            faults.nakRate = 0.3;
            faults.seed = seed;
            sim.setFaults(faults);
            QList<int> naked;
            if (!sim.open())
                return naked;
            PtyClient client;
            if (!client.open(sim.devicePath()))
                return naked;
            for (int i = 0; i < 200; ++i) {
                client.write(packet(i, i & 0xFF));
                if (client.read(1) == QByteArray("\x15"))
                    naked << i;
            }
            return naked;
        };
        const QList<int> first = run(7);
        QVERIFY(first.size() > 30 && first.size() < 90); // about 60 of 200
        QCOMPARE(run(7), first);
        QVERIFY(run(8) != first);
    }

    void usb_failureRepliesOnChosenPacket_data()
    {
        QTest::addColumn<bool>("fatal");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("memory write failure") << false << QByteArray("\x25");
        QTest::newRow("fatal panel-type error") << true << QByteArray("\x02");
    }
    void usb_failureRepliesOnChosenPacket()
    {
        QFETCH(bool, fatal);
        QFETCH(QByteArray, reply);
        UsbSimulator sim;
        QVERIFY(sim.open());
        UsbFaults faults;
        (fatal ? faults.fatalAt : faults.memoryFailureAt) = 2;
        sim.setFaults(faults);
        PtyClient client;
        QVERIFY(client.open(sim.devicePath()));
        QByteArray replies;
        for (int i = 0; i < 4; ++i) {
            client.write(packet(i, 0x40 + i));
            replies += client.read(1);
        }
        QCOMPARE(replies, QByteArray("\x01\x01") + reply + QByteArray("\x01"));
        QCOMPARE(sim.image().at(2), sampleImage().at(2));
        QCOMPARE(sim.image().at(3), char(0x43));
    }

    void usb_stopsAnsweringAfterNPackets()
    {
        UsbSimulator sim;
        QVERIFY(sim.open());
        UsbFaults faults;
        faults.stopAfter = 3;
        sim.setFaults(faults);
        PtyClient client;
        QVERIFY(client.open(sim.devicePath()));
        QByteArray replies;
        for (int i = 0; i < 3; ++i) {
            client.write(packet(i, 1));
            replies += client.read(1);
        }
        QCOMPARE(replies, QByteArray("\x01\x01\x01"));
        client.write(packet(3, 1));
        QCOMPARE(client.quiet(), QByteArray());
        client.write(pollFrame());
        QCOMPARE(client.quiet(), QByteArray());
        QCOMPARE(sim.image().at(3), sampleImage().at(3));
        QCOMPARE(sim.polls(), 1);
    }

    void usb_closesThePseudoTerminal()
    {
        UsbSimulator sim;
        QVERIFY(sim.open());
        UsbFaults faults;
        faults.closeAfter = 2;
        sim.setFaults(faults);
        QSignalSpy closed(&sim, &UsbSimulator::closed);
        PtyClient client;
        QVERIFY(client.open(sim.devicePath()));
        client.write(packet(0, 1));
        client.write(packet(1, 1));
        QCOMPARE(client.read(2), QByteArray("\x01\x01"));
        client.write(packet(2, 1));
        QTRY_COMPARE(closed.size(), 1);
        QVERIFY(!sim.isOpen());
        bool failed = false;
        client.read(1, 2000, &failed);
        QVERIFY(failed); // the tool's port fails

        // Reopened, it is a new device; close() ends it at once.
        QVERIFY(sim.open());
        sim.setFaults({});
        PtyClient again;
        QVERIFY(again.open(sim.devicePath()));
        again.write(pollFrame());
        QCOMPARE(again.read(1), QByteArray("\x01"));
        sim.close();
        QCOMPARE(closed.size(), 2);
        failed = false;
        again.read(1, 2000, &failed);
        QVERIFY(failed);

        MinimalClient minimal(kSimAddress, port_);
        QVERIFY(sim.open());
        faults.closeAfter = 100;
        sim.setFaults(faults);
        const ClientResult written = minimal.usbWrite(sim.devicePath(), patternImage(13));
        QVERIFY(!written.ok);
        QVERIFY(written.error.contains(QStringLiteral("port failed")));
    }

    void usb_replyFaults_data()
    {
        QTest::addColumn<QString>("faults");
        QTest::addColumn<QStringList>("frames");   // poll, packet:ADDRESS; written in one go
        QTest::addColumn<QByteArray>("replies");
        QTest::addColumn<QList<int>>("minGapMs"); // each reply at least this long after the one before (or the write)
        QTest::addColumn<QList<bool>>("held");
        const QList<int> none{0, 0, 0};
        QTest::newRow("paced: three polls at once get three bytes apart")
            << "--paced 20" << QStringList{"poll", "poll", "poll"} << QByteArray::fromHex("010101") << QList<int>{18, 18, 18}
            << QList<bool>{false, false, false};
        QTest::newRow("paced for the first two replies only")
            << "--paced 30 --paced-count 2" << QStringList{"poll", "poll", "poll"} << QByteArray::fromHex("010101")
            << QList<int>{28, 28, 0} << QList<bool>{false, false, false};
        QTest::newRow("the next poll's answer stalled, the one behind waits")
            << "--stall poll --stall-for 150" << QStringList{"poll", "poll"} << QByteArray::fromHex("0101")
            << QList<int>{145, 0} << QList<bool>{true, false};
        QTest::newRow("a packet's answer stalled keeps its place")
            << "--stall packet:1 --stall-for 120" << QStringList{"packet:3", "packet:4", "packet:5"}
            << QByteArray::fromHex("010101") << QList<int>{0, 115, 0} << QList<bool>{false, true, false};
        QTest::newRow("stalled and paced")
            << "--paced 10 --stall poll:1 --stall-for 100" << QStringList{"poll", "poll", "poll"}
            << QByteArray::fromHex("010101") << QList<int>{9, 90, 9} << QList<bool>{false, true, false};
        QTest::newRow("a poll answered 0x25") << "--answer poll:1=25" << QStringList{"poll", "poll", "poll"}
                                              << QByteArray::fromHex("012501") << none << QList<bool>{false, false, false};
        QTest::newRow("a packet answered 0x15 is not stored")
            << "--answer packet:0=15" << QStringList{"packet:3", "packet:4"} << QByteArray::fromHex("1501") << none
            << QList<bool>{false, false};
        QTest::newRow("each address of a range refused twice first")
            << "--nak-each 2 --nak-range 5-6"
            << QStringList{"packet:5", "packet:5", "packet:5", "packet:7", "packet:6", "packet:6", "packet:6", "packet:5"}
            << QByteArray::fromHex("1515010115150101") << QList<int>(8, 0) << QList<bool>(8, false);
    }
    void usb_replyFaults()
    {
        QFETCH(QString, faults);
        QFETCH(QStringList, frames);
        QFETCH(QByteArray, replies);
        QFETCH(QList<int>, minGapMs);
        QFETCH(QList<bool>, held);
        const auto o = options(faults);
        QVERIFY2(o, qPrintable(faults));
        UsbSimulator sim;
        QVERIFY(sim.open());
        sim.setFaults(o->usbFaults);
        PtyClient client;
        QVERIFY(client.open(sim.devicePath()));
        auto dataFor = [](int address) { return (address * 37 + 11) & 0xFF; };
        QByteArray stream;
        for (const QString &f : frames)
            stream += f == QLatin1String("poll") ? pollFrame() : packet(f.mid(7).toInt(), dataFor(f.mid(7).toInt()));
        QElapsedTimer clock;
        clock.start();
        client.write(stream);
        QByteArray got;
        QList<qint64> at;
        while (got.size() < replies.size() && clock.elapsed() < 5000) {
            const QByteArray more = client.read(1, 5);
            for (char c : more) {
                got += c;
                at << clock.elapsed();
            }
        }
        QCOMPARE(got.toHex(), replies.toHex());
        QCOMPARE(client.quiet(50), QByteArray());
        for (qsizetype i = 0; i < at.size(); ++i) {
            const qint64 gap = at.at(i) - (i == 0 ? 0 : at.at(i - 1));
            QVERIFY2(gap >= minGapMs.at(i), qPrintable(QStringLiteral("reply %1 after %2 ms").arg(i).arg(gap)));
        }
        QCOMPARE(sim.frames().size(), frames.size());
        for (qsizetype i = 0; i < frames.size(); ++i)
            QCOMPARE(sim.frames().at(i).held, held.at(i));
        // An address holds its byte once a frame for it was acknowledged.
        for (qsizetype i = 0; i < frames.size(); ++i) {
            if (sim.frames().at(i).kind != FrameKind::Data)
                continue;
            const int address = sim.frames().at(i).address;
            bool acknowledged = false;
            for (qsizetype k = 0; k < frames.size(); ++k)
                acknowledged = acknowledged || (sim.frames().at(k).kind == FrameKind::Data
                                                && sim.frames().at(k).address == address && got.at(k) == '\x01');
            QCOMPARE(int(std::uint8_t(sim.image().at(address))),
                     acknowledged ? dataFor(address) : int(std::uint8_t(sampleImage().at(address))));
        }
    }

    void usb_closingDropsTheRepliesStillHeld()
    {
        UsbSimulator sim;
        QVERIFY(sim.open());
        const auto o = options(QStringLiteral("--stall pollxall --stall-for 100"));
        QVERIFY(o);
        sim.setFaults(o->usbFaults);
        PtyClient client;
        QVERIFY(client.open(sim.devicePath()));
        client.write(pollFrame());
        QTRY_COMPARE(sim.polls(), 1);
        QVERIFY(sim.open()); // a new device; nothing of the old one follows
        PtyClient again;
        QVERIFY(again.open(sim.devicePath()));
        QCOMPARE(again.quiet(200), QByteArray());
        again.write(pollFrame());
        QCOMPARE(again.read(1, 2000), QByteArray("\x01"));
    }

    void usb_silenceDropsAndDelay()
    {
        UsbSimulator sim;
        QVERIFY(sim.open());
        PtyClient client;
        QVERIFY(client.open(sim.devicePath()));

        UsbFaults faults;
        faults.silent = true;
        sim.setFaults(faults);
        client.write(pollFrame());
        client.write(packet(0, 9));
        QCOMPARE(client.quiet(), QByteArray());
        QCOMPARE(sim.image(), sampleImage());

        faults = {};
        faults.dropFirst = 1;
        faults.dropReplies << ReplySelector{ReplySelector::Packet, 2, 1};
        sim.setFaults(faults);
        sim.clearLog();
        client.write(pollFrame()); // lost
        QCOMPARE(client.quiet(), QByteArray());
        client.write(packet(1, 1)); // packet 0
        client.write(packet(2, 2)); // packet 1
        QCOMPARE(client.read(2), QByteArray("\x01\x01"));
        client.write(packet(3, 3)); // packet 2: lost, but stored
        QCOMPARE(client.quiet(), QByteArray());
        QCOMPARE(sim.image().at(3), char(3));
        QVERIFY(sim.frames().last().replyLost);

        faults = {};
        faults.delay = 150ms;
        sim.setFaults(faults);
        QElapsedTimer t;
        t.start();
        client.write(pollFrame());
        QCOMPARE(client.read(1), QByteArray("\x01"));
        QVERIFY(t.elapsed() >= 140);

        // A bridge's latency timer: every answer that long after its own
        // frame, frames that come together answered in their order.
        faults = {};
        faults.latency = 80ms;
        faults.nakPackets = {1};
        sim.setFaults(faults);
        sim.clearLog();
        t.start();
        client.write(pollFrame());
        QCOMPARE(client.read(1), QByteArray("\x01"));
        QVERIFY(t.elapsed() >= 75);
        t.start();
        client.write(packet(4, 4) + packet(5, 5));
        QCOMPARE(client.read(2), QByteArray("\x01\x15"));
        QVERIFY(t.elapsed() >= 75);
    }

    // --- the command line --------------------------------------------------

    void options_defaultsRunBothLinks()
    {
        const ParsedOptions p = parseSimOptions({});
        QVERIFY(p.options);
        QVERIFY(p.options->lan && p.options->usb);
        QCOMPARE(p.options->lanAddress, kSimAddress);
        QCOMPARE(p.options->lanPort, quint16(9999));
        QVERIFY(!p.options->lanFaults.any() && !p.options->usbFaults.any());
    }

    void options_linksAndFaults()
    {
        auto parse = [](const QString &line) { return parseSimOptions(line.split(QLatin1Char(' '), Qt::SkipEmptyParts)); };

        auto p = parse(QStringLiteral("--lan"));
        QVERIFY(p.options && p.options->lan && !p.options->usb);
        QCOMPARE(p.options->lanAddress, kSimAddress);
        p = parse(QStringLiteral("--lan 127.0.0.5:4000 --image /tmp/x.img"));
        QVERIFY(p.options && p.options->lan && !p.options->usb);
        QCOMPARE(p.options->lanAddress, QHostAddress(QStringLiteral("127.0.0.5")));
        QCOMPARE(p.options->lanPort, quint16(4000));
        QCOMPARE(p.options->imageFile, QStringLiteral("/tmp/x.img"));
        p = parse(QStringLiteral("--lan --usb --quiet"));
        QVERIFY(p.options && p.options->lan && p.options->usb && p.options->quiet);
        p = parse(QStringLiteral("--usb --lan=127.0.0.9"));
        QVERIFY(p.options && p.options->usb);
        QCOMPARE(p.options->lanAddress, QHostAddress(QStringLiteral("127.0.0.9")));
        p = parse(QStringLiteral("--lan --delay=5 -h"));
        QVERIFY(p.options && p.options->lan && p.options->help);
        QCOMPARE(p.options->lanAddress, kSimAddress);
        QCOMPARE(p.options->lanFaults.delay, 5ms);

        p = parse(QStringLiteral("--silent --drop-first 2 --drop-every=3 --delay 40 --drop-reply-to block:5,packet:7x2"));
        QVERIFY(p.options);
        const LanFaults &lan = p.options->lanFaults;
        const UsbFaults &usb = p.options->usbFaults;
        QVERIFY(lan.silent && usb.silent);
        QCOMPARE(lan.dropFirst, 2);
        QCOMPARE(usb.dropEvery, 3);
        QCOMPARE(usb.delay, 40ms);
        QCOMPARE(lan.dropReplies, (QList<ReplySelector>{{ReplySelector::Block, 5, 1}}));
        QCOMPARE(usb.dropReplies, (QList<ReplySelector>{{ReplySelector::Packet, 7, 2}}));

        p = parse(QStringLiteral("--read-twice-altered 4 --early-end continue --stray-from 127.0.0.3 --fail-write "
                                 "--stop-read-after 60"));
        QVERIFY(p.options);
        QCOMPARE(p.options->lanFaults.duplicateReadBlock, 4);
        QVERIFY(p.options->lanFaults.alterDuplicate);
        QCOMPARE(p.options->lanFaults.earlyEnd, EarlyEnd::ThenContinue);
        QCOMPARE(p.options->lanFaults.otherMode, OtherAddressMode::Also);
        QCOMPARE(p.options->lanFaults.otherAddress, kOtherAddress);
        QVERIFY(p.options->lanFaults.failWrite);
        QCOMPARE(p.options->lanFaults.stopReadAfter, 60);

        p = parse(QStringLiteral("--nak 1,5,9 --nak-rate 0.25 --seed 42 --mem-fail 7 --fatal 8 --stop-after 100 "
                                 "--close-after 200"));
        QVERIFY(p.options);
        QCOMPARE(p.options->usbFaults.nakPackets, (QSet<int>{1, 5, 9}));
        QCOMPARE(p.options->usbFaults.nakRate, 0.25);
        QCOMPARE(p.options->usbFaults.seed, quint32(42));
        QCOMPARE(p.options->usbFaults.memoryFailureAt, 7);
        QCOMPARE(p.options->usbFaults.fatalAt, 8);
        QCOMPARE(p.options->usbFaults.stopAfter, 100);
        QCOMPARE(p.options->usbFaults.closeAfter, 200);

        p = parse(QStringLiteral("--duplicate ready,blockxall --duplicate-gap 20 --extra-after ready=OK "
                                 "--extra-before config=hex:00FF --stray-after result+40=GOOD --oversize-before anyxall "
                                 "--oversize-bytes 512 --lose-request block:7x2 --late configxall --late-by 90"));
        QVERIFY(p.options);
        const LanFaults &more = p.options->lanFaults;
        QCOMPARE(more.duplicateReplies,
                 (QList<ReplySelector>{{ReplySelector::Ready, -1, 1}, {ReplySelector::Block, -1, 0}}));
        QCOMPARE(more.duplicateGap, 20ms);
        QCOMPARE(more.extras, (QList<LanExtra>{{{ReplySelector::Ready, -1, 1}, "OK", false, 0ms, false},
                                               {{ReplySelector::Config, -1, 1}, QByteArray("\x00\xFF", 2), true, 0ms, false},
                                               {{ReplySelector::Result, -1, 1}, "GOOD", false, 40ms, true}}));
        QCOMPARE(more.oversizeBefore, (QList<ReplySelector>{{ReplySelector::Any, -1, 0}}));
        QCOMPARE(more.oversizeBytes, 512);
        QCOMPARE(more.lostRequests, (QList<ReplySelector>{{ReplySelector::Block, 7, 2}}));
        QCOMPARE(more.lateReplies, (QList<ReplySelector>{{ReplySelector::Config, -1, 0}}));
        QCOMPARE(more.lateBy, 90ms);
        QVERIFY(more.any());

        p = parse(QStringLiteral("--paced 2 --paced-count 300 --stall poll:4 --stall-for 700 --answer poll=25 "
                                 "--answer packet:9=15 --nak-each 3 --nak-range 100-2000"));
        QVERIFY(p.options);
        const UsbFaults &usbMore = p.options->usbFaults;
        QCOMPARE(usbMore.pace, 2ms);
        QCOMPARE(usbMore.pacedReplies, 300);
        QCOMPARE(usbMore.stallReplies, (QList<ReplySelector>{{ReplySelector::Poll, 4, 1}}));
        QCOMPARE(usbMore.stallFor, 700ms);
        QCOMPARE(usbMore.answers, (QList<UsbFaults::Answer>{{{ReplySelector::Poll, -1, 1}, 0x25},
                                                            {{ReplySelector::Packet, 9, 1}, 0x15}}));
        QCOMPARE(usbMore.nakTimes, 3);
        QCOMPARE(usbMore.nakFrom, 100);
        QCOMPARE(usbMore.nakTo, 2000);
        QVERIFY(usbMore.any());
        QVERIFY(!p.options->lanFaults.any());

        // The bridge's latency is the adapter, not a fault, and USB's alone.
        p = parse(QStringLiteral("--usb --usb-latency 16"));
        QVERIFY(p.options && p.options->usb && !p.options->lan);
        QCOMPARE(p.options->usbFaults.latency, 16ms);
        QCOMPARE(p.options->usbFaults.delay, 0ms);
        QVERIFY(!p.options->usbFaults.any() && !p.options->lanFaults.any());
    }

    void options_refusesWrongCommandLines_data()
    {
        QTest::addColumn<QString>("line");
        QTest::newRow("short address") << "--lan 1.2.3";
        QTest::newRow("port 0") << "--lan 127.0.0.2:0";
        QTest::newRow("port too big") << "--lan 127.0.0.2:70000";
        QTest::newRow("missing value") << "--delay";
        QTest::newRow("negative count") << "--drop-first -1";
        QTest::newRow("rate above 1") << "--nak-rate 2";
        QTest::newRow("unknown mode") << "--early-end soon";
        QTest::newRow("read block 60") << "--read-twice 60";
        QTest::newRow("unknown option") << "--reboot";
        QTest::newRow("stray word") << "lan";
        QTest::newRow("stray word after a flag") << "--usb lan";
        QTest::newRow("single-dash word") << "-quiet2";
        QTest::newRow("value on a flag") << "--usb=1";
        QTest::newRow("bad selector") << "--drop-reply-to result:3";
        QTest::newRow("bad other address") << "--reply-from localhost";
        QTest::newRow("a USB reply for a LAN fault") << "--duplicate poll";
        QTest::newRow("a LAN reply for a USB fault") << "--stall block:3";
        QTest::newRow("extra without bytes") << "--extra-after ready";
        QTest::newRow("a gap before a reply") << "--extra-before ready+20=OK";
        QTest::newRow("oversize that fits a reply") << "--oversize-bytes 255";
        QTest::newRow("answer byte not hex") << "--answer poll:3=zz";
        QTest::newRow("answer of two bytes") << "--answer poll:3=0101";
        QTest::newRow("answer to a LAN reply") << "--answer ready=25";
        QTest::newRow("reversed range") << "--nak-range 9-3";
        QTest::newRow("range past the image") << "--nak-range 0-14202";
        QTest::newRow("a latency over ten seconds") << "--usb-latency 10001";
    }
    void options_refusesWrongCommandLines()
    {
        QFETCH(QString, line);
        const ParsedOptions p = parseSimOptions(line.split(QLatin1Char(' ')));
        QVERIFY(!p.options);
        QVERIFY(!p.error.isEmpty());
    }

    void program_helpDocumentsEveryOption()
    {
        const QString help = simHelpText();
        const QStringList names = simOptionNames();
        for (const char *name : {"--lan", "--usb", "--image", "--help", "--silent", "--nak", "--close-after"})
            QVERIFY2(names.contains(QLatin1String(name)), name);
        for (const QString &name : names)
            QVERIFY2(help.contains(name + QLatin1Char(' ')) || help.contains(name + QLatin1Char('\n')), qPrintable(name));
        const QString program = simProgram();
        if (program.isEmpty())
            QSKIP("tarvil-sim is not built next to the tests");
        QProcess process;
        process.start(program, {QStringLiteral("--help")});
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(process.readAllStandardOutput()), help);
    }

    void program_keepsTheImageFileUpToDate()
    {
        const QString program = simProgram();
        if (program.isEmpty())
            QSKIP("tarvil-sim is not built next to the tests");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString file = dir.filePath(QStringLiteral("transceiver.img"));
        const quint16 port = quint16(port_ + 5);

        // A file that is no image is refused and left alone.
        {
            QFile bad(file);
            QVERIFY(bad.open(QIODevice::WriteOnly));
            bad.write("not an image");
        }
        QProcess refused;
        refused.start(program, {QStringLiteral("--lan"), QStringLiteral("127.0.0.2:%1").arg(port),
                                QStringLiteral("--image"), file});
        QVERIFY(refused.waitForFinished(20000));
        QCOMPARE(refused.exitCode(), 1);
        QVERIFY(QString::fromUtf8(refused.readAllStandardError()).contains(file));
        QCOMPARE(QFileInfo(file).size(), qint64(12));
        QVERIFY(QFile::remove(file));

        QProcess sim;
        sim.start(program, {QStringLiteral("--lan"), QStringLiteral("127.0.0.2:%1").arg(port), QStringLiteral("--usb"),
                            QStringLiteral("--image"), file});
        QVERIFY(sim.waitForStarted(20000));
        const auto stopIt = qScopeGuard([&sim] {
            if (sim.state() != QProcess::NotRunning) {
                sim.kill();
                sim.waitForFinished(5000);
            }
        });
        QString output;
        QTRY_VERIFY_WITH_TIMEOUT((output += QString::fromUtf8(sim.readAllStandardOutput())).contains(QStringLiteral("Ctrl+C")),
                                 20000);
        QVERIFY(output.contains(QStringLiteral("127.0.0.2:%1").arg(port)));

        MinimalClient client(kSimAddress, port);
        client.setTimeLimit(20s);
        const QByteArray image = patternImage(14);
        const ClientResult written = client.lanWrite(image);
        QVERIFY2(written.ok, qPrintable(written.error));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(file).size() == kImageBytes, 20000);
        QFile saved(file);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), image);
        const ClientResult read = client.lanRead();
        QVERIFY2(read.ok, qPrintable(read.error));
        QCOMPARE(read.image, image);

        // One transceiver behind both links: a USB write shows in the file
        // and in the next LAN read.
        const QRegularExpressionMatch device = QRegularExpression(QStringLiteral("USB: (\\S+)")).match(output);
        QVERIFY2(device.hasMatch(), qPrintable(output));
        const QByteArray second = patternImage(15);
        const ClientResult usbWritten = client.usbWrite(device.captured(1), second);
        QVERIFY2(usbWritten.ok, qPrintable(usbWritten.error));
        // The file is replaced as a whole, never rewritten in place: read it anew.
        auto fileHolds = [&file](const QByteArray &bytes) {
            QFile f(file);
            return f.open(QIODevice::ReadOnly) && f.readAll() == bytes;
        };
        QTRY_VERIFY_WITH_TIMEOUT(fileHolds(second), 20000);
        const ClientResult readAgain = client.lanRead();
        QVERIFY2(readAgain.ok, qPrintable(readAgain.error));
        QCOMPARE(readAgain.image, second);

        sim.terminate();
        QVERIFY(sim.waitForFinished(20000));
        QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
        output += QString::fromUtf8(sim.readAllStandardOutput());
        QVERIFY(output.contains(QStringLiteral("data block 60 -> OK")));
        QVERIFY(output.contains(QStringLiteral("LAN: 1 writes, 0 failed writes, 2 reads; USB: 1 writes")));
    }

    void program_controlConnection_carriesTheUsbSide()
    {
        const QString program = simProgram();
        if (program.isEmpty())
            QSKIP("tarvil-sim is not built next to the tests");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const quint16 port = quint16(port_ + 6);
        QProcess sim;
        sim.start(program, {QStringLiteral("--control"), QString::number(port), QStringLiteral("--quiet")});
        QVERIFY(sim.waitForStarted(20000));
        const auto stopIt = qScopeGuard([&sim] {
            if (sim.state() != QProcess::NotRunning) {
                sim.kill();
                sim.waitForFinished(5000);
            }
        });
        QTcpSocket control;
        for (QElapsedTimer t; control.state() != QAbstractSocket::ConnectedState;) {
            if (!t.isValid())
                t.start();
            QVERIFY2(t.elapsed() < 20000, "the simulator does not take the control connection");
            control.abort();
            control.connectToHost(QHostAddress::LocalHost, port);
            if (!control.waitForConnected(500))
                QTest::qWait(50);
        }
        // One command, its answer; the event lines on the way are set aside.
        QList<QJsonObject> events;
        auto call = [&](const QJsonObject &command) {
            control.write(QJsonDocument(command).toJson(QJsonDocument::Compact) + '\n');
            control.flush();
            for (QElapsedTimer t; !t.isValid() || t.elapsed() < 20000;) {
                if (!t.isValid())
                    t.start();
                while (control.canReadLine()) {
                    const QJsonObject line = QJsonDocument::fromJson(control.readLine()).object();
                    if (line.contains(QStringLiteral("event")))
                        events << line;
                    else
                        return line;
                }
                control.waitForReadyRead(100);
            }
            return QJsonObject{};
        };

        // The pseudo-terminal, also reachable through a link where the
        // command names one (as a Wine prefix's dosdevices/comN).
        const QString link = dir.filePath(QStringLiteral("com12"));
        const QJsonObject opened = call({{"cmd", "openUsb"}, {"link", link}});
        QVERIFY2(opened.value("ok").toBool(), qPrintable(opened.value("error").toString()));
        QCOMPARE(QFileInfo(link).symLinkTarget(), opened.value("path").toString());
        UsbFaults slow;
        slow.latency = 60ms;
        QVERIFY(call({{"cmd", "setUsbFaults"}, {"faults", usbFaultsToJson(slow)}}).value("ok").toBool());

        PtyClient client;
        QVERIFY(client.open(link));
        QElapsedTimer t;
        t.start();
        client.write(pollFrame());
        QCOMPARE(client.read(1), QByteArray("\x01"));
        QVERIFY(t.elapsed() >= 55);
        client.write(packet(0, 0x5A));
        QCOMPARE(client.read(1), QByteArray("\x01"));
        const QJsonObject state = call({{"cmd", "usbState"}});
        QCOMPARE(state.value("polls").toInt(), 1);
        QCOMPARE(state.value("dataPackets").toInt(), 1);
        QCOMPARE(QByteArray::fromBase64(state.value("image").toString().toLatin1()).at(0), char(0x5A));
        QCOMPARE(call({{"cmd", "usbPacketsAt"}, {"address", 0}}).value("count").toInt(), 1);
        // Each frame came as an event line, before the answers that follow it.
        QCOMPARE(events.size(), 2);
        QCOMPARE(events.at(0).value("frame").toObject().value("kind").toInt(), int(FrameKind::Poll));
        QCOMPARE(events.at(1).value("frame").toObject().value("data").toInt(), 0x5A);
        QVERIFY(call({{"cmd", "clearUsbLog"}}).value("ok").toBool());
        QCOMPARE(call({{"cmd", "usbState"}}).value("polls").toInt(), 0);

        // The link goes with the connection.
        control.disconnectFromHost();
        QVERIFY(sim.waitForFinished(20000));
        QVERIFY(!QFileInfo(link).isSymLink());
    }

private:
    static QString simProgram()
    {
        const QString path = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../tools/sim/tarvil-sim"));
        return QFileInfo(path).isExecutable() ? QFileInfo(path).canonicalFilePath() : QString();
    }
};

QTEST_GUILESS_MAIN(SimulatorTest)
#include "tst_simulator.moc"
