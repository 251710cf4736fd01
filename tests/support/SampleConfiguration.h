#pragma once

// The one sample configuration of the tests, the benchmarks and the fuzz
// seeds. A case that needs other values starts from it and changes only what
// it is about:
//
//     CommonSettings s = validSettings();
//     s.serial = QStringLiteral("4294967295");   // the top of the range
//     QVERIFY(image.build(s, sampleRows(kMaxObjects)));
//
// Compiled into the fuzz seeds as well, so it needs the model's types alone.

#include "model/CommonSettings.h"
#include "model/ObjectRow.h"

#include <QList>

namespace tarvil::test {

// Settings that pass every check of the write, serial number 12345, with
// every field away from its start value, so that a field lost on the way
// shows.
CommonSettings validSettings();

// `count` rows (an image holds 300) with every column of a record set:
// object numbers in descending order, so that the table's sort shows; every
// third row without phone 2. A table fed through its fields takes the texts
// and the test period, not the type and protocol numbers.
QList<ObjectRow> sampleRows(int count);

// One row with the columns an object list carries (the type's name aside).
ObjectRow objectRow(const char *obj, const char *account, const char *p1, const char *p2, int minutes = 0,
                    int type = 0, int prot = 0);

} // namespace tarvil::test
