// tarvil-cli register: the register of transceivers, for people or as JSON.
#include "cli/RegisterCommand.h"

#include "files/Register.h"

#include <QJsonArray>

#include <algorithm>

namespace tarvil::cli {

namespace {

QString lastText(const std::optional<RegisterEvent> &event)
{
    if (!event)
        return QStringLiteral("—");
    const JournalEntry &e = event->entry;
    return registerText::time(e.time) + QStringLiteral("  ") + registerText::place(e) + QStringLiteral("  ")
           + registerText::outcome(e);
}

// Columns as wide as their widest cell, two blanks apart; the last one as it is.
QString table(const QList<QStringList> &rows)
{
    QList<qsizetype> widths;
    for (const QStringList &row : rows) {
        for (qsizetype i = 0; i < row.size(); ++i) {
            if (widths.size() <= i)
                widths.append(0);
            widths[i] = std::max(widths[i], row.at(i).size());
        }
    }
    QString out;
    for (const QStringList &row : rows) {
        QString line;
        for (qsizetype i = 0; i < row.size(); ++i)
            line += i + 1 < row.size() ? row.at(i).leftJustified(widths.at(i) + 2) : row.at(i);
        out += line.trimmed().isEmpty() ? QString() : line + QLatin1Char('\n');
    }
    return out;
}

QString historyText(const RegisterEntry &entry)
{
    QString out = QStringLiteral("\nИстория трансивера № %1, новые сначала:\n").arg(registerText::serial(entry.serial));
    QList<QStringList> rows;
    for (const RegisterEvent &event : entry.history) {
        const JournalEntry &e = event.entry;
        QString outcome = registerText::outcome(e);
        if (!e.message.isEmpty())
            outcome += QStringLiteral(" (") + e.message.simplified() + QLatin1Char(')');
        const QString copy = e.copy.isEmpty() ? QStringLiteral("копии нет")
                                              : QStringLiteral("копия %1: %2").arg(registerText::copy(event.copy), e.copy);
        rows.append({QStringLiteral("  ") + registerText::time(e.time), registerText::action(e),
                     registerText::program(e), registerText::place(e), outcome, copy});
    }
    return out + table(rows);
}

} // namespace

int registerCommand(Context &c)
{
    const Journal journal(QStringLiteral("cli"));
    const JournalContents contents = journal.read();
    CopyChecker checker;
    const TransceiverRegister reg = TransceiverRegister::build(contents, checker);
    if (!reg.error().isEmpty())
        c.err() << "tarvil-cli: " << reg.error() << '\n' << Qt::flush;

    QList<RegisterEntry> entries;
    for (const RegisterEntry &e : reg.entries()) {
        if (c.serial.isEmpty() || e.serial == c.serial)
            entries.append(e);
    }
    // One transceiver asked for: its whole history, each copy looked at.
    const bool withHistory = !c.serial.isEmpty();
    if (withHistory) {
        for (RegisterEntry &e : entries) {
            for (RegisterEvent &event : e.history) {
                if (event.copy == CopyState::Unchecked)
                    event.copy = checker.check(event.entry);
            }
        }
    }

    if (c.json) {
        QJsonArray list;
        for (const RegisterEntry &e : entries)
            list.append(e.toJson(withHistory));
        c.writeJson(QJsonObject{{QStringLiteral("journal"), journal.filePath()}, {QStringLiteral("entries"), list}});
        return Done;
    }

    if (entries.isEmpty()) {
        c.out() << (c.serial.isEmpty() ? QStringLiteral("В журнале нет ни одного трансивера (%1).\n").arg(journal.filePath())
                                       : QStringLiteral("В журнале нет трансивера № %1 (%2).\n")
                                             .arg(c.serial, journal.filePath()))
                << Qt::flush;
        return Done;
    }
    QList<QStringList> rows{{QStringLiteral("Заводской номер"), QStringLiteral("Последняя запись"),
                             QStringLiteral("Последнее чтение"), QStringLiteral("Записей")}};
    for (const RegisterEntry &e : entries)
        rows.append({registerText::serial(e.serial), lastText(e.lastWrite), lastText(e.lastRead),
                     QString::number(e.writes)});
    c.out() << QStringLiteral("Журнал трансиверов (%1), последние действия сначала:\n").arg(journal.filePath())
            << table(rows);
    bool headed = false;
    for (const RegisterEntry &e : entries) {
        for (const RegisterProblem &p : e.problems()) {
            if (!std::exchange(headed, true))
                c.out() << QStringLiteral("\nЗамечания:\n");
            c.out() << QStringLiteral("  № %1: %2\n").arg(registerText::serial(e.serial), p.text());
        }
    }
    if (withHistory) {
        for (const RegisterEntry &e : entries)
            c.out() << historyText(e);
    }
    c.out() << Qt::flush;
    return Done;
}

} // namespace tarvil::cli
