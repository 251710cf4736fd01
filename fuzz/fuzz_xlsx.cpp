// The workbook reader over any bytes: a zip of XML from someone else's
// machine. It never crashes, hangs or grows past its bounds; it either reads
// a sheet or says why not, never both; what the object import accepts keeps
// every limit a record holds and comes back the same through a workbook of
// its own. Input that is no zip goes to each XML layer on its own, so that
// the parsers are reached without a valid archive around them.
#include "ObjectChecks.h"

#include "files/ObjectXlsx.h"
#include "files/Workbook.h"

#include <QByteArray>
#include <QStringList>

#include <cstdint>

using namespace tarvil;

namespace {

void requireSheet(const WorkbookSheet &sheet)
{
    FUZZ_REQUIRE(sheet.error.isEmpty() || sheet.rows.isEmpty());
    FUZZ_REQUIRE(sheet.rows.size() <= kMaxSheetRows);
    for (const SheetRow &row : sheet.rows) {
        FUZZ_REQUIRE(row.line >= 1 && !row.fields.isEmpty() && row.fields.size() <= kMaxSheetColumns);
        FUZZ_REQUIRE(!row.fields.last().isEmpty());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    if (bytes.startsWith("PK")) {
        requireSheet(readWorkbookSheet(bytes, kObjectSheetName));
        const SheetObjects read = objectsFromXlsx(bytes);
        if (!read.ok()) {
            FUZZ_REQUIRE(read.rows.isEmpty());
            return 0;
        }
        requireRecordLimits(read.rows);
        QString error;
        const auto workbook = objectsToXlsx(read.rows, &error);
        FUZZ_REQUIRE(workbook.has_value());
        const SheetObjects again = objectsFromXlsx(*workbook);
        FUZZ_REQUIRE(again.ok() && again.rows == read.rows);
        return 0;
    }
    const workbook::SharedStrings strings = workbook::parseSharedStrings(bytes);
    FUZZ_REQUIRE(strings.error.isEmpty() || strings.strings.isEmpty());
    FUZZ_REQUIRE(strings.strings.size() <= kMaxSharedStrings);
    requireSheet(workbook::parseSheet(bytes, strings.strings.isEmpty() ? QStringList{QStringLiteral("0001")}
                                                                        : strings.strings));
    const workbook::Sheets sheets = workbook::parseWorkbook(bytes);
    FUZZ_REQUIRE(sheets.sheets.size() <= kMaxWorkbookParts);
    const workbook::Relationships rels = workbook::parseRelationships(bytes);
    FUZZ_REQUIRE(rels.byId.size() <= kMaxWorkbookParts);
    return 0;
}
