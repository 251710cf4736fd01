#pragma once

#include "model/ObjectRow.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace tarvil {

// The object table as CSV, for a spreadsheet in a Russian locale: UTF-8 with
// a byte-order mark, ";" between the fields, RFC 4180 quoting, CR LF line
// ends, and this header:
//     Объект;ППК;Телефон 1;Телефон 2;Тест, мин.;Код типа;Протокол;Тип ППК
// "Тест, мин." is the table's minutes; "Код типа" and "Протокол" are the
// record's type and protocol bytes; "Тип ППК" is the type's name, written for
// people and not read back.
QStringList objectCsvHeader();
QByteArray objectsToCsv(const QList<ObjectRow> &rows);

// A file is read up to this size; more is no object list of 300 panels.
inline constexpr qint64 kMaxObjectCsvBytes = qint64(4) * 1024 * 1024;

// One failing line of an imported CSV: its line number in the file (from 1,
// where its record starts), the column's title (empty when the fault is the
// line's own), and why.
struct CsvProblem {
    int line = 0;
    QString column;
    QString reason;

    // "строка 5, «Телефон 1»: ..." as a person reads it.
    QString text() const;
    friend bool operator==(const CsvProblem &, const CsvProblem &) = default;
};

struct CsvObjects {
    QList<ObjectRow> rows;     // in the file's order; only when no line fails
    QList<CsvProblem> problems; // every failing line, in file order

    bool ok() const { return problems.isEmpty(); }
};

// Reads UTF-8 with or without the mark, and code page 1251. The header must
// be the one above. Every line gets the checks that storing a row in the
// window applies and the limits a record holds: object and panel numbers of
// exactly 4 characters 0-9 and A-F, phones of at most 13 digits and "+" with
// phone 1 filled in, test minutes whose seconds fit 32 bits, type and
// protocol 0..255, at most 300 objects. Lines whose every field is empty are
// passed over.
CsvObjects objectsFromCsv(const QByteArray &bytes);
// The same from a file; a file that cannot be read, or is too large, is one
// problem of line 0.
CsvObjects readObjectsCsv(const QString &path);

// The first `lines` failing lines, one text line per problem.
QString describeProblems(const QList<CsvProblem> &problems, int lines);

} // namespace tarvil
