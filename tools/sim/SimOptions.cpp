#include "SimOptions.h"

#include <QCommandLineParser>
#include <QHash>

#include <functional>
#include <limits>

namespace tarvil::sim {

namespace {

using Apply = std::function<QString(SimOptions &, const QString &)>;

enum class Value { None, Required, Optional };

struct OptionDef {
    const char *group;
    const char *name; // without dashes
    const char *placeholder;
    Value value;
    const char *help;
    Apply apply;
};

std::optional<int> count(const QString &text, int max = std::numeric_limits<int>::max())
{
    bool ok = false;
    const qlonglong v = text.toLongLong(&ok);
    if (!ok || v < 0 || v > max || text.startsWith(QLatin1Char('+')))
        return std::nullopt;
    return int(v);
}

std::optional<QHostAddress> ipv4(const QString &text)
{
    QHostAddress a;
    if (!a.setAddress(text) || a.protocol() != QAbstractSocket::IPv4Protocol
        || text.count(QLatin1Char('.')) != 3)
        return std::nullopt;
    return a;
}

QString badValue(const char *name, const QString &value, const char *expected)
{
    return QStringLiteral("--%1: \"%2\" is not %3").arg(QLatin1String(name), value, QLatin1String(expected));
}

Apply countInto(const char *name, const std::function<void(SimOptions &, int)> &set, int max = std::numeric_limits<int>::max())
{
    return [name, set, max](SimOptions &o, const QString &v) -> QString {
        const auto n = count(v, max);
        if (!n)
            return badValue(name, v, max == std::numeric_limits<int>::max() ? "a number of 0 or more"
                                                                               : "a number in the allowed range");
        set(o, *n);
        return {};
    };
}

bool isUsbSelector(ReplySelector::Kind k) { return k == ReplySelector::Poll || k == ReplySelector::Packet; }

// A comma-separated list of selectors of one link into `into`.
Apply selectorsInto(const char *name, bool usb, const std::function<QList<ReplySelector> &(SimOptions &)> &into)
{
    return [name, usb, into](SimOptions &o, const QString &v) -> QString {
        const QStringList items = v.split(QLatin1Char(','), Qt::SkipEmptyParts);
        if (items.isEmpty())
            return badValue(name, v, "a list of replies");
        for (const QString &item : items) {
            const auto s = ReplySelector::parse(item);
            if (!s || isUsbSelector(s->kind) != usb)
                return badValue(name, item, usb ? "a USB reply such as poll, poll:3 or packet:7"
                                                : "a LAN reply such as ready, block:5, result or any");
            into(o).append(*s);
        }
        return {};
    };
}

Apply extraInto(const char *name, bool before, bool fromOther)
{
    return [name, before, fromOther](SimOptions &o, const QString &v) -> QString {
        auto extra = LanExtra::parse(v);
        if (!extra || isUsbSelector(extra->at.kind) || (before && extra->gap.count() > 0))
            return badValue(name, v, before ? "REPLY=BYTES, such as result=OK" : "REPLY[+MS]=BYTES, such as ready=OK");
        extra->before = before;
        extra->fromOther = fromOther;
        o.lanFaults.extras.append(*extra);
        return {};
    };
}

std::chrono::milliseconds millis(int n) { return std::chrono::milliseconds(n); }

const QList<OptionDef> &options()
{
    static const QList<OptionDef> table{
        {"Links (without --lan or --usb, both run)", "lan", "ADDR[:PORT]", Value::Optional,
         "Simulate the LAN link on ADDR (default 127.0.0.2), UDP port PORT (default 9999).",
         [](SimOptions &o, const QString &v) -> QString {
             o.lan = true;
             if (v.isEmpty())
                 return {};
             const qsizetype colon = v.indexOf(QLatin1Char(':'));
             const QString host = colon < 0 ? v : v.left(colon);
             const auto address = ipv4(host);
             if (!address)
                 return badValue("lan", host, "an IPv4 address");
             o.lanAddress = *address;
             if (colon >= 0) {
                 const auto port = count(v.mid(colon + 1), 65535);
                 if (!port || *port == 0)
                     return badValue("lan", v.mid(colon + 1), "a port number 1..65535");
                 o.lanPort = quint16(*port);
             }
             return {};
         }},
        {"", "usb", "", Value::None, "Simulate the USB link on a new pseudo-terminal; its device path is printed.",
         [](SimOptions &o, const QString &) { o.usb = true; return QString(); }},
        {"", "usb-latency", "MS", Value::Required,
         "Send every USB answer MS milliseconds after the frame it answers has arrived, as a USB bridge's latency "
         "timer would (FTDI's is 16 ms unless lowered): the tool's answer time, its prediction and the time left "
         "can be tried without hardware.",
         countInto("usb-latency", [](SimOptions &o, int n) { o.usbFaults.latency = millis(n); }, 10000)},
        {"", "image", "FILE", Value::Required,
         "Start with the raw 14 202-byte image in FILE, if it exists, and write the image back to FILE after "
         "every completed write. Without it the simulator starts with a sample image of five objects.",
         [](SimOptions &o, const QString &v) { o.imageFile = v; return QString(); }},
        {"", "control", "PORT", Value::Required,
         "Serve one test program on 127.0.0.1:PORT (TCP) instead: it starts, faults and reads the LAN side "
         "through that connection, and the simulator ends when it closes (the Windows tests under Wine use it).",
         [](SimOptions &o, const QString &v) -> QString {
             const auto port = count(v, 65535);
             if (!port || *port == 0)
                 return badValue("control", v, "a port number 1..65535");
             o.controlPort = quint16(*port);
             return {};
         }},
        {"", "quiet", "", Value::None, "Print no line per request.",
         [](SimOptions &o, const QString &) { o.quiet = true; return QString(); }},
        {"", "help", "", Value::None, "Show this text.",
         [](SimOptions &o, const QString &) { o.help = true; return QString(); }},

        {"Faults on both links", "silent", "", Value::None, "Answer nothing at all.",
         [](SimOptions &o, const QString &) {
             o.lanFaults.silent = o.usbFaults.silent = true;
             return QString();
         }},
        {"", "drop-first", "N", Value::Required, "Lose the first N replies.",
         countInto("drop-first", [](SimOptions &o, int n) { o.lanFaults.dropFirst = o.usbFaults.dropFirst = n; })},
        {"", "drop-every", "K", Value::Required, "Lose every K-th reply (2: the 2nd, the 4th, ...).",
         countInto("drop-every", [](SimOptions &o, int n) { o.lanFaults.dropEvery = o.usbFaults.dropEvery = n; })},
        {"", "drop-reply-to", "LIST", Value::Required,
         "Lose the replies to chosen requests. LIST is comma-separated: config, ready, block[:N], common, "
         "result, readblock[:N], readcommon, readend, any (LAN); poll[:N], packet[:I] (USB, counted from 0). "
         "Each item takes one reply; add xTIMES or xall for more (block:5x2, packet:100xall).",
         [](SimOptions &o, const QString &v) -> QString {
             const QStringList items = v.split(QLatin1Char(','), Qt::SkipEmptyParts);
             if (items.isEmpty())
                 return badValue("drop-reply-to", v, "a list of requests");
             for (const QString &item : items) {
                 const auto s = ReplySelector::parse(item);
                 if (!s)
                     return badValue("drop-reply-to", item, "a request such as block:5, result or packet:7");
                 (isUsbSelector(s->kind) ? o.usbFaults.dropReplies : o.lanFaults.dropReplies).append(*s);
             }
             return {};
         }},
        {"", "delay", "MS", Value::Required, "Send every reply MS milliseconds late.",
         countInto("delay", [](SimOptions &o, int n) {
             o.lanFaults.delay = o.usbFaults.delay = std::chrono::milliseconds(n);
         })},

        {"LAN faults", "read-twice", "B", Value::Required, "Send read block B (0..59) twice, with the same number.",
         countInto("read-twice", [](SimOptions &o, int n) { o.lanFaults.duplicateReadBlock = n; }, kBlocks - 1)},
        {"", "read-twice-altered", "B", Value::Required,
         "As --read-twice, the second copy with other record bytes (it must not be stored).",
         countInto("read-twice-altered", [](SimOptions &o, int n) {
             o.lanFaults.duplicateReadBlock = n;
             o.lanFaults.alterDuplicate = true;
         }, kBlocks - 1)},
        {"", "early-end", "MODE", Value::Required,
         "Send the end of a read before the common block. MODE stop: in its place, and the read goes no "
         "further; MODE continue: the common block and the real end follow.",
         [](SimOptions &o, const QString &v) -> QString {
             if (v == QLatin1String("stop"))
                 o.lanFaults.earlyEnd = EarlyEnd::ThenStop;
             else if (v == QLatin1String("continue"))
                 o.lanFaults.earlyEnd = EarlyEnd::ThenContinue;
             else
                 return badValue("early-end", v, "stop or continue");
             return {};
         }},
        {"", "reply-from", "ADDR", Value::Required,
         "Send every reply from ADDR (such as 127.0.0.3; a second socket on the same port) instead of the "
         "simulator's own address.",
         [](SimOptions &o, const QString &v) -> QString {
             const auto a = ipv4(v);
             if (!a)
                 return badValue("reply-from", v, "an IPv4 address");
             o.lanFaults.otherAddress = *a;
             o.lanFaults.otherMode = OtherAddressMode::Instead;
             return {};
         }},
        {"", "stray-from", "ADDR", Value::Required,
         "Send every reply from ADDR first, then from the simulator's own address.",
         [](SimOptions &o, const QString &v) -> QString {
             const auto a = ipv4(v);
             if (!a)
                 return badValue("stray-from", v, "an IPv4 address");
             o.lanFaults.otherAddress = *a;
             o.lanFaults.otherMode = OtherAddressMode::Also;
             return {};
         }},
        {"", "fail-write", "", Value::None, "Answer every write with the failure reply \"BAD\"; the image stays.",
         [](SimOptions &o, const QString &) { o.lanFaults.failWrite = true; return QString(); }},
        {"", "stop-read-after", "N", Value::Required,
         "Send the first N datagrams of a read, then fall silent (N = 60 loses the common block).",
         countInto("stop-read-after", [](SimOptions &o, int n) { o.lanFaults.stopReadAfter = n; })},
        {"", "duplicate", "LIST", Value::Required,
         "Send the chosen replies twice (LIST as for --drop-reply-to; any is every reply), the copy "
         "--duplicate-gap later.",
         selectorsInto("duplicate", false, [](SimOptions &o) -> QList<ReplySelector> & { return o.lanFaults.duplicateReplies; })},
        {"", "duplicate-gap", "MS", Value::Required, "Milliseconds between a reply and its copy (default 50).",
         countInto("duplicate-gap", [](SimOptions &o, int n) { o.lanFaults.duplicateGap = millis(n); })},
        {"", "extra-after", "REPLY[+MS]=BYTES", Value::Required,
         "Send BYTES right behind the chosen reply (or MS milliseconds later): ready=OK sends a stray \"OK\" "
         "behind the ready reply. BYTES is text, or hex: and hexadecimal digits. May be given more than once.",
         extraInto("extra-after", false, false)},
        {"", "extra-before", "REPLY=BYTES", Value::Required, "Send BYTES right before the chosen reply.",
         extraInto("extra-before", true, false)},
        {"", "stray-after", "REPLY[+MS]=BYTES", Value::Required,
         "As --extra-after, from the other address (127.0.0.3, or the one of --reply-from or --stray-from).",
         extraInto("stray-after", false, true)},
        {"", "oversize-before", "LIST", Value::Required,
         "Send a datagram longer than any reply (--oversize-bytes) right before each chosen reply; anyxall: "
         "before every one.",
         selectorsInto("oversize-before", false, [](SimOptions &o) -> QList<ReplySelector> & { return o.lanFaults.oversizeBefore; })},
        {"", "oversize-bytes", "N", Value::Required, "Length of the --oversize-before datagram, 256 to 65507 (default 300).",
         [](SimOptions &o, const QString &v) -> QString {
             const auto n = count(v, 65507);
             if (!n || *n < 256)
                 return badValue("oversize-bytes", v, "a length from 256 to 65507");
             o.lanFaults.oversizeBytes = *n;
             return {};
         }},
        {"", "lose-request", "LIST", Value::Required,
         "Do not hear the requests whose replies LIST names: ready is \"AT+DATF\", block:N a data block, result "
         "the \"AT+CONFIG\" after \"AT+FPDE\", config any other \"AT+CONFIG\", readblock:0 \"AT+READF\", "
         "readblock:N, readcommon and readend the \"AT+RDY0\" that would release them.",
         selectorsInto("lose-request", false, [](SimOptions &o) -> QList<ReplySelector> & { return o.lanFaults.lostRequests; })},
        {"", "late", "LIST", Value::Required,
         "Send the chosen replies --late-by milliseconds late, the others at once (configxall: late "
         "keep-alive answers).",
         selectorsInto("late", false, [](SimOptions &o) -> QList<ReplySelector> & { return o.lanFaults.lateReplies; })},
        {"", "late-by", "MS", Value::Required, "How late the --late replies are (default 200).",
         countInto("late-by", [](SimOptions &o, int n) { o.lanFaults.lateBy = millis(n); })},

        {"USB faults (data packets count from 0 in arrival order; the tool's second copy of packet 0 is 1)",
         "nak", "LIST", Value::Required,
         "Answer the data packets with these comma-separated indexes with 0x15; their bytes are not stored.",
         [](SimOptions &o, const QString &v) -> QString {
             const QStringList items = v.split(QLatin1Char(','), Qt::SkipEmptyParts);
             if (items.isEmpty())
                 return badValue("nak", v, "a list of packet indexes");
             for (const QString &item : items) {
                 const auto n = count(item.trimmed());
                 if (!n)
                     return badValue("nak", item, "a packet index");
                 o.usbFaults.nakPackets.insert(*n);
             }
             return {};
         }},
        {"", "nak-rate", "R", Value::Required, "Answer a share R (0..1) of the data packets, drawn at random, with 0x15.",
         [](SimOptions &o, const QString &v) -> QString {
             bool ok = false;
             const double r = v.toDouble(&ok);
             if (!ok || r < 0.0 || r > 1.0)
                 return badValue("nak-rate", v, "a number from 0 to 1");
             o.usbFaults.nakRate = r;
             return {};
         }},
        {"", "seed", "S", Value::Required, "Seed of --nak-rate (default 1): the same seed picks the same packets.",
         countInto("seed", [](SimOptions &o, int n) { o.usbFaults.seed = quint32(n); })},
        {"", "mem-fail", "I", Value::Required, "Answer data packet I with 0x25 (memory write failure).",
         countInto("mem-fail", [](SimOptions &o, int n) { o.usbFaults.memoryFailureAt = n; })},
        {"", "fatal", "I", Value::Required, "Answer data packet I with 0x02 (fatal panel-type error).",
         countInto("fatal", [](SimOptions &o, int n) { o.usbFaults.fatalAt = n; })},
        {"", "stop-after", "N", Value::Required, "Answer N data packets, then nothing more, polls included.",
         countInto("stop-after", [](SimOptions &o, int n) { o.usbFaults.stopAfter = n; })},
        {"", "close-after", "N", Value::Required,
         "Answer N data packets, then close the pseudo-terminal: the tool sees its port fail.",
         countInto("close-after", [](SimOptions &o, int n) { o.usbFaults.closeAfter = n; })},
        {"", "paced", "MS", Value::Required,
         "Write every reply byte on its own, MS milliseconds after its frame came and after the byte before it.",
         countInto("paced", [](SimOptions &o, int n) { o.usbFaults.pace = millis(n); })},
        {"", "paced-count", "N", Value::Required, "Pace only the first N replies (default: all).",
         countInto("paced-count", [](SimOptions &o, int n) { o.usbFaults.pacedReplies = n; })},
        {"", "stall", "LIST", Value::Required,
         "Hold the chosen replies back --stall-for milliseconds, then send them; the replies behind wait. LIST: "
         "poll (the next poll), poll:N, packet:I, with xTIMES or xall.",
         selectorsInto("stall", true, [](SimOptions &o) -> QList<ReplySelector> & { return o.usbFaults.stallReplies; })},
        {"", "stall-for", "MS", Value::Required, "How long a --stall reply is held back (default 500).",
         countInto("stall-for", [](SimOptions &o, int n) { o.usbFaults.stallFor = millis(n); })},
        {"", "answer", "FRAME=HEX", Value::Required,
         "Answer the chosen frame with the byte HEX instead: poll:3=25 answers poll 3 with 0x25. May be given "
         "more than once.",
         [](SimOptions &o, const QString &v) -> QString {
             const qsizetype eq = v.indexOf(QLatin1Char('='));
             const auto at = ReplySelector::parse(v.left(eq));
             bool ok = false;
             const uint byte = v.mid(eq + 1).toUInt(&ok, 16);
             if (eq <= 0 || !at || !isUsbSelector(at->kind) || !ok || byte > 0xFF || v.size() - eq - 1 > 2)
                 return badValue("answer", v, "FRAME=HEX, such as poll:3=25 or packet:7=15");
             o.usbFaults.answers.append({*at, std::uint8_t(byte)});
             return {};
         }},
        {"", "nak-each", "N", Value::Required,
         "Answer every address 0x15 N times before it is accepted (within --nak-range).",
         countInto("nak-each", [](SimOptions &o, int n) { o.usbFaults.nakTimes = n; }, 255)},
        {"", "nak-range", "A-B", Value::Required, "The addresses --nak-each applies to (default: all).",
         [](SimOptions &o, const QString &v) -> QString {
             const QStringList ends = v.split(QLatin1Char('-'));
             const auto from = ends.size() == 2 ? count(ends.at(0), kImageBytes - 1) : std::nullopt;
             const auto to = ends.size() == 2 ? count(ends.at(1), kImageBytes - 1) : std::nullopt;
             if (!from || !to || *from > *to)
                 return badValue("nak-range", v, "a range of addresses such as 100-2000");
             o.usbFaults.nakFrom = *from;
             o.usbFaults.nakTo = *to;
             return {};
         }},
    };
    return table;
}

} // namespace

ParsedOptions parseSimOptions(const QStringList &arguments)
{
    // QCommandLineParser has no options with an optional value: "--lan" alone
    // and "--lan ADDR" are both given to it as "--lan=VALUE".
    QStringList args{QStringLiteral("tarvil-sim")};
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &arg = arguments.at(i);
        if (arg == QLatin1String("--lan")) {
            const bool valued = i + 1 < arguments.size() && !arguments.at(i + 1).startsWith(QLatin1Char('-'));
            args << QStringLiteral("--lan=") + (valued ? arguments.at(++i) : QString());
        } else {
            args << arg;
        }
    }

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    QHash<QString, const OptionDef *> byName;
    for (const OptionDef &d : options()) {
        QStringList names{QLatin1String(d.name)};
        if (QLatin1String(d.name) == QLatin1String("help"))
            names.prepend(QStringLiteral("h"));
        const QString valueName = d.value == Value::None ? QString() : QLatin1String(d.placeholder);
        parser.addOption(QCommandLineOption(names, QString::fromUtf8(d.help), valueName));
        for (const QString &n : names)
            byName.insert(n, &d);
    }
    if (!parser.parse(args))
        return {std::nullopt, parser.errorText()};
    if (!parser.positionalArguments().isEmpty())
        return {std::nullopt, QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first())};

    // In the order given: a later option may refine an earlier one.
    SimOptions o;
    bool lanAsked = false;
    bool usbAsked = false;
    QHash<QString, int> taken;
    for (const QString &found : parser.optionNames()) {
        const OptionDef *def = byName.value(found);
        const QString name = QLatin1String(def->name);
        QString value;
        if (def->value != Value::None) {
            value = parser.values(found).value(taken[found]++);
            if (value.isEmpty() && def->value == Value::Required)
                return {std::nullopt, QStringLiteral("--%1 needs a value (%2)").arg(name, QLatin1String(def->placeholder))};
        }
        if (const QString error = def->apply(o, value); !error.isEmpty())
            return {std::nullopt, error};
        lanAsked = lanAsked || name == QLatin1String("lan");
        usbAsked = usbAsked || name == QLatin1String("usb");
    }
    if (lanAsked || usbAsked) {
        o.lan = lanAsked;
        o.usb = usbAsked;
    }
    return {o, {}};
}

