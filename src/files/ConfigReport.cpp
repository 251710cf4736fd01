#include "files/ConfigReport.h"

#include "model/ObjectTable.h"

#include <QHash>
#include <QJsonArray>

#include <algorithm>

namespace tarvil {

namespace {

// The fields the window shows: not the constant, not the reserved bytes.
bool shown(const Field &f) { return f.kind != FieldKind::Constant && f.kind != FieldKind::Reserved; }

// What the grid DBGrid1 shows of a row, column by column.
struct GridColumn {
    QString title;
    QString (*text)(const ObjectRow &);
};

const QList<GridColumn> &gridColumns()
{
    static const QList<GridColumn> columns{
        {QStringLiteral("Объект"), [](const ObjectRow &r) { return r.Obj; }},
        {QStringLiteral("ППК"), [](const ObjectRow &r) { return r.Account; }},
        {QStringLiteral("Телефон 1"), [](const ObjectRow &r) { return r.P1; }},
        {QStringLiteral("Телефон 2"), [](const ObjectRow &r) { return r.P2; }},
        {QStringLiteral("Тест"), [](const ObjectRow &r) { return QString::number(r.WaitTest); }},
        {QStringLiteral("Тип ППК"), [](const ObjectRow &r) { return r.N_PPK; }},
    };
    return columns;
}

QString objectCount(int count) { return QStringLiteral("Количество объектов ") + QString::number(count); }

QJsonValue jsonValue(const Field &f, const ObjectRow &row)
{
    if (std::holds_alternative<QString ObjectRow::*>(f.record))
        return fieldText(f, row);
    return fieldText(f, row).toInt();
}

QJsonObject rowJson(const ObjectRow &row)
{
    QJsonObject o;
    for (const Field &f : kRecordFields) {
        if (f.kind != FieldKind::Reserved)
            o.insert(QString::fromLatin1(f.key), jsonValue(f, row));
    }
    o.insert(QStringLiteral("typeName"), row.N_PPK);
    return o;
}

QString hex(const QByteArray &bytes) { return QString::fromLatin1(bytes.toHex(' ').toUpper()); }

QString byteText(std::optional<std::uint8_t> b)
{
    return b ? QStringLiteral("%1").arg(*b, 2, 16, QLatin1Char('0')).toUpper() : QStringLiteral("—");
}

// A change of one field, or nothing. `ta`/`tb` are the values as shown, the
// bytes what each input holds of the field.
std::optional<FieldChange> compare(const Field &f, const std::optional<QString> &ta, const std::optional<QString> &tb,
                                   const std::optional<QByteArray> &ba, const std::optional<QByteArray> &bb)
{
    FieldChange change{QString::fromLatin1(f.key), fieldName(f), ta, tb};
    if (ta != tb)
        return change;
    if (ba && bb && *ba != *bb) {
        change.a = ta.value_or(QString()) + QStringLiteral(" (") + hex(*ba) + QLatin1Char(')');
        change.b = tb.value_or(QString()) + QStringLiteral(" (") + hex(*bb) + QLatin1Char(')');
        return change;
    }
    return std::nullopt;
}

QString location(int address)
{
    if (address >= kCommonBase)
        return QStringLiteral("общий блок, байт %1").arg(address - kCommonBase);
    return QStringLiteral("запись %1, байт %2").arg(address / kRecordSize).arg(address % kRecordSize);
}

QJsonValue optionalJson(const std::optional<QString> &v) { return v ? QJsonValue(*v) : QJsonValue(); }
QJsonValue optionalJson(std::optional<std::uint8_t> v) { return v ? QJsonValue(int(*v)) : QJsonValue(); }

QJsonArray changesJson(const QList<FieldChange> &changes)
{
    QJsonArray out;
    for (const FieldChange &c : changes)
        out.append(QJsonObject{{QStringLiteral("key"), c.key},
                               {QStringLiteral("name"), c.name},
                               {QStringLiteral("a"), optionalJson(c.a)},
                               {QStringLiteral("b"), optionalJson(c.b)}});
    return out;
}

QString changeLine(const FieldChange &c)
{
    return c.name + QStringLiteral(": ") + c.a.value_or(QStringLiteral("—")) + QStringLiteral(" -> ")
           + c.b.value_or(QStringLiteral("—"));
}

QString objectLabel(const ObjectChange &c)
{
    return c.occurrence > 1 ? QStringLiteral("%1 (%2-й с этим номером)").arg(c.object).arg(c.occurrence) : c.object;
}

} // namespace

QString dumpText(const Configuration &config)
{
    QString out;
    qsizetype width = 0;
    for (const Field &f : kCommonFields)
        width = std::max(width, fieldName(f).size() + 1);
    for (const Field &f : kCommonFields) {
        if (shown(f))
            out += (fieldName(f) + QLatin1Char(':')).leftJustified(width + 2) + fieldText(f, config.settings)
                   + QLatin1Char('\n');
    }
    out += QLatin1Char('\n') + objectCount(int(config.rows.size())) + QLatin1Char('\n');
    if (config.rows.isEmpty())
        return out;

    const QList<GridColumn> &columns = gridColumns();
    QList<qsizetype> widths;
    for (const GridColumn &c : columns) {
        qsizetype w = c.title.size();
        for (const ObjectRow &row : config.rows)
            w = std::max(w, c.text(row).size());
        widths << w;
    }
    const auto line = [&](const QStringList &cells) {
        QString text;
        for (qsizetype i = 0; i < cells.size(); ++i)
            text += i + 1 < cells.size() ? cells.at(i).leftJustified(widths.at(i) + 2) : cells.at(i);
        return text + QLatin1Char('\n');
    };
    QStringList titles;
    for (const GridColumn &c : columns)
        titles << c.title;
    out += line(titles);
    for (const ObjectRow &row : config.rows) {
        QStringList cells;
        for (const GridColumn &c : columns)
            cells << c.text(row);
        out += line(cells);
    }
    return out;
}

QJsonObject dumpJson(const Configuration &config)
{
    QJsonArray common;
    for (const Field &f : kCommonFields) {
        if (shown(f))
            common.append(QJsonObject{{QStringLiteral("key"), QString::fromLatin1(f.key)},
                                      {QStringLiteral("name"), fieldName(f)},
                                      {QStringLiteral("value"), fieldText(f, config.settings)}});
    }
    QJsonArray objects;
    for (const ObjectRow &row : config.rows)
        objects.append(rowJson(row));
    return QJsonObject{{QStringLiteral("common"), common},
                       {QStringLiteral("objectCount"), int(config.rows.size())},
                       {QStringLiteral("objects"), objects}};
}

ConfigDiff diffConfigurations(const Configuration &a, const Configuration &b)
{
    ConfigDiff d;
    for (const Field &f : kCommonFields) {
        if (f.kind == FieldKind::Reserved)
            continue;
        const auto ba = a.fieldBytes(f);
        const auto bb = b.fieldBytes(f);
        std::optional<FieldChange> change;
        if (f.kind == FieldKind::Constant) {
            const auto number = [&f](const std::optional<QByteArray> &bytes) -> std::optional<QString> {
                if (!bytes)
                    return std::nullopt;
                return QString::number(
                    ConfigImage::readUnsigned(reinterpret_cast<const std::uint8_t *>(bytes->constData()), f.width));
            };
            change = compare(f, number(ba), number(bb), ba, bb);
        } else {
            change = compare(f, fieldText(f, a.settings), fieldText(f, b.settings), ba, bb);
        }
        if (change)
            d.common << *change;
    }

    // Each row by its number and its place among the rows of that number.
    using Key = QPair<QString, int>;
    const auto keyed = [](const Configuration &c) {
        QHash<QString, int> seen;
        QList<Key> keys;
        for (const ObjectRow &row : c.rows)
            keys << Key{row.Obj, ++seen[row.Obj]};
        return keys;
    };
    const QList<Key> keysA = keyed(a);
    const QList<Key> keysB = keyed(b);
    QHash<Key, qsizetype> inB;
    for (qsizetype j = 0; j < keysB.size(); ++j)
        inB.insert(keysB.at(j), j);
    QHash<Key, qsizetype> inA;
    for (qsizetype i = 0; i < keysA.size(); ++i) {
        const Key &key = keysA.at(i);
        inA.insert(key, i);
        const ObjectRow &rowA = a.rows.at(i);
        const auto j = inB.constFind(key);
        if (j == inB.cend()) {
            d.objects << ObjectChange{ObjectChange::Kind::Removed, key.first, key.second, rowA, {}};
            continue;
        }
        const ObjectRow &rowB = b.rows.at(*j);
        ObjectChange change{ObjectChange::Kind::Changed, key.first, key.second, rowA, {}};
        for (const Field &f : kRecordFields) {
            if (f.kind == FieldKind::Reserved || &f == &RecordField::Obj)
                continue;
            if (auto c = compare(f, fieldText(f, rowA), fieldText(f, rowB), a.fieldBytes(f, a.rowRecords.value(i, -1)),
                                 b.fieldBytes(f, b.rowRecords.value(*j, -1))))
                change.fields << *c;
        }
        if (!change.fields.isEmpty())
            d.objects << change;
    }
    for (qsizetype j = 0; j < keysB.size(); ++j) {
        if (!inA.contains(keysB.at(j)))
            d.objects << ObjectChange{ObjectChange::Kind::Added, keysB.at(j).first, keysB.at(j).second, b.rows.at(j), {}};
    }
    const QCollator collator = objectNumberCollator();
    std::stable_sort(d.objects.begin(), d.objects.end(), [&](const ObjectChange &x, const ObjectChange &y) {
        const int order = compareObjectNumbers(collator, x.object, y.object);
        return order != 0 ? order < 0 : x.occurrence < y.occurrence;
    });

    const auto compareBytes = [&](int address) {
        const auto x = a.byteAt(address);
        const auto y = b.byteAt(address);
        if (x != y)
            d.bytes << ByteChange{address, x, y};
    };
    for (int k = 0; k < kMaxObjects; ++k) {
        for (const Field &f : kRecordFields) {
            if (f.kind == FieldKind::Reserved)
                for (int i = 0; i < f.width; ++i)
                    compareBytes(f.address(k) + i);
        }
    }
    for (const Field &f : kCommonFields) {
        if (f.kind == FieldKind::Reserved)
            for (int i = 0; i < f.width; ++i)
                compareBytes(f.address() + i);
    }
    return d;
}

QString diffText(const ConfigDiff &d)
{
    if (d.same())
        return QStringLiteral("Различий нет\n");
    QString out;
    if (!d.common.isEmpty()) {
        out += QStringLiteral("Общие настройки:\n");
        for (const FieldChange &c : d.common)
            out += QStringLiteral("  ") + changeLine(c) + QLatin1Char('\n');
    }
    if (!d.objects.isEmpty()) {
        out += QStringLiteral("Объекты:\n");
        for (const ObjectChange &c : d.objects) {
            switch (c.kind) {
            case ObjectChange::Kind::Added:
            case ObjectChange::Kind::Removed:
                out += QStringLiteral("  %1 объект %2: ППК %3, Телефон 1 %4\n")
                           .arg(c.kind == ObjectChange::Kind::Added ? QStringLiteral("+ добавлен")
                                                                    : QStringLiteral("- удален"),
                                objectLabel(c), c.row.Account, c.row.P1);
                break;
            case ObjectChange::Kind::Changed:
                out += QStringLiteral("  ~ изменен объект %1:\n").arg(objectLabel(c));
                for (const FieldChange &f : c.fields)
                    out += QStringLiteral("      ") + changeLine(f) + QLatin1Char('\n');
                break;
            }
        }
    }
    if (!d.bytes.isEmpty()) {
        out += QStringLiteral("Байты без поля:\n");
        for (const ByteChange &c : d.bytes)
            out += QStringLiteral("  адрес %1 (%2): %3 -> %4\n")
                       .arg(c.address)
                       .arg(location(c.address), byteText(c.a), byteText(c.b));
    }
    return out;
}

QJsonObject diffJson(const ConfigDiff &d)
{
    QJsonArray objects;
    for (const ObjectChange &c : d.objects) {
        QJsonObject o{{QStringLiteral("object"), c.object}, {QStringLiteral("occurrence"), c.occurrence}};
        switch (c.kind) {
        case ObjectChange::Kind::Added:
            o.insert(QStringLiteral("change"), QStringLiteral("added"));
            o.insert(QStringLiteral("row"), rowJson(c.row));
            break;
        case ObjectChange::Kind::Removed:
            o.insert(QStringLiteral("change"), QStringLiteral("removed"));
            o.insert(QStringLiteral("row"), rowJson(c.row));
            break;
        case ObjectChange::Kind::Changed:
            o.insert(QStringLiteral("change"), QStringLiteral("changed"));
            o.insert(QStringLiteral("fields"), changesJson(c.fields));
            break;
        }
        objects.append(o);
    }
    QJsonArray bytes;
    for (const ByteChange &c : d.bytes)
        bytes.append(QJsonObject{{QStringLiteral("address"), c.address},
                                 {QStringLiteral("a"), optionalJson(c.a)},
                                 {QStringLiteral("b"), optionalJson(c.b)}});
    return QJsonObject{{QStringLiteral("same"), d.same()},
                       {QStringLiteral("common"), changesJson(d.common)},
                       {QStringLiteral("objects"), objects},
                       {QStringLiteral("bytes"), bytes}};
}

} // namespace tarvil
