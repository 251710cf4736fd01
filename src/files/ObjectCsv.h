#pragma once

#include "files/ObjectSheet.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace tarvil {

// The object table as CSV, for a spreadsheet in a Russian locale and for
// scripts: UTF-8 with a byte-order mark, ";" between the fields, RFC 4180
// quoting, CR LF line ends, the header and columns of ObjectSheet.h.
QByteArray objectsToCsv(const QList<ObjectRow> &rows);

// A file is read up to this size; more is no object list of 300 panels.
inline constexpr qint64 kMaxObjectCsvBytes = qint64(4) * 1024 * 1024;

// Reads UTF-8 with or without the mark, and code page 1251, and checks every
// line with checkObjectSheet(): `current` is the configuration the objects go
// into, so that a phone whose "+" a spreadsheet dropped is found.
SheetObjects objectsFromCsv(const QByteArray &bytes, const QList<ObjectRow> *current = nullptr);
// The same from a file; a file that cannot be read, or is too large, is one
// problem of line 0.
SheetObjects readObjectsCsv(const QString &path, const QList<ObjectRow> *current = nullptr);

} // namespace tarvil
