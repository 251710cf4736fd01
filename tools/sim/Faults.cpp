#include "Faults.h"

#include <QRegularExpression>

namespace tarvil::sim {

namespace {

struct KindName {
    ReplySelector::Kind kind;
    const char *name;
    bool numbered;
};

constexpr KindName kKindNames[] = {
    {ReplySelector::Config, "config", false},
    {ReplySelector::Ready, "ready", false},
    {ReplySelector::Block, "block", true},
    {ReplySelector::Common, "common", false},
    {ReplySelector::Result, "result", false},
    {ReplySelector::ReadBlock, "readblock", true},
    {ReplySelector::ReadCommon, "readcommon", false},
    {ReplySelector::ReadEnd, "readend", false},
    {ReplySelector::Poll, "poll", true},
    {ReplySelector::Packet, "packet", true},
    {ReplySelector::Any, "any", false},
};

} // namespace

std::optional<ReplySelector> ReplySelector::parse(const QString &text)
{
    // The kind names spelled out: "configxall" must split as "config", "xall".
    static const QRegularExpression form([] {
        QStringList names;
        for (const KindName &k : kKindNames)
            names << QLatin1String(k.name);
        return QStringLiteral("^(%1)(?::(\\d{1,9}))?(?:x(\\d{1,9}|all))?$").arg(names.join(QLatin1Char('|')));
    }());
    const auto m = form.match(text.trimmed().toLower());
    if (!m.hasMatch())
        return std::nullopt;
    for (const KindName &k : kKindNames) {
        if (m.captured(1) != QLatin1String(k.name))
            continue;
        ReplySelector s;
        s.kind = k.kind;
        if (m.hasCaptured(2)) {
            if (!k.numbered)
                return std::nullopt;
            s.number = m.captured(2).toInt();
        }
        if (m.hasCaptured(3)) {
            s.times = m.captured(3) == QLatin1String("all") ? 0 : m.captured(3).toInt();
            if (s.times == 0 && m.captured(3) != QLatin1String("all"))
                return std::nullopt;
        }
        return s;
    }
    return std::nullopt;
}

QString ReplySelector::toString() const
{
    QString text;
    for (const KindName &k : kKindNames) {
        if (k.kind == kind)
            text = QLatin1String(k.name);
    }
    if (number >= 0)
        text += QLatin1Char(':') + QString::number(number);
    if (times != 1)
        text += QLatin1Char('x') + (times == 0 ? QStringLiteral("all") : QString::number(times));
    return text;
}

std::optional<LanExtra> LanExtra::parse(const QString &text)
{
    const qsizetype eq = text.indexOf(QLatin1Char('='));
    if (eq <= 0 || eq + 1 >= text.size())
        return std::nullopt;
    LanExtra extra;
    QString where = text.left(eq).trimmed();
    static const QRegularExpression gapForm(QStringLiteral("^(.*)\\+(\\d{1,6})$"));
    if (const auto m = gapForm.match(where); m.hasMatch()) {
        extra.gap = std::chrono::milliseconds(m.captured(2).toInt());
        where = m.captured(1);
    }
    const auto at = ReplySelector::parse(where);
    if (!at)
        return std::nullopt;
    extra.at = *at;
    const QString bytes = text.mid(eq + 1);
    if (bytes.startsWith(QLatin1String("hex:"))) {
        static const QRegularExpression hexForm(QStringLiteral("^(?:[0-9A-Fa-f]{2})+$"));
        const QString digits = bytes.mid(4);
        if (!hexForm.match(digits).hasMatch())
            return std::nullopt;
        extra.data = QByteArray::fromHex(digits.toLatin1());
    } else {
        extra.data = bytes.toUtf8();
    }
    return extra;
}

bool LanFaults::any() const
{
    return silent || dropFirst > 0 || dropEvery > 0 || !dropReplies.isEmpty() || delay.count() > 0
        || duplicateReadBlock >= 0 || earlyEnd != EarlyEnd::Off || otherMode != OtherAddressMode::Off
        || failWrite || stopReadAfter >= 0 || !duplicateReplies.isEmpty() || !extras.isEmpty()
        || !oversizeBefore.isEmpty() || !lostRequests.isEmpty() || !lateReplies.isEmpty();
}

bool UsbFaults::any() const
{
    return silent || dropFirst > 0 || dropEvery > 0 || !dropReplies.isEmpty() || delay.count() > 0
        || !nakPackets.isEmpty() || nakRate > 0.0 || memoryFailureAt >= 0 || fatalAt >= 0
        || stopAfter >= 0 || closeAfter >= 0 || pace.count() > 0 || !stallReplies.isEmpty()
        || !answers.isEmpty() || nakTimes > 0;
}

} // namespace tarvil::sim

namespace tarvil::sim {

void SelectorCount::reset(const QList<ReplySelector> &selectors)
{
    selectors_ = selectors;
    taken_ = QList<int>(selectors.size(), 0);
}

QList<int> SelectorCount::take(ReplySelector::Kind kind, int number)
{
    QList<int> taking;
    for (qsizetype i = 0; i < selectors_.size(); ++i) {
        const ReplySelector &s = selectors_.at(i);
        if (!s.matches(kind, number) || (s.times > 0 && taken_.at(i) >= s.times))
            continue;
        ++taken_[i];
        taking.append(int(i));
    }
    return taking;
}

void ReplyDropper::reset(int dropFirst, int dropEvery, const QList<ReplySelector> &selectors)
{
    dropFirst_ = dropFirst;
    dropEvery_ = dropEvery;
    ordinal_ = 0;
    selectors_.reset(selectors);
}

bool ReplyDropper::drop(ReplySelector::Kind kind, int number)
{
    ++ordinal_;
    const bool lost = ordinal_ <= dropFirst_ || (dropEvery_ > 0 && ordinal_ % dropEvery_ == 0);
    // Every selector counts the reply, also when the count above already took it.
    return selectors_.takes(kind, number) || lost;
}

} // namespace tarvil::sim
