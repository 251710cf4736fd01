// The objects' CSV importer over any bytes: it never crashes or hangs, what it
// accepts keeps every limit a record holds, and the accepted rows export and
// import back to the same.
#include "FuzzCheck.h"

#include "files/ObjectCsv.h"
#include "model/ImageLayout.h"
#include "model/ObjectTable.h"

#include <QByteArray>

#include <cstdint>
#include <cstring>

using namespace tarvil;

namespace {

bool onlyOf(const QString &text, const char *allowed)
{
    for (QChar c : text) {
        if (c.unicode() > 0x7F || !std::strchr(allowed, char(c.unicode())))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const CsvObjects read = objectsFromCsv(bytes);
    if (!read.ok()) {
        FUZZ_REQUIRE(read.rows.isEmpty());
        for (const CsvProblem &p : read.problems)
            FUZZ_REQUIRE(p.line >= 0 && !p.reason.isEmpty());
        return 0;
    }
    FUZZ_REQUIRE(read.rows.size() <= kMaxObjects);
    for (const ObjectRow &row : read.rows) {
        FUZZ_REQUIRE(row.Obj.size() == kObjWidth && onlyOf(row.Obj, "0123456789ABCDEF"));
        FUZZ_REQUIRE(row.Account.size() == kAccountWidth && onlyOf(row.Account, "0123456789ABCDEF"));
        FUZZ_REQUIRE(!row.P1.isEmpty() && row.P1.size() <= kPhoneWidth && onlyOf(row.P1, "0123456789+"));
        FUZZ_REQUIRE(row.P2.size() <= kPhoneWidth && onlyOf(row.P2, "0123456789+"));
        FUZZ_REQUIRE(row.WaitTest >= 0 && row.WaitTest <= kMaxWaitTestMinutes);
        FUZZ_REQUIRE(row.TypeId >= 0 && row.TypeId <= 255 && row.Prot >= 0 && row.Prot <= 255);
    }
    const CsvObjects again = objectsFromCsv(objectsToCsv(read.rows));
    FUZZ_REQUIRE(again.ok() && again.rows == read.rows);
    return 0;
}
