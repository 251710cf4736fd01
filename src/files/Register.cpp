#include "files/Register.h"

#include "files/ConfigFile.h"
#include "model/ImageLayout.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>

#include <algorithm>

namespace tarvil {

namespace {

QString copyStateName(CopyState state)
{
    switch (state) {
    case CopyState::Unchecked: return QStringLiteral("unchecked");
    case CopyState::None: return QStringLiteral("none");
    case CopyState::Intact: return QStringLiteral("intact");
    case CopyState::Missing: return QStringLiteral("missing");
    case CopyState::Changed: return QStringLiteral("changed");
    }
    return {};
}

QString isoTime(const QDateTime &utc) { return utc.toUTC().toString(Qt::ISODateWithMs); }

QJsonValue timeJson(const QDateTime &utc) { return utc.isValid() ? QJsonValue(isoTime(utc)) : QJsonValue(); }

} // namespace

namespace {

// The whole image a configuration file's bytes carry, if they carry one.
std::optional<QByteArray> imageIn(const QByteArray &bytes)
{
    const LoadResult loaded = parseConfigFile(bytes);
    if (loaded.status != LoadStatus::Ok || loaded.carried.count(true) != kImageSize)
        return std::nullopt;
    return QByteArray(reinterpret_cast<const char *>(loaded.image.data()), kImageSize);
}

} // namespace

std::optional<QByteArray> imageOfCopy(const QString &path, QString *error)
{
    const auto fail = [error](const QString &reason) -> std::optional<QByteArray> {
        if (error)
            *error = reason;
        return std::nullopt;
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(file.errorString());
    const QByteArray bytes = file.read(kMaxConfigFileBytes + 1);
    if (bytes.size() > kMaxConfigFileBytes)
        return fail(QStringLiteral("файл слишком велик"));
    auto image = imageIn(bytes);
    if (!image)
        return fail(QStringLiteral("в файле нет полного образа конфигурации"));
    return image;
}

CopyState CopyChecker::check(const JournalEntry &entry)
{
    if (entry.copy.isEmpty())
        return CopyState::None;
    const QString path = QDir::fromNativeSeparators(entry.copy);
    const QFileInfo info(path);
    if (!info.isFile())
        return CopyState::Missing;
    auto known = seen_.constFind(path);
    if (known == seen_.constEnd() || known->size != info.size() || known->modified != info.lastModified()) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return CopyState::Missing;
        Seen seen{info.size(), info.lastModified(), QString()};
        // A copy is one configuration file: anything far larger is no copy.
        if (const auto image = imageIn(file.read(kMaxConfigFileBytes)))
            seen.sha256 = QString::fromLatin1(QCryptographicHash::hash(*image, QCryptographicHash::Sha256).toHex());
        known = seen_.insert(path, seen);
    }
    return !known->sha256.isEmpty() && known->sha256.compare(entry.sha256, Qt::CaseInsensitive) == 0
               ? CopyState::Intact
               : CopyState::Changed;
}

QString RegisterProblem::text() const
{
    switch (kind) {
    case Kind::BrokenLine:
        return QStringLiteral("строка %1 журнала не читается: %2").arg(line).arg(detail);
    case Kind::CopyMissing:
        return (read ? QStringLiteral("копии последнего чтения нет: %1") : QStringLiteral("копии последней записи нет: %1"))
            .arg(detail);
    case Kind::CopyChanged:
        return (read ? QStringLiteral("копия последнего чтения изменена после записи в журнал: %1")
                     : QStringLiteral("копия последней записи изменена после записи в журнал: %1"))
            .arg(detail);
    }
    return {};
}

QJsonObject RegisterProblem::toJson() const
{
    switch (kind) {
    case Kind::BrokenLine:
        return {{QStringLiteral("problem"), QStringLiteral("brokenLine")},
                {QStringLiteral("line"), line},
                {QStringLiteral("text"), detail}};
    case Kind::CopyMissing:
    case Kind::CopyChanged:
        return {{QStringLiteral("problem"),
                 kind == Kind::CopyMissing ? QStringLiteral("copyMissing") : QStringLiteral("copyChanged")},
                {QStringLiteral("line"), line},
                {QStringLiteral("of"), read ? QStringLiteral("lastRead") : QStringLiteral("lastWrite")},
                {QStringLiteral("copy"), detail}};
    }
    return {};
}

QList<RegisterProblem> RegisterEntry::problems() const
{
    QList<RegisterProblem> out;
    for (const BrokenJournalLine &b : broken)
        out.append({RegisterProblem::Kind::BrokenLine, b.line, b.text, false});
    for (const auto *last : {&lastWrite, &lastRead}) {
        if (!*last || ((*last)->copy != CopyState::Missing && (*last)->copy != CopyState::Changed))
            continue;
        const auto kind = (*last)->copy == CopyState::Missing ? RegisterProblem::Kind::CopyMissing
                                                              : RegisterProblem::Kind::CopyChanged;
        out.append({kind, (*last)->entry.line, (*last)->entry.copy, last == &lastRead});
    }
    return out;
}

QJsonObject registerEventJson(const RegisterEvent &event)
{
    const JournalEntry &e = event.entry;
    QJsonObject o{{QStringLiteral("time"), isoTime(e.time)},
                  {QStringLiteral("kind"), e.kind},
                  {QStringLiteral("program"), e.program},
                  {QStringLiteral("link"), e.link},
                  {QStringLiteral("target"), e.target},
                  {QStringLiteral("outcome"), e.result},
                  {QStringLiteral("copy"), e.copy.isEmpty() ? QJsonValue() : QJsonValue(e.copy)},
                  {QStringLiteral("copyState"), copyStateName(event.copy)},
                  {QStringLiteral("line"), e.line}};
    if (!e.message.isEmpty())
        o.insert(QStringLiteral("message"), e.message);
    return o;
}

QJsonObject RegisterEntry::toJson(bool withHistory) const
{
    const auto last = [](const std::optional<RegisterEvent> &event) {
        return event ? QJsonValue(registerEventJson(*event)) : QJsonValue();
    };
    QJsonArray problemList;
    for (const RegisterProblem &p : problems())
        problemList.append(p.toJson());
    QJsonObject o{{QStringLiteral("serial"), serial},
                  {QStringLiteral("writes"), writes},
                  {QStringLiteral("lastWrite"), last(lastWrite)},
                  {QStringLiteral("lastRead"), last(lastRead)},
                  {QStringLiteral("lastActivity"), timeJson(lastActivity)},
                  {QStringLiteral("problems"), problemList}};
    if (withHistory) {
        QJsonArray list;
        for (const RegisterEvent &event : history)
            list.append(registerEventJson(event));
        o.insert(QStringLiteral("history"), list);
    }
    return o;
}

TransceiverRegister TransceiverRegister::build(const JournalContents &journal, CopyChecker &checker)
{
    TransceiverRegister reg;
    reg.error_ = journal.error;
    QHash<QString, qsizetype> bySerial;
    const auto entryOf = [&reg, &bySerial](const QString &serial) -> RegisterEntry & {
        auto it = bySerial.constFind(serial);
        if (it == bySerial.constEnd()) {
            it = bySerial.insert(serial, reg.entries_.size());
            reg.entries_.append(RegisterEntry{});
            reg.entries_.last().serial = serial;
        }
        return reg.entries_[*it];
    };
    // Newest first: the journal is appended to, so a later line is a later
    // event whatever the clock said.
    // (By index rather than through a reversed view: clang does not take
    // QList's iterators for a range with GCC's standard library.)
    for (qsizetype i = journal.entries.size() - 1; i >= 0; --i) {
        const JournalEntry &line = journal.entries.at(i);
        RegisterEntry &r = entryOf(line.serial);
        r.history.append({line, CopyState::Unchecked});
        if (!r.lastActivity.isValid() || line.time > r.lastActivity)
            r.lastActivity = line.time;
        if (line.isWrite() && line.result == QLatin1String("done"))
            ++r.writes;
    }
    for (qsizetype i = journal.broken.size() - 1; i >= 0; --i)
        entryOf(journal.broken.at(i).serial).broken.append(journal.broken.at(i));

    for (RegisterEntry &r : reg.entries_) {
        for (RegisterEvent &event : r.history) {
            std::optional<RegisterEvent> *last =
                event.entry.isRead() ? &r.lastRead : (event.entry.isWrite() ? &r.lastWrite : nullptr);
            if (!last || *last)
                continue;
            event.copy = checker.check(event.entry);
            *last = event;
        }
    }
    std::stable_sort(reg.entries_.begin(), reg.entries_.end(), [](const RegisterEntry &a, const RegisterEntry &b) {
        if (a.lastActivity.isValid() != b.lastActivity.isValid())
            return a.lastActivity.isValid();
        if (a.lastActivity != b.lastActivity)
            return a.lastActivity > b.lastActivity;
        return a.serial < b.serial;
    });
    return reg;
}

const RegisterEntry *TransceiverRegister::find(const QString &serial) const
{
    for (const RegisterEntry &e : entries_) {
        if (e.serial == serial)
            return &e;
    }
    return nullptr;
}

namespace registerText {

QString serial(const QString &serial) { return serial.isEmpty() ? QStringLiteral("не определён") : serial; }

QString time(const QDateTime &utc)
{
    return utc.isValid() ? utc.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")) : QStringLiteral("—");
}

QString action(const JournalEntry &entry)
{
    if (entry.isRead())
        return QStringLiteral("Чтение");
    if (entry.isSave())
        return QStringLiteral("Сохранение");
    if (entry.isWrite())
        return QStringLiteral("Запись");
    return entry.kind;
}

QString outcome(const JournalEntry &entry)
{
    const bool feminine = entry.isWrite(); // "запись"; "чтение" and "сохранение" are neuter
    if (entry.result == QLatin1String("done"))
        return feminine ? QStringLiteral("выполнена") : QStringLiteral("выполнено");
    if (entry.result == QLatin1String("failed"))
        return QStringLiteral("ошибка");
    if (entry.result == QLatin1String("interrupted"))
        return feminine ? QStringLiteral("прервана") : QStringLiteral("прервано");
    return entry.result;
}

QString program(const JournalEntry &entry)
{
    if (entry.program == QLatin1String("window"))
        return QStringLiteral("программа настройки");
    if (entry.program == QLatin1String("cli"))
        return QStringLiteral("tarvil-cli");
    return entry.program;
}

QString place(const JournalEntry &entry)
{
    if (entry.link == QLatin1String("lan"))
        return QStringLiteral("LAN ") + entry.target;
    if (entry.link == QLatin1String("usb"))
        return QStringLiteral("USB ") + entry.target;
    return entry.target;
}

QString copy(CopyState state)
{
    switch (state) {
    case CopyState::Unchecked: return {};
    case CopyState::None: return QStringLiteral("нет");
    case CopyState::Intact: return QStringLiteral("есть");
    case CopyState::Missing: return QStringLiteral("удалена");
    case CopyState::Changed: return QStringLiteral("изменена");
    }
    return {};
}

} // namespace registerText

} // namespace tarvil
