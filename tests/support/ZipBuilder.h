#pragma once

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <optional>
#include <utility>

namespace tarvil::test {

// A zip archive put together byte by byte, so that a test can make one that
// lies: each entry stored or deflated, with the size and checksum the archive
// declares for it given in place of the true ones where a test wants.
struct ZipEntry {
    ZipEntry(QByteArray n, QByteArray d) : name(std::move(n)), data(std::move(d)) {}

    QByteArray name;
    QByteArray data;
    bool deflate = true;
    std::optional<std::uint32_t> declaredSize; // the inflated size the headers give
    std::optional<std::uint32_t> declaredCrc;
};
QByteArray zipArchive(const QList<ZipEntry> &entries);

// The parts of a workbook of one sheet "Объекты" (or `sheetName`), its XML
// given, and the shared strings when there are any.
QList<ZipEntry> workbookParts(const QByteArray &sheetXml, const QByteArray &sharedStringsXml = {},
                              const QByteArray &sheetName = "Объекты");

// A sheet's XML around `rows` (the <row> elements).
QByteArray sheetXml(const QByteArray &rows);

} // namespace tarvil::test
