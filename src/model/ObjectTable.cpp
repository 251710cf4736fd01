#include "model/ObjectTable.h"

#include <QLocale>

#include <algorithm>
#include <numeric>

namespace tarvil {

QCollator objectNumberCollator()
{
    QCollator collator{QLocale()};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

int compareObjectNumbers(const QCollator &collator, const QString &a, const QString &b)
{
    return collator.compare(a.toCaseFolded(), b.toCaseFolded());
}

namespace {

QString typeName(const PanelTypeCatalogue &catalogue, int typeId)
{
    return catalogue.FindPanelTypeName(typeId).left(kPanelNameWidth);
}

} // namespace

QList<qsizetype> tableOrder(const QList<ObjectRow> &rows)
{
    QList<qsizetype> order(rows.size());
    std::iota(order.begin(), order.end(), qsizetype(0));
    const QCollator collator = objectNumberCollator();
    std::stable_sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
        return compareObjectNumbers(collator, rows.at(a).Obj, rows.at(b).Obj) < 0;
    });
    return order;
}

QList<ObjectRow> asTableRows(QList<ObjectRow> rows, const PanelTypeCatalogue &catalogue)
{
    if (rows.size() > kMaxObjects)
        rows.resize(kMaxObjects);
    QList<ObjectRow> sorted;
    sorted.reserve(rows.size());
    for (qsizetype i : tableOrder(rows)) {
        sorted.append(rows.at(i));
        sorted.last().N_PPK = typeName(catalogue, sorted.last().TypeId);
    }
    return sorted;
}

ObjectTable::ObjectTable(const PanelTypeCatalogue &catalogue, ObjectTableUi &ui, QObject *parent)
    : QObject(parent), catalogue_(catalogue), ui_(ui), collator_(objectNumberCollator())
{
}

QList<ObjectRow> ObjectTable::rows() const
{
    QList<ObjectRow> out;
    out.reserve(entries_.size());
    for (const Entry &e : entries_)
        out.append(e.row);
    return out;
}

bool ObjectTable::isModified() const
{
    return mode_ != TableMode::Browse && (pending_ != original_ || pendingWaitTest_ != originalWaitTest_);
}

QString ObjectTable::viewText(int viewRow, ObjectField field) const
{
    if (viewRow < 0 || viewRow >= viewRowCount())
        return {};
    const bool isPending = (mode_ == TableMode::Insert && viewRow == insertPos_)
                           || (mode_ == TableMode::Edit && viewRow == current_);
    int stored = viewRow;
    if (mode_ == TableMode::Insert && viewRow > insertPos_)
        --stored;
    if (isPending && field == ObjectField::WaitTest)
        return pendingWaitTest_; // as typed, until it is stored
    return columnText(objectColumn(field), isPending ? pending_ : entries_.at(stored).row);
}

void ObjectTable::setFieldText(ObjectField field, const QString &text)
{
    if (mode_ == TableMode::Browse)
        return;
    Batch batch(*this);
    if (field == ObjectField::WaitTest)
        pendingWaitTest_ = text;
    else if (!setColumnText(objectColumn(field), pending_, text))
        return; // the type is copied from the catalogue when the row is stored
    notifyState();
}

void ObjectTable::typeField(ObjectField field, const QString &text)
{
    Batch batch(*this);
    if (mode_ == TableMode::Browse)
        edit();
    setFieldText(field, text);
}

bool ObjectTable::lessThan(const Entry &a, const Entry &b) const
{
    const int order = compareObjectNumbers(collator_, a.row.Obj, b.row.Obj);
    if (order != 0)
        return order < 0;
    return a.serial < b.serial;
}

int ObjectTable::insertSorted(Entry entry)
{
    const auto at = std::upper_bound(entries_.begin(), entries_.end(), entry,
                                     [this](const Entry &a, const Entry &b) { return lessThan(a, b); });
    const int pos = static_cast<int>(at - entries_.begin());
    entries_.insert(pos, std::move(entry));
    return pos;
}

