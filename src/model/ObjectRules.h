#pragma once

// The rules of an object row, declared once: the table's columns with the
// record field each fills, what its edit lets the user type, what storing a
// row refuses and what an imported row must hold, with the words of each
// refusal. The object table's store, the CSV importer, the key filters, the
// grid and the record edits all read them here.

#include "model/ImageLayout.h"
#include "model/ObjectRow.h"
#include "model/UserMessage.h"

#include <QChar>
#include <QString>

#include <cstdint>
#include <optional>
#include <span>

namespace tarvil {

// The object table's fields: the record edits, the grid's and the CSV's columns.
enum class ObjectField { Obj, Account, P1, P2, WaitTest, TypeId, Prot, N_PPK };

// The characters a key filter lets through (backspace aside) and an
// imported value may hold.
enum class CharSet {
    Any,
    Digits,  // "0" to "9"
    Address, // digits and "."
    Phone,   // digits and "+"
    Hex,     // digits and capital "A" to "F"
};
bool admits(CharSet set, QChar c);

// What a value of the column must be.
enum class ValueRule {
    None,       // the type's name: copied from the catalogue, never typed
    Number,     // object and panel numbers: the store refuses fewer characters than the record holds;
                // an imported one is exactly that many of CharSet::Hex
    FirstPhone, // phone 1: imported, filled in (a record without it is an empty slot)
    Phone,      // at most the record's width of CharSet::Phone when imported
    Minutes,    // the test period: digits whose seconds fit the record's 32 bits
    Byte,       // the type's code and protocol: 0..255 when imported
};

// One column of the object table: the grid DBGrid1 shows those with a grid
// title in this order, the CSV all of them in this order, and the record
// edits those with a control.
struct ObjectColumn {
    ObjectField field;
    const Field *record;       // the record field it fills; none for the type's name
    const char16_t *gridTitle; // none: not in the grid
    const char16_t *csvTitle;
    ValueRule rule;
    CharSet chars = CharSet::Any;
    const char *control = nullptr;     // the record edit's objectName, labelled with the record field's label
    const char16_t *refusal = nullptr; // what storing a row says when the rule refuses it
    int gridWidth = 0;
    Qt::Alignment alignment = {};

    QString gridName() const { return gridTitle ? QString::fromUtf16(gridTitle) : QString(); }
    QString csvName() const { return QString::fromUtf16(csvTitle); }
};

std::span<const ObjectColumn> objectColumns();
const ObjectColumn &objectColumn(ObjectField field);

// What an edit of the column takes by typing: the record's width for a text,
// no limit (0) otherwise.
int typedLimit(const ObjectColumn &column);

// The column's value in a row, as the grid and the record edits show it.
QString columnText(const ObjectColumn &column, const ObjectRow &row);
// Sets an editable column's value, cut to the record's width; false for a
// column the user does not type (the type's name, code and protocol).
bool setColumnText(const ObjectColumn &column, ObjectRow &row, const QString &text);

// The minutes of WaitTest as typed: empty reads as 0; digits only; the
// seconds (minutes x 60) must fit the record's unsigned 32 bits.
std::optional<std::int32_t> parseWaitTest(const QString &text);
inline constexpr std::int32_t kMaxWaitTestMinutes = 71582788; // 4294967295 / 60

// A refused store: the edit that takes the focus, the words, and whether the
// pending values stay for correcting (a test period the record cannot hold)
// or are discarded.
struct ObjectRefusal {
    ObjectField field;
    QString text;
    bool keepsPending;
};
// The store's checks in the columns' order; the first that refuses.
std::optional<ObjectRefusal> storeRefusal(const ObjectRow &row, const QString &waitTestText);
// An imported value of the column: empty when it passes, else why, in the
// store's own words where the store refuses it too.
QString importRefusal(const ObjectColumn &column, const QString &value);

// A refusal as its box shows it.
UserMessage refusalMessage(const QString &text);
// An insertion beyond kMaxObjects rows.
UserMessage limitMessage();

} // namespace tarvil
