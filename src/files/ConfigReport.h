#pragma once

#include "files/Configuration.h"

#include <QJsonObject>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

namespace tarvil {

// What the window shows of a configuration, for people: every common field by
// its name with its value, the object count as ObjCountLbl says it, and the
// object table with the grid's columns, in the table's order.
QString dumpText(const Configuration &config);
// The same as one JSON object: "common" lists {key, name, value} in the
// image's order; "objects" lists one object per row with the record's keys
// (numbers as numbers, the test period in minutes) and "typeName".
QJsonObject dumpJson(const Configuration &config);

// One field whose values differ; a value the input does not carry is empty.
struct FieldChange {
    QString key;
    QString name;
    std::optional<QString> a;
    std::optional<QString> b;
    friend bool operator==(const FieldChange &, const FieldChange &) = default;
};

// Objects are matched by object number: the n-th row of a number in A with
// the n-th row of that number in B.
struct ObjectChange {
    enum class Kind { Added, Removed, Changed };
    Kind kind = Kind::Changed;
    QString object;
    int occurrence = 1;        // 2 for the second row with the same number, ...
    ObjectRow row;             // as A holds it, or B for an added one
    QList<FieldChange> fields; // of a changed one
};

// A byte that no field names (the reserved bytes), by its image address.
struct ByteChange {
    int address = 0;
    std::optional<std::uint8_t> a;
    std::optional<std::uint8_t> b;
};

struct ConfigDiff {
    QList<FieldChange> common;
    QList<ObjectChange> objects;
    QList<ByteChange> bytes;

    bool same() const { return common.isEmpty() && objects.isEmpty() && bytes.isEmpty(); }
};

// Fields are compared as the window shows them; where two values read the
// same but the image holds other bytes (seconds within a minute, an item index
// beyond the last choice, bytes after a text's end), both values carry their
// bytes in hexadecimal.
ConfigDiff diffConfigurations(const Configuration &a, const Configuration &b);
QString diffText(const ConfigDiff &diff);
QJsonObject diffJson(const ConfigDiff &diff);

} // namespace tarvil
