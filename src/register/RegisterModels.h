#pragma once

#include "files/Register.h"

#include <QAbstractTableModel>
#include <QList>

#include <optional>

namespace tarvil {

// The register's table: one row per transceiver, in the register's order
// (newest activity first). Every cell's text is the display role; SortRole
// gives what the column sorts by (serial numbers as numbers, times as times).
class TransceiverTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        SerialColumn,
        WriteTimeColumn,
        WritePlaceColumn,
        WriteOutcomeColumn,
        ReadTimeColumn,
        ReadPlaceColumn,
        ReadOutcomeColumn,
        WritesColumn,
        ProblemsColumn,
        ColumnCount
    };
    static constexpr int SortRole = Qt::UserRole;
    static constexpr int SerialRole = Qt::UserRole + 1; // the serial number as the journal has it

    explicit TransceiverTableModel(QObject *parent = nullptr);

    void setRegister(const TransceiverRegister &reg);
    const RegisterEntry *entryAt(int row) const;
    int rowOf(const QString &serial) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QList<RegisterEntry> entries_;
};

// One transceiver's history, newest first: its journal lines, and those of
// its lines that could not be read, each where it stands in the journal.
// Every copy is looked at when the history is shown.
class HistoryModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { TimeColumn, ActionColumn, ProgramColumn, PlaceColumn, OutcomeColumn, CopyColumn, ColumnCount };

    explicit HistoryModel(CopyChecker &checker, QObject *parent = nullptr);

    // Nothing shown for no entry.
    void setEntry(const RegisterEntry *entry);
    // The journal line of a row; nothing for a line that could not be read.
    const RegisterEvent *eventAt(int row) const;
    int rowOfLine(int line) const;
    int lineAt(int row) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    struct Row {
        int line = 0;
        std::optional<RegisterEvent> event;
        BrokenJournalLine broken;
    };
    CopyChecker &checker_;
    QList<Row> rows_;
};

} // namespace tarvil
