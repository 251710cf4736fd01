#pragma once

#include "link/ReadOutcome.h"
#include "link/WriteOutcome.h"
#include "model/UserMessage.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace tarvil {

// The folder both programs keep their data in is named after this
// application name (QStandardPaths::AppDataLocation): each program's main()
// calls useToolDataFolder() before anything reaches the journal.
inline constexpr char kToolDataName[] = "tarvil-config";
void useToolDataFolder();

inline constexpr char kJournalFileName[] = "journal.jsonl";
inline constexpr int kJournalCopyLimit = 2000;

inline constexpr char kJournalWrite[] = "write";
inline constexpr char kJournalRead[] = "read";

// One line of the journal.
struct JournalEntry {
    QDateTime time;  // UTC
    QString program; // "window" or "cli"
    // "write" (a write, or a save where the link is "file") or "read". Lines
    // written before reads were journalled carry no kind: they are writes.
    QString kind = QString::fromLatin1(kJournalWrite);
    QString link;    // "usb", "lan" or "file"
    QString target;  // the USB device, the transceiver's address or the file
    QString serial;
    QString result;  // "done", "failed" or "interrupted"
    QString message; // the text shown for a failure
    QString sha256;  // of the image sent or read, in hex; empty for a read that brought none
    QString copy;    // where the copy of the image was kept; empty when it could not be
    // A USB write: the adapter's median answer time and the write's duration.
    std::optional<double> answerMs;
    std::optional<qint64> durationMs;
    int line = 0;    // where it stands in the journal, from 1; 0 for a line not read from it

    bool isRead() const { return kind == QLatin1String(kJournalRead); }
    bool isSave() const { return !isRead() && link == QLatin1String("file"); }
    // A write to a transceiver, over USB or LAN.
    bool isWrite() const { return !isRead() && !isSave(); }

    QJsonObject toJson() const;
    // One line of JSON, without its line end, its keys in the order above,
    // so that a person reading the file finds the time first.
    QByteArray toJsonLine() const;
    // Nothing for an object that is no journal line (no time, no result).
    static std::optional<JournalEntry> fromJson(const QJsonObject &object);
};

// "<serial>-<UTC time>.tvc", the time as 20250131T093005Z. Of the serial
// number only ASCII letters and digits stay, anything else becomes "_", so
// that the name is safe on every system.
QString timedCopyName(const QString &serial, const QDateTime &utc);

// A journal line that does not read as one (cut short by a crash, edited by
// hand): where it is, how it begins, and the serial number and time it still
// shows, where they can be made out.
struct BrokenJournalLine {
    int line = 0;
    QString text; // its first characters
    QString serial;
    QDateTime time;
};

// The whole journal as read: its lines in the order they were written, and
// those that could not be read. `error` says why a journal that is there
// could not be opened.
struct JournalContents {
    QList<JournalEntry> entries;
    QList<BrokenJournalLine> broken;
    QString error;
};

// The journal of writes and reads: one JSON line per write, per save and per
// LAN read, appended to journal.jsonl in its folder, and beside it a copy of
// every image sent or read as a configuration file. It keeps at most `copyLimit` copies (its own, found by
// their names), dropping the oldest; the lines stay.
//
//     Journal journal(QStringLiteral("cli"));
//     if (!journal.append(outcome, &why))
//         ... warn, and go on: the journal never stops a write
//     for (const JournalEntry &e : journal.entries(serial)) ... newest first
class Journal {
public:
    using Clock = std::function<QDateTime()>;

    // `program` names the program in every line; `clock` gives the current
    // UTC time (the system's when empty).
    explicit Journal(QString program, QString folder = defaultFolder(), int copyLimit = kJournalCopyLimit,
                     Clock clock = {});

    // The user's data folder; empty when the system names none.
    static QString defaultFolder();

    QString folder() const { return folder_; }
    QString filePath() const;
    int copyLimit() const { return copyLimit_; }

    // Keeps the copy, appends the line, then drops the copies beyond the
    // limit. False, with the reason in `error`, when the line or the copy
    // could not be written; whatever could be written was.
    bool append(const WriteOutcome &outcome, QString *error = nullptr);
    // A read: with the copy of the image it brought, or none when it failed.
    bool append(const ReadOutcome &outcome, QString *error = nullptr);

    // The lines in the journal, newest first (the reverse of the order they
    // were written in), only those of `serial` when it is given. Lines that
    // do not read as journal lines (a line cut short by a crash) are left out.
    QList<JournalEntry> entries(const QString &serial = {}) const;
    // Every line, in the order written, and the broken ones named.
    JournalContents read() const;

private:
    bool record(JournalEntry entry, const QByteArray &image, QString *error);
    QString keepCopy(const QString &serial, const QDateTime &time, const QByteArray &image, QString *error);
    bool appendLine(const QByteArray &line, QString *error);
    void dropOldCopies();

    QString program_;
    QString folder_;
    int copyLimit_;
    Clock clock_;
};

// The window's box, shown once per run, and the command line's warning.
QString journalWarningText(const QString &reason);
UserMessage journalWarning(const QString &reason);

} // namespace tarvil