int ObjectTable::indexOfSerial(quint64 serial) const
{
    for (int i = 0; i < count(); ++i) {
        if (entries_.at(i).serial == serial)
            return i;
    }
    return -1;
}

void ObjectTable::flush()
{
    const bool rows = rowsDirty_;
    const bool state = stateDirty_;
    rowsDirty_ = stateDirty_ = false;
    if (rows)
        emit rowsChanged();
    if (state)
        emit stateChanged();
}

void ObjectTable::moveCurrentTo(int index)
{
    ui_.PPKTblBeforeScroll();
    current_ = index;
    notifyState();
    ui_.PPKTblBeforeScroll();
}

void ObjectTable::discardPending()
{
    if (mode_ == TableMode::Insert)
        notifyRows();
    mode_ = TableMode::Browse;
    pending_ = original_ = ObjectRow{};
    pendingWaitTest_.clear();
    originalWaitTest_.clear();
    notifyState();
}

void ObjectTable::empty()
{
    Batch batch(*this);
    discardPending();
    entries_.clear();
    current_ = -1;
    notifyRows();
    ui_.PPKTblBeforeScroll();
}

bool ObjectTable::settlePending()
{
    if (mode_ == TableMode::Browse)
        return true;
    Batch batch(*this);
    if (!isModified()) {
        cancel();
        return true;
    }
    return post() != PostResult::Kept;
}

bool ObjectTable::first()
{
    Batch batch(*this);
    if (!settlePending() || entries_.isEmpty())
        return false;
    moveCurrentTo(0);
    return true;
}

bool ObjectTable::last()
{
    Batch batch(*this);
    if (!settlePending() || entries_.isEmpty())
        return false;
    moveCurrentTo(count() - 1);
    return true;
}

bool ObjectTable::moveBy(int delta)
{
    Batch batch(*this);
    if (!settlePending() || entries_.isEmpty())
        return false;
    const int target = std::clamp(current_ + delta, 0, count() - 1);
    moveCurrentTo(target);
    return true;
}

bool ObjectTable::moveToViewRow(int viewRow)
{
    Batch batch(*this);
    if (viewRow < 0 || viewRow >= viewRowCount())
        return false;
    if (viewRow == viewCurrent()) {
        // The pending row itself stays pending; the current row is merely re-shown.
        if (mode_ == TableMode::Browse)
            moveCurrentTo(current_);
        return true;
    }
    int stored = viewRow;
    if (mode_ == TableMode::Insert && viewRow > insertPos_)
        --stored;
    // The settle may re-sort the table: follow the row, not its position.
    const quint64 serial = entries_.at(stored).serial;
    if (!settlePending())
        return false;
    const int index = indexOfSerial(serial);
    if (index < 0)
        return false;
    moveCurrentTo(index);
    return true;
}

void ObjectTable::insert()
{
    Batch batch(*this);
    if (!settlePending())
        return;
    ui_.PPKTbl12BeforeEdit();
    ui_.PPKTblBeforeScroll();
    mode_ = TableMode::Insert;
    insertPos_ = std::max(current_, 0);
    pending_ = original_ = ObjectRow{};
    pendingWaitTest_.clear();
    originalWaitTest_.clear();
    notifyRows();
    ui_.PPKTblBeforeScroll();
}

void ObjectTable::edit()
{
    if (mode_ != TableMode::Browse)
        return;
    if (entries_.isEmpty()) {
        insert();
        return;
    }
    Batch batch(*this);
    ui_.PPKTbl12BeforeEdit();
    mode_ = TableMode::Edit;
    pending_ = original_ = entries_.at(current_).row;
    pendingWaitTest_ = originalWaitTest_ = QString::number(pending_.WaitTest);
    notifyState();
}

