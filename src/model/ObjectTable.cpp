#include "model/ObjectTable.h"

#include <QLocale>

#include <algorithm>
#include <numeric>

namespace tarvil {

namespace {

const QString kError = QStringLiteral("Ошибка");

} // namespace

// Collects the notifications of one operation, however many steps it takes,
// and sends them when the outermost operation ends.
class ObjectTable::Batch {
public:
    explicit Batch(ObjectTable &table) : table_(table) { ++table_.batchDepth_; }
    ~Batch()
    {
        if (--table_.batchDepth_ == 0)
            table_.flush();
    }
    Batch(const Batch &) = delete;
    Batch &operator=(const Batch &) = delete;

private:
    ObjectTable &table_;
};

std::optional<std::int32_t> parseWaitTest(const QString &text)
{
    qsizetype i = 0;
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    while (i < text.size() && text.at(i) == QLatin1Char('0'))
        ++i;
    const qsizetype digits = text.size() - i;
    if (digits == 0)
        return 0;
    if (digits > 8) // 71582788 has eight
        return std::nullopt;
    const std::int32_t minutes = text.mid(i).toInt();
    if (minutes > kMaxWaitTestMinutes)
        return std::nullopt;
    return minutes;
}

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

ObjectTable::ObjectTable(PanelTypeCatalogue &catalogue, ObjectTableUi &ui, QObject *parent)
    : QObject(parent), catalogue_(catalogue), ui_(ui), collator_(objectNumberCollator())
{
}

UserMessage ObjectTable::deleteQuestion()
{
    return UserMessage{QStringLiteral("Delete record?"), QStringLiteral("Confirm"), MsgIcon::Question,
                       MsgButtons::OkCancel, false};
}

QString ObjectTable::noObjectNumberText() { return QStringLiteral("Не опрелен номер объекта!"); }
QString ObjectTable::noAccountText() { return QStringLiteral("Не опрелен номер ППК!"); }
QString ObjectTable::badWaitTestText() { return QStringLiteral("Недопустимое значение поля \"Тест, мин.\""); }

UserMessage ObjectTable::limitMessage()
{
    return UserMessage{QStringLiteral("Превышено максимально-допустимое число объектов"), kError, MsgIcon::Error,
                       MsgButtons::Ok, true};
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
    const ObjectRow &row = isPending ? pending_ : entries_.at(stored).row;
    switch (field) {
    case ObjectField::Obj:
        return row.Obj;
    case ObjectField::Account:
        return row.Account;
    case ObjectField::P1:
        return row.P1;
    case ObjectField::P2:
        return row.P2;
    case ObjectField::N_PPK:
        return row.N_PPK;
    case ObjectField::WaitTest:
        return isPending ? pendingWaitTest_ : QString::number(row.WaitTest);
    }
    return {};
}

void ObjectTable::setFieldText(ObjectField field, const QString &text)
{
    if (mode_ == TableMode::Browse)
        return;
    Batch batch(*this);
    switch (field) {
    case ObjectField::Obj:
        pending_.Obj = text.left(kObjWidth);
        break;
    case ObjectField::Account:
        pending_.Account = text.left(kAccountWidth);
        break;
    case ObjectField::P1:
        pending_.P1 = text.left(kPhoneWidth);
        break;
    case ObjectField::P2:
        pending_.P2 = text.left(kPhoneWidth);
        break;
    case ObjectField::WaitTest:
        pendingWaitTest_ = text;
        break;
    case ObjectField::N_PPK:
        return; // copied from the catalogue when the row is stored
    }
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
    PPKTblBeforeScroll();
    current_ = index;
    notifyState();
    PPKTblBeforeScroll();
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
    PPKTblBeforeScroll();
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
    PPKTbl12BeforeEdit();
    PPKTblBeforeScroll();
    mode_ = TableMode::Insert;
    insertPos_ = std::max(current_, 0);
    pending_ = original_ = ObjectRow{};
    pendingWaitTest_.clear();
    originalWaitTest_.clear();
    notifyRows();
    PPKTblBeforeScroll();
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
    PPKTbl12BeforeEdit();
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
        PPKTblBeforeScroll();
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
    PPKTblBeforeScroll();
    discardPending();
    entries_.removeAt(current_);
    current_ = entries_.isEmpty() ? -1 : std::min(current_, count() - 1);
    notifyRows();
    PPKTblBeforeScroll();
    return true;
}

void ObjectTable::refresh()
{
    Batch batch(*this);
    settlePending();
    notifyRows();
}

bool ObjectTable::navigatorEnabled(NavButton button) const
{
    const bool browsing = mode_ == TableMode::Browse;
    switch (button) {
    case NavButton::First:
    case NavButton::Prior:
        return !browsing || current_ > 0;
    case NavButton::Next:
    case NavButton::Last:
        return !browsing || (current_ >= 0 && current_ < count() - 1);
    case NavButton::Insert:
    case NavButton::Refresh:
        return true;
    case NavButton::Delete:
        return !browsing || !entries_.isEmpty();
    case NavButton::Edit:
        return browsing;
    case NavButton::Post:
    case NavButton::Cancel:
        return !browsing;
    }
    return false;
}

void ObjectTable::navigatorClick(NavButton button)
{
    if (!navigatorEnabled(button))
        return;
    Batch batch(*this);
    switch (button) {
    case NavButton::First:
        first();
        break;
    case NavButton::Prior:
        prior();
        break;
    case NavButton::Next:
        next();
        break;
    case NavButton::Last:
        last();
        break;
    case NavButton::Insert:
        insert();
        break;
    case NavButton::Delete:
        if (ui_.showMessage(deleteQuestion()) == MsgAnswer::Ok)
            deleteCurrent();
        break;
    case NavButton::Edit:
        edit();
        break;
    case NavButton::Post:
        post();
        break;
    case NavButton::Cancel:
        cancel();
        break;
    case NavButton::Refresh:
        refresh();
        break;
    }
    DBNavigator1Click(button);
}

void ObjectTable::PPKTbl12BeforeEdit()
{
    catalogue_.setFilterOn(false);
}

void ObjectTable::refuse(const QString &text, ObjectField focus)
{
    ui_.showMessage(UserMessage{text, kError, MsgIcon::Error, MsgButtons::Ok, false});
    ui_.focusField(focus);
}

ObjectTable::PostResult ObjectTable::PPKTbl12BeforePost()
{
    if (pending_.Obj.size() < kObjWidth) {
        refuse(noObjectNumberText(), ObjectField::Obj);
        cancel();
        return PostResult::Discarded;
    }
    if (pending_.Account.size() < kAccountWidth) {
        refuse(noAccountText(), ObjectField::Account);
        cancel();
        return PostResult::Discarded;
    }
    // Minutes whose seconds the record cannot hold would be stored wrapped;
    // the values stay pending so that the user can correct them.
    const std::optional<std::int32_t> minutes = parseWaitTest(pendingWaitTest_);
    if (!minutes) {
        refuse(badWaitTestText(), ObjectField::WaitTest);
        return PostResult::Kept;
    }
    pending_.WaitTest = *minutes;
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
    PPKTblBeforeScroll();
}

void ObjectTable::PPKTblBeforeScroll()
{
    if (mode_ == TableMode::Browse) {
        catalogue_.refreshFilter(current_ >= 0 ? entries_.at(current_).row.N_PPK : QString());
        catalogue_.setFilterOn(true);
    } else {
        catalogue_.setFilterOn(false);
    }
}

void ObjectTable::DBNavigator1Click(NavButton button)
{
    if (button == NavButton::Insert) {
        if (mode_ != TableMode::Insert)
            return; // the insertion did not open (the row before it had to stay pending)
        if (count() >= kMaxObjects) {
            ui_.showMessage(limitMessage());
            cancel();
        } else {
            ui_.focusField(ObjectField::Obj);
        }
    } else if (button == NavButton::Delete) {
        ShowObjectCount();
    }
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
    PPKTblBeforeScroll();
    ShowObjectCount();
}

} // namespace tarvil
