#pragma once

#include "files/ObjectSheet.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace tarvil {

// One sheet of an .xlsx workbook, read as text: what Excel or LibreOffice
// saved, or any other file that says it is one. A workbook is a zip of XML
// parts that comes from other people's machines, so nothing in it is trusted:
// every part is inflated against a bound, its size and checksum must be the
// ones the archive declares, XML that declares a DTD is refused before any
// entity is expanded, and the sheet's size is bounded in rows and columns.
// Whatever breaks a bound ends the reading with one message; nothing is
// partly read.
//
//     const WorkbookSheet sheet = readWorkbookSheet(bytes, QStringLiteral("Объекты"));
//     if (!sheet.error.isEmpty()) ... refuse, saying sheet.error
//     for (const SheetRow &row : sheet.rows) ... row.line is the sheet's row number

// The bounds: a file of an object list is a few tens of kilobytes.
inline constexpr qint64 kMaxWorkbookBytes = qint64(8) * 1024 * 1024;     // the file itself
inline constexpr qint64 kMaxWorkbookPartBytes = qint64(8) * 1024 * 1024; // each part, inflated
inline constexpr int kMaxWorkbookParts = 1000;                            // entries of the archive
inline constexpr int kMaxSharedStrings = 100000;
inline constexpr int kMaxSheetRows = 10000;
inline constexpr int kMaxSheetColumns = 26; // A..Z

struct WorkbookSheet {
    QString name;          // the sheet read
    QList<SheetRow> rows;  // the rows that hold a cell, in order, each as wide as its last value
    QString error;         // why nothing was read; empty when the sheet was
};

// The sheet named `preferred`, or else the workbook's first sheet. Cells are
// read as their text: a shared or inline string as it stands, a number as its
// exact integer text ("75326948469", never "7.5E+10"), a formula as its last
// value. A value stored as a number is marked in the row's `changeable`.
WorkbookSheet readWorkbookSheet(const QByteArray &zip, const QString &preferred);
// The same from a file; a file that cannot be read or is too large is an error.
WorkbookSheet readWorkbookSheetFile(const QString &path, const QString &preferred);

// The layers of the reader, each on its own part: for tests and the fuzzer.
namespace workbook {

// One part of the archive, inflated and checked as the reader reads it;
// nothing, with the reason in `error`, when it is missing or broken.
std::optional<QByteArray> part(const QByteArray &zip, const QString &name, QString *error);

// The text of every string of xl/sharedStrings.xml, or an error.
struct SharedStrings {
    QStringList strings;
    QString error;
};
SharedStrings parseSharedStrings(const QByteArray &xml);

// The rows of a sheet's XML, strings taken from `shared`.
WorkbookSheet parseSheet(const QByteArray &xml, const QStringList &shared);

// The sheets a workbook.xml names, in order: name and relationship id.
struct SheetRef {
    QString name;
    QString relationship;
};
struct Sheets {
    QList<SheetRef> sheets;
    QString error;
};
Sheets parseWorkbook(const QByteArray &xml);

// The relationships of a .rels part: id -> (type, target).
struct Relationship {
    QString type;
    QString target;
};
struct Relationships {
    QHash<QString, Relationship> byId;
    QString error;
};
Relationships parseRelationships(const QByteArray &xml);

} // namespace workbook

} // namespace tarvil