ObjectTable::PostResult ObjectTable::post()
{
    if (mode_ == TableMode::Browse)
        return PostResult::NothingPending;
    Batch batch(*this);
    if (!checksSuspended_) {
        const PostResult checked = PPKTbl12BeforePost();
        if (checked != PostResult::Stored)
            return checked;
    }
    if (mode_ == TableMode::Insert && count() >= kMaxObjects) {
        ui_.showMessage(limitMessage());
        cancel();
        return PostResult::Discarded;
    }
    if (mode_ == TableMode::Insert) {
        entries_.insert(insertPos_, Entry{pending_, nextSerial_++});
        current_ = insertPos_;
    } else {
        entries_[current_].row = pending_;
    }
    mode_ = TableMode::Browse;
    pending_ = original_ = ObjectRow{};
    pendingWaitTest_.clear();
    originalWaitTest_.clear();
    notifyRows();
    PPKTbl12AfterPost();
    return PostResult::Stored;
}

void ObjectTable::cancel()
{
    if (mode_ == TableMode::Browse)
        return;
    Batch batch(*this);
    const bool wasInsert = mode_ == TableMode::Insert;
    discardPending();
    if (wasInsert) {
        current_ = entries_.isEmpty() ? -1 : std::clamp(insertPos_, 0, count() - 1);
        ui_.PPKTblBeforeScroll();
    }
}

bool ObjectTable::deleteCurrent()
{
    Batch batch(*this);
    if (mode_ == TableMode::Insert) {
        cancel();
        return true;
    }
    if (entries_.isEmpty() || current_ < 0)
        return false;
    ui_.PPKTblBeforeScroll();
    discardPending();
    entries_.removeAt(current_);
    current_ = entries_.isEmpty() ? -1 : std::min(current_, count() - 1);
    notifyRows();
    ui_.PPKTblBeforeScroll();
    return true;
}

void ObjectTable::refresh()
{
    Batch batch(*this);
    settlePending();
    notifyRows();
}

ObjectTable::PostResult ObjectTable::PPKTbl12BeforePost()
{
    if (const std::optional<ObjectRefusal> refused = storeRefusal(pending_, pendingWaitTest_)) {
        ui_.showMessage(refusalMessage(refused->text));
        ui_.focusField(refused->field);
        if (refused->keepsPending)
            return PostResult::Kept;
        cancel();
        return PostResult::Discarded;
    }
    pending_.WaitTest = parseWaitTest(pendingWaitTest_).value_or(0);
    const PanelType type = catalogue_.current();
    pending_.TypeId = type.TypeId;
    pending_.Prot = type.Prot;
    pending_.N_PPK = trimName(type.N_PPK).left(kPanelNameWidth);
    pending_.A_F = type.A_F;
    return PostResult::Stored;
}

void ObjectTable::PPKTbl12AfterPost()
{
    ShowObjectCount();
    if (current_ < 0)
        return;
    Entry stored = entries_.takeAt(current_);
    current_ = insertSorted(std::move(stored));
    notifyRows();
    ui_.PPKTblBeforeScroll();
}

void ObjectTable::ShowObjectCount()
{
    ui_.showObjectCount(QStringLiteral("Количество объектов ") + QString::number(count()));
}

void ObjectTable::RebuildObjectTable(const ConfigImage &image)
{
    replaceRows(image.decodeObjects());
}

void ObjectTable::replaceRows(const QList<ObjectRow> &rows)
{
    Batch batch(*this);
    checksSuspended_ = true;
    discardPending();
    entries_.clear();
    current_ = -1;
    for (qsizetype k = 0; k < std::min<qsizetype>(rows.size(), kMaxObjects); ++k) {
        ObjectRow row = rows.at(k);
        row.N_PPK = typeName(catalogue_, row.TypeId);
        // Each row is stored and sorted in as it comes; the last one stays current.
        current_ = insertSorted(Entry{std::move(row), nextSerial_++});
    }
    checksSuspended_ = false;
    notifyRows();
    ui_.PPKTblBeforeScroll();
    ShowObjectCount();
}

} // namespace tarvil
