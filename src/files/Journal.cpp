#include "files/Journal.h"

#include "files/ConfigFile.h"
#include "model/ConfigImage.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>
#include <cstring>

namespace tarvil {

namespace {

// Far longer than any line the journal writes; a longer one is not read.
constexpr qint64 kMaxLine = qint64(64) * 1024;
// Copies made within one second get "-2", "-3", ... up to this.
constexpr int kMaxSameSecond = 1000;

const QString kCopyTime = QStringLiteral("yyyyMMdd'T'HHmmss'Z'");

// The journal's own copies; any other file in the folder is left alone.
const QRegularExpression &copyPattern()
{
    static const QRegularExpression pattern(QStringLiteral(R"(^[0-9A-Za-z_]+-(\d{8}T\d{6}Z)(?:-(\d+))?\.tvc$)"));
    return pattern;
}

QString linkName(WriteOutcome::Target target)
{
    switch (target) {
    case WriteOutcome::Target::Usb: return QStringLiteral("usb");
    case WriteOutcome::Target::Lan: return QStringLiteral("lan");
    case WriteOutcome::Target::File: return QStringLiteral("file");
    }
    return {};
}

QString resultName(WriteOutcome::Result result)
{
    switch (result) {
    case WriteOutcome::Result::Done: return QStringLiteral("done");
    case WriteOutcome::Result::Failed: return QStringLiteral("failed");
    case WriteOutcome::Result::Interrupted: return QStringLiteral("interrupted");
    case WriteOutcome::Result::Refused: break; // sent nothing: never journalled
    }
    return {};
}

QString native(const QString &path) { return QDir::toNativeSeparators(path); }

} // namespace

void useToolDataFolder()
{
    QCoreApplication::setOrganizationName(QString());
    QCoreApplication::setApplicationName(QString::fromLatin1(kToolDataName));
}

QJsonObject JournalEntry::toJson() const
{
    QJsonObject o;
    o.insert(QStringLiteral("time"), time.toUTC().toString(Qt::ISODateWithMs));
    o.insert(QStringLiteral("program"), program);
    o.insert(QStringLiteral("kind"), kind);
    o.insert(QStringLiteral("link"), link);
    o.insert(QStringLiteral("target"), target);
    o.insert(QStringLiteral("serial"), serial);
    o.insert(QStringLiteral("result"), result);
    if (!message.isEmpty())
        o.insert(QStringLiteral("message"), message);
    o.insert(QStringLiteral("sha256"), sha256.isEmpty() ? QJsonValue() : QJsonValue(sha256));
    o.insert(QStringLiteral("copy"), copy.isEmpty() ? QJsonValue() : QJsonValue(copy));
    if (answerMs)
        o.insert(QStringLiteral("answerMs"), *answerMs);
    if (durationMs)
        o.insert(QStringLiteral("durationMs"), *durationMs);
    return o;
}

QByteArray JournalEntry::toJsonLine() const
{
    static const char *const kOrder[] = {"time",   "program", "kind",    "link",     "target",
                                         "serial", "result",  "message", "sha256",   "copy",
                                         "answerMs", "durationMs"};
    const QJsonObject o = toJson();
    QByteArray line = "{";
    for (const char *key : kOrder) {
        const auto it = o.constFind(QLatin1String(key));
        if (it == o.constEnd())
            continue;
        // A value is encoded as QJsonDocument writes it: inside an array,
        // whose brackets are then taken off.
        const QByteArray value = QJsonDocument(QJsonArray{*it}).toJson(QJsonDocument::Compact);
        if (line.size() > 1)
            line += ',';
        line += '"' + QByteArray(key) + "\":" + value.mid(1, value.size() - 2);
    }
    return line + '}';
}

std::optional<JournalEntry> JournalEntry::fromJson(const QJsonObject &o)
{
    JournalEntry e;
    e.time = QDateTime::fromString(o.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
    e.result = o.value(QStringLiteral("result")).toString();
    if (!e.time.isValid() || e.result.isEmpty())
        return std::nullopt;
    e.time = e.time.toUTC();
    e.program = o.value(QStringLiteral("program")).toString();
    e.kind = o.value(QStringLiteral("kind")).toString(QString::fromLatin1(kJournalWrite));
    e.link = o.value(QStringLiteral("link")).toString();
    e.target = o.value(QStringLiteral("target")).toString();
    e.serial = o.value(QStringLiteral("serial")).toString();
    e.message = o.value(QStringLiteral("message")).toString();
    e.sha256 = o.value(QStringLiteral("sha256")).toString();
    e.copy = o.value(QStringLiteral("copy")).toString();
    if (const QJsonValue v = o.value(QStringLiteral("answerMs")); v.isDouble())
        e.answerMs = v.toDouble();
    if (const QJsonValue v = o.value(QStringLiteral("durationMs")); v.isDouble())
        e.durationMs = v.toInteger();
    return e;
}

QString timedCopyName(const QString &serial, const QDateTime &utc)
{
    QString safe;
    for (const QChar c : serial) {
        const char16_t u = c.unicode();
        const bool plain = (u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z');
        safe += plain ? c : QLatin1Char('_');
    }
    if (safe.isEmpty())
        safe = QStringLiteral("_");
    return safe + QLatin1Char('-') + utc.toUTC().toString(kCopyTime) + QStringLiteral(".tvc");
}

Journal::Journal(QString program, QString folder, int copyLimit, Clock clock)
    : program_(std::move(program)),
      folder_(std::move(folder)),
      copyLimit_(std::max(0, copyLimit)),
      clock_(std::move(clock))
{}

QString Journal::defaultFolder()
{
#ifdef Q_OS_WIN
    // %APPDATA%\tarvil-config, where Windows users are told to look; it is
    // also what lets each test run keep a folder of its own.
    const QString appData = qEnvironmentVariable("APPDATA");
    if (!appData.isEmpty())
        return QDir::cleanPath(QDir::fromNativeSeparators(appData) + QLatin1Char('/') + QLatin1String(kToolDataName));
#endif
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

QString Journal::filePath() const { return QDir(folder_).filePath(QString::fromLatin1(kJournalFileName)); }

bool Journal::append(const WriteOutcome &outcome, QString *error)
{
    // Only what sent something is journalled.
    if (outcome.result == WriteOutcome::Result::Refused)
        return true;
    JournalEntry e;
    e.kind = QString::fromLatin1(kJournalWrite);
    e.link = linkName(outcome.target);
    e.target = outcome.target == WriteOutcome::Target::File ? native(outcome.targetName) : outcome.targetName;
    e.serial = outcome.serial;
    e.result = resultName(outcome.result);
    if (outcome.result == WriteOutcome::Result::Failed)
        e.message = outcome.message;
    e.answerMs = outcome.answerMs;
    e.durationMs = outcome.durationMs;
    return record(std::move(e), outcome.image, error);
}

bool Journal::append(const ReadOutcome &outcome, QString *error)
{
    if (outcome.result == Outcome::Result::Refused)
        return true;
    JournalEntry e;
    e.kind = QString::fromLatin1(kJournalRead);
    e.link = QStringLiteral("lan");
    e.target = outcome.targetName;
    e.serial = outcome.serial;
    e.result = resultName(outcome.result);
    if (outcome.result == Outcome::Result::Failed)
        e.message = outcome.message;
    // Only a read that ended brought an image worth a copy.
    return record(std::move(e), outcome.done() ? outcome.image : QByteArray(), error);
}

bool Journal::record(JournalEntry e, const QByteArray &image, QString *error)
{
    const auto fail = [error](const QString &reason) {
        if (error)
            *error = reason;
        return false;
    };
    if (folder_.isEmpty())
        return fail(QStringLiteral("не определена папка данных пользователя"));
    if (!QDir().mkpath(folder_) || !QFileInfo(folder_).isDir())
        return fail(QStringLiteral("нельзя создать папку %1").arg(native(folder_)));

    QDateTime now = clock_ ? clock_() : QDateTime::currentDateTimeUtc();
    now = now.toUTC();
    e.time = now;
    e.program = program_;

    // The copy first, so that the line can name it; a copy that fails still
    // leaves its line, which says so by naming none. A read that brought
    // nothing has neither copy nor checksum.
    QString copyError;
    if (!image.isEmpty() || e.kind != QLatin1String(kJournalRead)) {
        e.sha256 = QString::fromLatin1(QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex());
        e.copy = keepCopy(e.serial, now, image, &copyError);
    }
    QString lineError;
    const bool lineWritten = appendLine(e.toJsonLine() + '\n', &lineError);
    if (!e.copy.isEmpty())
        dropOldCopies();

    if (!lineWritten)
        return fail(copyError.isEmpty() ? lineError : lineError + QStringLiteral("; ") + copyError);
    if (!copyError.isEmpty())
        return fail(copyError);
    return true;
}

QString Journal::keepCopy(const QString &serial, const QDateTime &time, const QByteArray &image, QString *error)
{
    if (image.size() != kImageSize) {
        *error = QStringLiteral("нет образа конфигурации для копии");
        return {};
    }
    if (copyLimit_ == 0)
        return {};
    const QDir dir(folder_);
    const QString name = timedCopyName(serial, time);
    QString path = dir.filePath(name);
    for (int n = 2; QFileInfo::exists(path); ++n) {
        if (n > kMaxSameSecond) {
            *error = QStringLiteral("нельзя сохранить копию %1 (такой файл есть)").arg(native(path));
            return {};
        }
        path = dir.filePath(name.chopped(4) + QStringLiteral("-%1.tvc").arg(n));
    }
    ConfigImage copy;
    std::memcpy(copy.data(), image.constData(), size_t(kImageSize));
    PacketList packets;
    packets.buildFrom(copy);
    // Written whole under a passing name and then renamed, so that a copy is
    // never seen half-written, but without the flush to disk a user's own save
    // waits for: a copy is not worth holding up the write it records.
    const QString part = path + QStringLiteral(".part");
    QFile file(part);
    const QByteArray bytes = serializeConfigFile(packets);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size() || !file.flush()) {
        *error = QStringLiteral("нельзя сохранить копию %1 (%2)").arg(native(path), file.errorString());
        file.remove();
        return {};
    }
    file.close();
    QFile::remove(path);
    if (!QFile::rename(part, path)) {
        *error = QStringLiteral("нельзя сохранить копию %1").arg(native(path));
        QFile::remove(part);
        return {};
    }
    return native(QFileInfo(path).absoluteFilePath());
}

bool Journal::appendLine(const QByteArray &line, QString *error)
{
    // Appended, never rewritten: the lines already there are never at risk,
    // and two programs writing at once each add their own line.
    QFile file(filePath());
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append)) {
        *error = QStringLiteral("нельзя дописать %1 (%2)").arg(native(file.fileName()), file.errorString());
        return false;
    }
    QByteArray bytes = line;
    // A line cut short (a crash, a full disk) is ended, so that it spoils no
    // line after it.
    if (file.size() > 0 && file.seek(file.size() - 1)) {
        char last = '\n';
        if (file.getChar(&last) && last != '\n')
            bytes.prepend('\n');
    }
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        *error = QStringLiteral("нельзя дописать %1 (%2)").arg(native(file.fileName()), file.errorString());
        return false;
    }
    return true;
}