QStringList simOptionNames()
{
    QStringList names;
    for (const OptionDef &d : options())
        names << QStringLiteral("--") + QLatin1String(d.name);
    return names;
}

QString simHelpText()
{
    QString text = QStringLiteral(
        "Usage: tarvil-sim [--lan [ADDR[:PORT]]] [--usb] [--image FILE] [fault options]\n"
        "\n"
        "Plays the transceiver for the configuration tool: over UDP on a loopback address and over USB on a\n"
        "pseudo-terminal. Point the tool's LAN address at the simulator's address (127.0.0.2), or type the\n"
        "printed device path into the tool's port chooser. Runs until Ctrl+C.\n");
    const int column = 26;
    const int width = 100;
    for (const OptionDef &d : options()) {
        if (*d.group)
            text += QLatin1Char('\n') + QLatin1String(d.group) + QStringLiteral(":\n");
        QString head = QStringLiteral("  --") + QLatin1String(d.name);
        if (d.value == Value::Required)
            head += QLatin1Char(' ') + QLatin1String(d.placeholder);
        else if (d.value == Value::Optional)
            head += QStringLiteral(" [") + QLatin1String(d.placeholder) + QLatin1Char(']');
        if (QLatin1String(d.name) == QLatin1String("help"))
            head = QStringLiteral("  -h, --help");
        // Wrap the description at word boundaries under its column.
        const QStringList words = QString::fromUtf8(d.help).split(QLatin1Char(' '));
        QString line = head.size() < column - 1 ? head.leftJustified(column, QLatin1Char(' ')) : head + QLatin1Char('\n') + QString(column, QLatin1Char(' '));
        int lineLength = int(line.size() - line.lastIndexOf(QLatin1Char('\n')) - 1);
        bool first = true;
        for (const QString &word : words) {
            if (!first && lineLength + 1 + word.size() > width) {
                line += QLatin1Char('\n') + QString(column, QLatin1Char(' '));
                lineLength = column;
                first = true;
            }
            if (!first) {
                line += QLatin1Char(' ');
                ++lineLength;
            }
            line += word;
            lineLength += int(word.size());
            first = false;
        }
        text += line + QLatin1Char('\n');
    }
    return text;
}

} // namespace tarvil::sim
