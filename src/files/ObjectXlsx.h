#pragma once

#include "files/ObjectSheet.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace tarvil {

// The object table as an .xlsx workbook, the way to keep the list in a
// spreadsheet without a spreadsheet changing it: one sheet "Объекты" with the
// columns of ObjectSheet.h, the header bold and frozen, and the text columns
// (Объект, ППК, Телефон 1, Телефон 2, Тип ППК) formatted as text down to row
// 301, so that "+7...", "0100" and "1E05" stay as typed there. The number
// columns hold numbers.
inline const QString kObjectSheetName = QStringLiteral("Объекты");
inline constexpr int kXlsxTextRows = 301; // the header and 300 objects

// The workbook's bytes; nothing, with the reason in `error`, when it could
// not be made.
std::optional<QByteArray> objectsToXlsx(const QList<ObjectRow> &rows, QString *error);

// The objects of a workbook: the sheet "Объекты", or else the first, read
// with readWorkbookSheet() and checked row by row as a CSV's lines are
// (checkObjectSheet); a fault of the workbook itself is one problem of row 0.
SheetObjects objectsFromXlsx(const QByteArray &bytes, const QList<ObjectRow> *current = nullptr);
SheetObjects readObjectsXlsx(const QString &path, const QList<ObjectRow> *current = nullptr);

} // namespace tarvil
