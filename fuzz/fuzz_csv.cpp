// The objects' CSV importer over any bytes: it never crashes or hangs, what it
// accepts keeps every limit a record holds, and the accepted rows export and
// import back to the same.
#include "ObjectChecks.h"

#include "files/ObjectCsv.h"

#include <QByteArray>

#include <cstdint>

using namespace tarvil;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const SheetObjects read = objectsFromCsv(bytes);
    if (!read.ok()) {
        FUZZ_REQUIRE(read.rows.isEmpty());
        for (const SheetProblem &p : read.problems)
            FUZZ_REQUIRE(p.line >= 0 && !p.reason.isEmpty());
        return 0;
    }
    requireRecordLimits(read.rows);
    const SheetObjects again = objectsFromCsv(objectsToCsv(read.rows));
    FUZZ_REQUIRE(again.ok() && again.rows == read.rows);
    return 0;
}