void Journal::dropOldCopies()
{
    struct Copy {
        QString time;
        int sameSecond;
        QString name;
    };
    QList<Copy> copies;
    const QDir dir(folder_);
    const QStringList names = dir.entryList({QStringLiteral("*.tvc")}, QDir::Files);
    for (const QString &name : names) {
        const QRegularExpressionMatch m = copyPattern().match(name);
        if (m.hasMatch())
            copies.append({m.captured(1), m.captured(2).isEmpty() ? 1 : m.captured(2).toInt(), name});
    }
    if (copies.size() <= copyLimit_)
        return;
    std::sort(copies.begin(), copies.end(), [](const Copy &a, const Copy &b) {
        if (a.time != b.time)
            return a.time < b.time;
        if (a.sameSecond != b.sameSecond)
            return a.sameSecond < b.sameSecond;
        return a.name < b.name;
    });
    // A copy that cannot be removed is tried again after the next write.
    for (qsizetype i = 0; i < copies.size() - copyLimit_; ++i)
        QFile::remove(dir.filePath(copies.at(i).name));
}

namespace {

// What a line that is no longer JSON still shows of one key's text.
QString salvaged(const QByteArray &line, const char *key)
{
    const QRegularExpression pattern(QStringLiteral(R"re("%1"\s*:\s*"((?:[^"\\]|\\.)*)")re").arg(QLatin1String(key)));
    const QRegularExpressionMatch m = pattern.match(QString::fromUtf8(line));
    if (!m.hasMatch())
        return {};
    // Decoded as JSON would decode it, where the rest of the line cannot be.
    const QJsonDocument value = QJsonDocument::fromJson("[\"" + m.captured(1).toUtf8() + "\"]");
    return value.isArray() ? value.array().at(0).toString() : QString();
}

BrokenJournalLine brokenLine(int number, const QByteArray &line)
{
    constexpr qsizetype kShown = 120;
    BrokenJournalLine b;
    b.line = number;
    const QString text = QString::fromUtf8(line.left(kShown * 4)).trimmed();
    b.text = text.size() > kShown ? text.left(kShown) + QStringLiteral("…") : text;
    b.serial = salvaged(line, "serial");
    b.time = QDateTime::fromString(salvaged(line, "time"), Qt::ISODateWithMs).toUTC();
    return b;
}

} // namespace

JournalContents Journal::read() const
{
    JournalContents out;
    QFile file(filePath());
    if (!file.exists())
        return out;
    if (!file.open(QIODevice::ReadOnly)) {
        out.error = QStringLiteral("нельзя прочитать %1 (%2)").arg(native(file.fileName()), file.errorString());
        return out;
    }
    int number = 0;
    while (!file.atEnd()) {
        ++number;
        QByteArray line = file.readLine(kMaxLine);
        if (!line.endsWith('\n') && !file.atEnd()) {
            // Longer than any line of ours: skipped to its end, and named.
            out.broken.append(brokenLine(number, line));
            while (!file.atEnd() && !file.readLine(kMaxLine).endsWith('\n')) {}
            continue;
        }
        if (line.trimmed().isEmpty())
            continue;
        const QJsonDocument doc = QJsonDocument::fromJson(line);
        std::optional<JournalEntry> e = doc.isObject() ? JournalEntry::fromJson(doc.object()) : std::nullopt;
        if (!e) {
            out.broken.append(brokenLine(number, line));
            continue;
        }
        e->line = number;
        out.entries.append(std::move(*e));
    }
    return out;
}

QList<JournalEntry> Journal::entries(const QString &serial) const
{
    QList<JournalEntry> out;
    for (JournalEntry &e : read().entries) {
        if (serial.isEmpty() || e.serial == serial)
            out.append(std::move(e));
    }
    std::reverse(out.begin(), out.end());
    return out;
}

QString journalWarningText(const QString &reason)
{
    return QStringLiteral("Журнал записей недоступен: %1.\n"
                          "Запись в трансивер и сохранение в файл выполняются и без журнала.")
        .arg(reason);
}

UserMessage journalWarning(const QString &reason)
{
    return UserMessage{journalWarningText(reason)
                           + QStringLiteral("\nДо перезапуска программы это сообщение больше не появится."),
                       QStringLiteral("Журнал записей"), MsgIcon::Warning, MsgButtons::Ok, false};
}

} // namespace tarvil
