#pragma once

#include <QHostAddress>
#include <QList>
#include <QSet>
#include <QString>

#include <chrono>
#include <cstdint>
#include <optional>

namespace tarvil::sim {

// Chooses the replies a fault applies to, by what they answer.
struct ReplySelector {
    enum Kind {
        Config,     // "OK" to "AT+CONFIG" (connect, keep-alive)
        Ready,      // the ready reply to "AT+DATF"
        Block,      // "OK" to write data block `number` (1..60)
        Common,     // "OK" to the write's common block
        Result,     // the write's result, the answer to "AT+CONFIG" after "AT+FPDE"
        ReadBlock,  // read data block `number` (0..59)
        ReadCommon, // the read's common block
        ReadEnd,    // the read's end datagram
        Poll,       // USB: the answer to poll `number` (0 = the first poll)
        Packet,     // USB: the answer to data packet `number` (0 = the first packet)
        Any,        // LAN: every reply, whatever it answers
    };
    Kind kind = Config;
    int number = -1; // -1: any number
    int times = 1;   // how many matching replies it takes; 0: all of them

    bool matches(Kind k, int n) const
    {
        return kind == Any ? k != Poll && k != Packet : kind == k && (number < 0 || number == n);
    }

    // "block:5", "result", "readblock:10x2", "packet:7xall". Nothing for a
    // text of another form.
    static std::optional<ReplySelector> parse(const QString &text);
    QString toString() const;
    friend bool operator==(const ReplySelector &, const ReplySelector &) = default;
};

// The end datagram of a read sent where it does not belong.
enum class EarlyEnd {
    Off,
    ThenStop,     // in place of the common block; the read goes no further
    ThenContinue, // before the common block, which follows at once, then the real end
};

enum class OtherAddressMode {
    Off,
    Instead, // every reply leaves from the other address
    Also,    // every reply leaves from the other address first, then from the right one
};

// A datagram the transceiver's side sends beside a chosen reply: noise on the
// wire, a stray answer, a datagram from another host.
struct LanExtra {
    ReplySelector at;
    QByteArray data;
    bool before = false;               // right before the reply instead of behind it
    std::chrono::milliseconds gap{0};  // behind the reply: this much later
    bool fromOther = false;            // from LanFaults::otherAddress
    friend bool operator==(const LanExtra &, const LanExtra &) = default;

    // "ready=OK", "result+50=hex:474F4F44": a selector, an optional gap in
    // milliseconds, and the bytes (text, or hex: and hexadecimal digits).
    static std::optional<LanExtra> parse(const QString &text);
};

struct LanFaults {
    bool silent = false;                 // hears nothing, answers nothing
    int dropFirst = 0;                   // the first N replies are lost
    int dropEvery = 0;                   // every k-th reply is lost (k = 2: the 2nd, 4th, ...)
    QList<ReplySelector> dropReplies;    // replies to chosen requests are lost
    std::chrono::milliseconds delay{0};  // every reply leaves this late
    int duplicateReadBlock = -1;         // this read block is sent twice, with the same number
    bool alterDuplicate = false;         // ... the second time with other record bytes
    EarlyEnd earlyEnd = EarlyEnd::Off;
    OtherAddressMode otherMode = OtherAddressMode::Off;
    QHostAddress otherAddress{QStringLiteral("127.0.0.3")}; // bound on the simulator's port
    bool failWrite = false;              // the write's result is the failure reply
    int stopReadAfter = -1;              // a read sends this many datagrams, then falls silent

    // The chosen replies go twice, the copy `duplicateGap` after the first.
    QList<ReplySelector> duplicateReplies;
    std::chrono::milliseconds duplicateGap{50};
    QList<LanExtra> extras;
    // A datagram of `oversizeBytes` (more than the 255 a reply may have) right
    // before each chosen reply.
    QList<ReplySelector> oversizeBefore;
    int oversizeBytes = 300;
    // Requests that are not heard at all, named by the reply they would get:
    // ready is "AT+DATF", result the "AT+CONFIG" that asks for the write's
    // result, readblock:0 "AT+READF", readblock:N (N > 0), readcommon and
    // readend the "AT+RDY0" that would release that datagram.
    QList<ReplySelector> lostRequests;
    // The chosen replies leave `lateBy` late (on top of `delay`), while the
    // others go at once: an answer that arrives after the tool moved on.
    QList<ReplySelector> lateReplies;
    std::chrono::milliseconds lateBy{200};

    bool any() const;
};

struct UsbFaults {
    bool silent = false;
    int dropFirst = 0;
    int dropEvery = 0;
    QList<ReplySelector> dropReplies; // Poll and Packet selectors
    std::chrono::milliseconds delay{0};
    // Data packets count from 0 in the order they arrive; the tool's second
    // copy of packet 0 is index 1.
    QSet<int> nakPackets;  // answered 0x15, byte not stored
    double nakRate = 0.0;  // 0..1: share of data packets answered 0x15 at random
    quint32 seed = 1;      // for nakRate; the same seed gives the same packets
    int memoryFailureAt = -1; // answered 0x25, byte not stored
    int fatalAt = -1;         // answered 0x02, byte not stored
    int stopAfter = -1;       // N packets answered, then silence (polls too)
    int closeAfter = -1;      // N packets answered, then the pseudo-terminal closes

    // Every reply byte written on its own, `pace` after its frame arrived and
    // at least `pace` after the byte before it, in order; for the first
    // `pacedReplies` replies after the faults are set (0: all of them).
    std::chrono::milliseconds pace{0};
    int pacedReplies = 0;
    // The chosen replies are held back `stallFor`, then sent; the replies
    // behind them wait, so the order stays.
    QList<ReplySelector> stallReplies;
    std::chrono::milliseconds stallFor{500};
    // The chosen frames are answered with `byte` instead (a data byte is then
    // stored only for 0x01).
    struct Answer {
        ReplySelector at;
        std::uint8_t byte = 0;
        friend bool operator==(const Answer &, const Answer &) = default;
    };
    QList<Answer> answers;
    // Every address from nakFrom to nakTo (-1: the last) is refused with 0x15
    // nakTimes times before it is accepted.
    int nakTimes = 0;
    int nakFrom = 0;
    int nakTo = -1;

    // Not a fault but the adapter between the transceiver and the tool: a
    // USB bridge passes a byte on only when its latency timer runs out, so
    // every answer leaves this long after the frame it answers arrived.
    std::chrono::milliseconds latency{0};

    bool any() const;
};

} // namespace tarvil::sim

namespace tarvil::sim {

// Counts replies against a list of selectors, each taking as many as its
// `times` allows.
class SelectorCount {
public:
    void reset(const QList<ReplySelector> &selectors);
    // Counts one reply; the indexes of the selectors that took it.
    QList<int> take(ReplySelector::Kind kind, int number);
    bool takes(ReplySelector::Kind kind, int number) { return !take(kind, number).isEmpty(); }

private:
    QList<ReplySelector> selectors_;
    QList<int> taken_;
};

// Decides, reply by reply, which replies the drop faults take away.
class ReplyDropper {
public:
    void reset(int dropFirst, int dropEvery, const QList<ReplySelector> &selectors);
    // Counts one reply that is about to leave; true when it is to be lost.
    bool drop(ReplySelector::Kind kind, int number);

private:
    int dropFirst_ = 0;
    int dropEvery_ = 0;
    qint64 ordinal_ = 0;
    SelectorCount selectors_;
};

} // namespace tarvil::sim
