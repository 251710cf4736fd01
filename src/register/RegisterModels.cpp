#include "register/RegisterModels.h"

#include <QBrush>
#include <QColor>

#include <algorithm>

namespace tarvil {

namespace {

// What needs the user's eye: a failure, a copy gone or changed, a broken line.
const QColor kAlarm(0xB0, 0x00, 0x00);

bool failed(const std::optional<RegisterEvent> &event)
{
    return event && event->entry.result != QLatin1String("done");
}

// Serial numbers are numbers of up to ten digits: as such they sort by
// value. Anything else sorts after them, as text.
QString serialSortKey(const QString &serial)
{
    bool digits = !serial.isEmpty() && serial.size() <= 20;
    for (const QChar c : serial)
        digits = digits && c.isDigit();
    return digits ? QStringLiteral("0") + serial.rightJustified(20, QLatin1Char('0')) : QStringLiteral("1") + serial;
}

QString problemsText(const RegisterEntry &entry)
{
    QStringList texts;
    for (const RegisterProblem &p : entry.problems())
        texts << p.text();
    return texts.join(QStringLiteral("; "));
}

} // namespace

TransceiverTableModel::TransceiverTableModel(QObject *parent) : QAbstractTableModel(parent)
{
    setObjectName(QStringLiteral("TransceiverTableModel"));
}

void TransceiverTableModel::setRegister(const TransceiverRegister &reg)
{
    beginResetModel();
    entries_ = reg.entries();
    endResetModel();
}

const RegisterEntry *TransceiverTableModel::entryAt(int row) const
{
    return row >= 0 && row < entries_.size() ? &entries_.at(row) : nullptr;
}

int TransceiverTableModel::rowOf(const QString &serial) const
{
    for (qsizetype i = 0; i < entries_.size(); ++i) {
        if (entries_.at(i).serial == serial)
            return int(i);
    }
    return -1;
}

int TransceiverTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(entries_.size());
}

int TransceiverTableModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant TransceiverTableModel::data(const QModelIndex &index, int role) const
{
    const RegisterEntry *e = entryAt(index.row());
    if (!e || index.column() < 0 || index.column() >= ColumnCount)
        return {};
    const std::optional<RegisterEvent> &last =
        index.column() >= ReadTimeColumn && index.column() <= ReadOutcomeColumn ? e->lastRead : e->lastWrite;
    if (role == SerialRole)
        return e->serial;
    if (role == Qt::DisplayRole) {
        switch (Column(index.column())) {
        case SerialColumn: return registerText::serial(e->serial);
        case WriteTimeColumn:
        case ReadTimeColumn: return last ? registerText::time(last->entry.time) : QStringLiteral("—");
        case WritePlaceColumn:
        case ReadPlaceColumn: return last ? registerText::place(last->entry) : QString();
        case WriteOutcomeColumn:
        case ReadOutcomeColumn: return last ? registerText::outcome(last->entry) : QString();
        case WritesColumn: return e->writes;
        case ProblemsColumn: return problemsText(*e);
        case ColumnCount: break;
        }
        return {};
    }
    if (role == SortRole) {
        switch (Column(index.column())) {
        case SerialColumn: return serialSortKey(e->serial);
        case WriteTimeColumn:
        case ReadTimeColumn: return last ? last->entry.time : QDateTime();
        case WritesColumn: return e->writes;
        case ProblemsColumn: return int(e->problems().size());
        default: return data(index, Qt::DisplayRole);
        }
    }
    if (role == Qt::ToolTipRole) {
        if (index.column() == ProblemsColumn)
            return problemsText(*e).replace(QStringLiteral("; "), QStringLiteral("\n"));
        if (last && !last->entry.message.isEmpty() && index.column() != SerialColumn && index.column() != WritesColumn)
            return last->entry.message;
        return {};
    }
    if (role == Qt::ForegroundRole) {
        const bool alarm = (index.column() == ProblemsColumn && !e->problems().isEmpty())
                           || ((index.column() == WriteOutcomeColumn || index.column() == ReadOutcomeColumn)
                               && failed(last));
        return alarm ? QVariant(QBrush(kAlarm)) : QVariant();
    }
    if (role == Qt::TextAlignmentRole && index.column() == WritesColumn)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant TransceiverTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (Column(section)) {
    case SerialColumn: return QStringLiteral("Заводской номер");
    case WriteTimeColumn: return QStringLiteral("Последняя запись");
    case WritePlaceColumn: return QStringLiteral("Куда");
    case WriteOutcomeColumn: return QStringLiteral("Итог записи");
    case ReadTimeColumn: return QStringLiteral("Последнее чтение");
    case ReadPlaceColumn: return QStringLiteral("Откуда");
    case ReadOutcomeColumn: return QStringLiteral("Итог чтения");
    case WritesColumn: return QStringLiteral("Записей");
    case ProblemsColumn: return QStringLiteral("Замечания");
    case ColumnCount: break;
    }
    return {};
}

