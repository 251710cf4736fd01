#pragma once

#include "files/Journal.h"

#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

namespace tarvil {

// What became of the copy a journal line names.
enum class CopyState {
    Unchecked, // not looked at yet
    None,      // the line names no copy: a read that brought nothing, a copy that could not be kept
    Intact,    // there, and still the image whose SHA-256 the line holds
    Missing,   // gone, or no longer readable
    Changed,   // there, but no longer that image
};

// Looks at the copies journal lines name. A copy is read and hashed once;
// asked again, it is read again only when its size or time has changed, so
// that a window that reloads the register as the journal grows does not read
// every copy anew.
class CopyChecker {
public:
    CopyState check(const JournalEntry &entry);

private:
    struct Seen {
        qint64 size = 0;
        QDateTime modified;
        QString sha256; // of the whole image it holds; empty when it holds none
    };
    QHash<QString, Seen> seen_;
};

// The image a copy (or any configuration file) holds, every byte, when it
// holds a whole one; nothing, with the reason in `error`, otherwise.
std::optional<QByteArray> imageOfCopy(const QString &path, QString *error = nullptr);

// A journal line of one transceiver, and what became of its copy.
struct RegisterEvent {
    JournalEntry entry;
    CopyState copy = CopyState::Unchecked;
};

// Something on an entry that its user must not miss: a journal line of its
// that could not be read, or the copy of its last write or read gone or
// changed since it was made.
struct RegisterProblem {
    enum class Kind { BrokenLine, CopyMissing, CopyChanged };
    Kind kind = Kind::BrokenLine;
    int line = 0;
    QString detail;     // the line's beginning, or the copy's path
    bool read = false;  // for a copy: that of the last read (else of the last write)

    QString text() const;
    QJsonObject toJson() const;
};

// One transceiver, by serial number, as the journal knows it.
struct RegisterEntry {
    QString serial; // empty: the lines that name no serial number
    int writes = 0; // writes to the transceiver (USB or LAN) that were done
    std::optional<RegisterEvent> lastWrite; // the last write to it (USB or LAN), however it ended
    std::optional<RegisterEvent> lastRead;  // the last read of it, however it ended
    QDateTime lastActivity; // its newest line (a save too); invalid when only broken lines name it
    QList<RegisterEvent> history;           // every line of it, newest first
    QList<BrokenJournalLine> broken;        // its lines that could not be read, newest first

    QList<RegisterProblem> problems() const;
    // "serial", "writes", "lastWrite", "lastRead", "lastActivity",
    // "problems"; and "history" when asked for.
    QJsonObject toJson(bool withHistory = false) const;
};

// The register of transceivers: the journal read as one entry per serial
// number, the newest activity first. A line that cannot be read is put on the
// entry whose serial number it still shows (or on the entry of lines without
// one) and hides nothing else; the copies of each last write and last read
// are checked.
//
//     CopyChecker checker;
//     const TransceiverRegister reg = TransceiverRegister::build(journal.read(), checker);
//     for (const RegisterEntry &e : reg.entries()) ...
class TransceiverRegister {
public:
    static TransceiverRegister build(const JournalContents &journal, CopyChecker &checker);

    const QList<RegisterEntry> &entries() const { return entries_; }
    const RegisterEntry *find(const QString &serial) const;
    // Why the journal could not be read, when it could not.
    QString error() const { return error_; }

private:
    QList<RegisterEntry> entries_;
    QString error_;
};

// What the table, the history and the command line call things, in the
// window's Russian terms.
namespace registerText {
QString serial(const QString &serial);         // "не определён" for none
QString time(const QDateTime &utc);            // local time, "31.01.2025 12:30:05"; "—" for none
QString action(const JournalEntry &entry);     // "Запись", "Сохранение", "Чтение"
QString outcome(const JournalEntry &entry);    // "выполнена", "ошибка", "прервана", ...
QString program(const JournalEntry &entry);    // "программа настройки", "tarvil-cli"
QString place(const JournalEntry &entry);      // "LAN 192.168.1.221", "USB COM3", the file
QString copy(CopyState state);                 // "есть", "нет", "удалена", "изменена"
} // namespace registerText

// JSON of a journal line as the register shows it: "time", "program",
// "target", "outcome", "copy" (null for none), and "kind", "link",
// "copyState", "message" where there is one, "line".
QJsonObject registerEventJson(const RegisterEvent &event);

} // namespace tarvil
