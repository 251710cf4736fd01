// The panel-type catalogue loader over any bytes: it never crashes or hangs,
// and what it loads keeps the catalogue's rules.
#include "FuzzCheck.h"

#include "model/PanelTypeCatalogue.h"

#include <QByteArray>

#include <cstdint>

using namespace tarvil;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    PanelTypeCatalogue catalogue;
    const QString error = catalogue.loadFromBytes(bytes);
    const int count = catalogue.count();
    FUZZ_REQUIRE(count == 0 ? catalogue.currentIndex() == -1 : catalogue.currentIndex() == 0);
    FUZZ_REQUIRE(!catalogue.isFilterOn());
    for (int i = 0; i < count; ++i) {
        const PanelType &row = catalogue.rows().at(i);
        FUZZ_REQUIRE(row.N_PPK.size() <= 20);
        FUZZ_REQUIRE(!row.N_PPK.contains(QLatin1Char(';')));
        FUZZ_REQUIRE(!row.N_PPK.contains(QLatin1Char('\r')));
    }
    // The first row of an identifier names it.
    for (int i = 0; i < std::min(count, 64); ++i) {
        const PanelType &row = catalogue.rows().at(i);
        int first = 0;
        while (catalogue.rows().at(first).TypeId != row.TypeId)
            ++first;
        FUZZ_REQUIRE(catalogue.FindPanelTypeName(row.TypeId) == catalogue.rows().at(first).N_PPK);
    }

    // Nothing after a bad line, or after the end, is read.
    PanelTypeCatalogue again;
    const QString after = again.loadFromBytes(bytes + "\r\nbad\r\n5;X;1;0");
    FUZZ_REQUIRE(again.rows() == catalogue.rows());
    FUZZ_REQUIRE(error.isEmpty() ? !after.isEmpty() || bytes.contains('\x1A') : after == error);

    // The filter shows only rows of the chosen name, and stepping ends.
    if (count > 0) {
        catalogue.refreshFilter(catalogue.rows().at(count - 1).N_PPK);
        catalogue.setFilterOn(true);
        FUZZ_REQUIRE(catalogue.hasCurrent());
        int steps = 0;
        do {
            FUZZ_REQUIRE(trimName(catalogue.currentName()) == catalogue.filterName());
            FUZZ_REQUIRE(++steps <= count);
        } while (catalogue.next());
        while (catalogue.prior())
            FUZZ_REQUIRE(--steps >= 1);
    }
    return 0;
}
