#pragma once

#include <QHostAddress>
#include <QList>
#include <QSet>
#include <QString>

#include <chrono>
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
    };
    Kind kind = Config;
    int number = -1; // -1: any number
    int times = 1;   // how many matching replies it takes; 0: all of them

    bool matches(Kind k, int n) const { return kind == k && (number < 0 || number == n); }

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

    bool any() const;
};

} // namespace tarvil::sim

namespace tarvil::sim {

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
    QList<ReplySelector> selectors_;
    QList<int> taken_; // how many replies each selector has taken so far
};

} // namespace tarvil::sim
