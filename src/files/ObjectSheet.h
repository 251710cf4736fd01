#pragma once

#include "model/ObjectRow.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>

namespace tarvil {

// The object list as a spreadsheet holds it, in a CSV file or an .xlsx
// workbook: one header row with these titles, then one row per object.
//     Объект;ППК;Телефон 1;Телефон 2;Тест, мин.;Код типа;Протокол;Тип ППК
// "Тест, мин." is the table's minutes; "Код типа" and "Протокол" are the
// record's type and protocol bytes; "Тип ППК" is the type's name, written for
// people and not read back. Both formats go through the same row checks.
QStringList objectSheetHeader();

// The value of each column a row writes: the record's view of it (the low
// byte of a type, a text cut to its width), the type's name as the table has it.
QStringList objectSheetValues(const ObjectRow &row);

// The spreadsheets an object list comes back from.
enum class SheetFormat { Csv, Xlsx };

// One failing row: its number (the CSV's line where its record starts, the
// workbook's row; 0 for a fault of the whole file), the column's title (empty
// when the fault is the row's own), and why. `spreadsheet` marks a value that
// only a spreadsheet could have made: the user is told how to keep the list
// safe.
struct SheetProblem {
    int line = 0;
    QString column;
    QString reason;
    bool spreadsheet = false;

    // "строка 5, «Телефон 1»: ..." as a person reads it.
    QString text() const;
    friend bool operator==(const SheetProblem &, const SheetProblem &) = default;
};

struct SheetObjects {
    QList<ObjectRow> rows;         // in the file's order; only when no row fails
    QList<SheetProblem> problems;  // every failing row, in file order
    SheetFormat format = SheetFormat::Csv;

    bool ok() const { return problems.isEmpty(); }
    // How many rows failed (a fault of the whole file counts as one).
    int failingRows() const;
    // The failing rows as the user reads them: the first `rows` rows, one text
    // line per problem.
    QString describe(int rows) const;
    // When a spreadsheet changed a value: how to keep the values as they are.
    QString advice() const;
};

// One row as the file holds it, before any check: where it starts, its
// values, and a fault of its own (a quote out of place). `changeable` marks
// the values a spreadsheet may have turned into numbers: every value of a
// CSV; in a workbook the values it stored as numbers.
struct SheetRow {
    int line = 0;
    QStringList fields;
    QString fault;
    std::uint32_t changeable = ~std::uint32_t(0); // bit i: fields[i]
};

// The checks of an imported list. The first row must be the header. Every
// other row gets the checks that storing a row in the window applies and the
// limits a record holds: object and panel numbers of exactly 4 characters
// 0-9 and A-F, phones of at most 13 digits and "+" with phone 1 filled in,
// test minutes whose seconds fit 32 bits, type and protocol 0..255, at most
// 300 objects. Rows whose every value is empty are passed over.
//
// A value a spreadsheet has changed is refused with that cause: a number in
// exponent notation ("1.00E+05"), an object or panel number of fewer than 4
// digits (its leading zeros gone), and a phone that differs only by its lost
// leading "+" from the phone of the same object in `current` (the
// configuration the list goes into), when it is given.
SheetObjects checkObjectSheet(const QList<SheetRow> &rows, SheetFormat format,
                              const QList<ObjectRow> *current = nullptr);

// What a user does to keep the values a spreadsheet would change.
QString spreadsheetAdvice(SheetFormat format);

} // namespace tarvil
