#pragma once

// What every object list an importer accepts must hold, whatever the input:
// the limits of a record.
#include "FuzzCheck.h"

#include "model/ImageLayout.h"
#include "model/ObjectRow.h"
#include "model/ObjectRules.h"
#include "model/ObjectTable.h"

#include <QList>
#include <QString>

#include <cstring>

inline bool fuzzOnlyOf(const QString &text, const char *allowed)
{
    for (QChar c : text) {
        if (c.unicode() > 0x7F || !std::strchr(allowed, char(c.unicode())))
            return false;
    }
    return true;
}

inline void requireRecordLimits(const QList<tarvil::ObjectRow> &rows)
{
    using namespace tarvil;
    FUZZ_REQUIRE(rows.size() <= kMaxObjects);
    for (const ObjectRow &row : rows) {
        FUZZ_REQUIRE(row.Obj.size() == kObjWidth && fuzzOnlyOf(row.Obj, "0123456789ABCDEF"));
        FUZZ_REQUIRE(row.Account.size() == kAccountWidth && fuzzOnlyOf(row.Account, "0123456789ABCDEF"));
        FUZZ_REQUIRE(!row.P1.isEmpty() && row.P1.size() <= kPhoneWidth && fuzzOnlyOf(row.P1, "0123456789+"));
        FUZZ_REQUIRE(row.P2.size() <= kPhoneWidth && fuzzOnlyOf(row.P2, "0123456789+"));
        FUZZ_REQUIRE(row.WaitTest >= 0 && row.WaitTest <= kMaxWaitTestMinutes);
        FUZZ_REQUIRE(row.TypeId >= 0 && row.TypeId <= 255 && row.Prot >= 0 && row.Prot <= 255);
    }
}