HistoryModel::HistoryModel(CopyChecker &checker, QObject *parent) : QAbstractTableModel(parent), checker_(checker)
{
    setObjectName(QStringLiteral("HistoryModel"));
}

void HistoryModel::setEntry(const RegisterEntry *entry)
{
    beginResetModel();
    rows_.clear();
    if (entry) {
        for (const RegisterEvent &event : entry->history) {
            Row row{event.entry.line, event, {}};
            if (row.event->copy == CopyState::Unchecked)
                row.event->copy = checker_.check(row.event->entry);
            rows_.append(row);
        }
        for (const BrokenJournalLine &broken : entry->broken)
            rows_.append(Row{broken.line, std::nullopt, broken});
        // Newest first, as the journal was written.
        std::stable_sort(rows_.begin(), rows_.end(), [](const Row &a, const Row &b) { return a.line > b.line; });
    }
    endResetModel();
}

const RegisterEvent *HistoryModel::eventAt(int row) const
{
    return row >= 0 && row < rows_.size() && rows_.at(row).event ? &*rows_.at(row).event : nullptr;
}

int HistoryModel::rowOfLine(int line) const
{
    for (qsizetype i = 0; i < rows_.size(); ++i) {
        if (rows_.at(i).line == line)
            return int(i);
    }
    return -1;
}

int HistoryModel::lineAt(int row) const { return row >= 0 && row < rows_.size() ? rows_.at(row).line : 0; }

int HistoryModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : int(rows_.size()); }

int HistoryModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant HistoryModel::data(const QModelIndex &index, int role) const
{
    if (index.row() < 0 || index.row() >= rows_.size() || index.column() < 0 || index.column() >= ColumnCount)
        return {};
    const Row &row = rows_.at(index.row());
    if (!row.event) {
        // A line that could not be read: what is known of it, and that it is broken.
        if (role == Qt::DisplayRole) {
            if (index.column() == TimeColumn)
                return registerText::time(row.broken.time);
            if (index.column() == ActionColumn)
                return QStringLiteral("строка %1 журнала не читается").arg(row.line);
            return {};
        }
        if (role == Qt::ToolTipRole)
            return row.broken.text;
        if (role == Qt::ForegroundRole)
            return QBrush(kAlarm);
        return {};
    }
    const RegisterEvent &event = *row.event;
    const JournalEntry &e = event.entry;
    if (role == Qt::DisplayRole) {
        switch (Column(index.column())) {
        case TimeColumn: return registerText::time(e.time);
        case ActionColumn: return registerText::action(e);
        case ProgramColumn: return registerText::program(e);
        case PlaceColumn: return registerText::place(e);
        case OutcomeColumn: return registerText::outcome(e);
        case CopyColumn: return registerText::copy(event.copy);
        case ColumnCount: break;
        }
        return {};
    }
    if (role == Qt::ToolTipRole) {
        if (index.column() == OutcomeColumn && !e.message.isEmpty())
            return e.message;
        if (index.column() == CopyColumn && !e.copy.isEmpty())
            return e.copy;
        return {};
    }
    if (role == Qt::ForegroundRole) {
        const bool alarm = (index.column() == OutcomeColumn && e.result != QLatin1String("done"))
                           || (index.column() == CopyColumn
                               && (event.copy == CopyState::Missing || event.copy == CopyState::Changed));
        return alarm ? QVariant(QBrush(kAlarm)) : QVariant();
    }
    return {};
}

QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (Column(section)) {
    case TimeColumn: return QStringLiteral("Время");
    case ActionColumn: return QStringLiteral("Действие");
    case ProgramColumn: return QStringLiteral("Программа");
    case PlaceColumn: return QStringLiteral("Куда / откуда");
    case OutcomeColumn: return QStringLiteral("Итог");
    case CopyColumn: return QStringLiteral("Копия");
    case ColumnCount: break;
    }
    return {};
}

} // namespace tarvil
