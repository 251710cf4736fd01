#include "app/ObjectPanel.h"

#include "app/KeyFilters.h"
#include "app/Navigator.h"
#include "app/ObjectGrid.h"
#include "app/TablePolicy.h"
#include "files/ObjectCsv.h"
#include "files/ObjectXlsx.h"
#include "link/Texts.h"

#include <QAction>
#include <QApplication>
#include <QGridLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QSaveFile>
#include <QVBoxLayout>

namespace tarvil {

ObjectPanel::ObjectPanel(Dialogs &dialogs, QWidget *parent) : QWidget(parent), dialogs_(dialogs)
{
    setObjectName(QStringLiteral("ObjectPanel"));
    catalogue_ = std::make_unique<PanelTypeCatalogue>();
    catalogue_->setObjectName(QStringLiteral("CntTbl"));
    table_ = std::make_unique<ObjectTable>(std::as_const(*catalogue_), static_cast<ObjectTableUi &>(*this));
    table_->setObjectName(QStringLiteral("PPKTbl"));

    auto *editors = new QGridLayout;
    editors->setContentsMargins(0, 0, 0, 0);
    editors->setHorizontalSpacing(6);
    editors->setVerticalSpacing(4);

    // One record edit per column that has one, each with its label, named
    // after it ("ObjIdLabel").
    auto label = [this](ObjectField field) {
        const ObjectColumn &column = objectColumn(field);
        QLineEdit *edit = edits_.value(field);
        auto *l = new QLabel(fieldLabel(*column.record), this);
        l->setObjectName(QString::fromLatin1(column.control) + QStringLiteral("Label"));
        l->setBuddy(edit);
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        return l;
    };
    for (const ObjectColumn &column : objectColumns()) {
        if (column.control)
            addEdit(column);
    }
    QLineEdit *objId = edits_.value(ObjectField::Obj);
    QLineEdit *accnt = edits_.value(ObjectField::Account);
    QLineEdit *p1 = edits_.value(ObjectField::P1);
    QLineEdit *p2 = edits_.value(ObjectField::P2);
    QLineEdit *waitTest = edits_.value(ObjectField::WaitTest);
    waitTest->setToolTip(QStringLiteral("Период ожидания теста  GSM-канала "));
    const int shortWidth = fontMetrics().horizontalAdvance(QStringLiteral("WWWWW")) + 12;
    const int phoneWidth = fontMetrics().horizontalAdvance(QStringLiteral("+000000000000")) + 16;
    for (QLineEdit *e : {objId, accnt, waitTest})
        e->setFixedWidth(shortWidth);
    for (QLineEdit *e : {p1, p2})
        e->setFixedWidth(phoneWidth);

    typeModel_ = new PanelTypeModel(*catalogue_, this);
    typeGrid_ = new PanelTypeView(*catalogue_, this);
    typeGrid_->setObjectName(QStringLiteral("N_PPK"));
    typeGrid_->setModel(typeModel_);
    typeGrid_->setToolTip(QStringLiteral("Выбор типа ППК"));

    typeNavigator_ = new DbNavigator(QStringLiteral("DBNavigator2"),
                                     {{NavButton::Prior, QStringLiteral("Предыдущий тип ППК")},
                                      {NavButton::Next, QStringLiteral("Следующий тип ППК")}},
                                     this);
    connect(typeNavigator_, &DbNavigator::clicked, this, [this](NavButton kind) {
        if (kind == NavButton::Prior)
            catalogue_->prior();
        else if (kind == NavButton::Next)
            catalogue_->next();
    });

    countLabel_ = new QLabel(this);
    countLabel_->setObjectName(QStringLiteral("ObjCountLbl"));

    editors->addWidget(label(ObjectField::Obj), 0, 0);
    editors->addWidget(objId, 0, 1);
    editors->addWidget(label(ObjectField::P1), 0, 2);
    editors->addWidget(p1, 0, 3);
    editors->addWidget(typeGrid_, 0, 4);
    editors->addWidget(label(ObjectField::Account), 1, 0);
    editors->addWidget(accnt, 1, 1);
    editors->addWidget(label(ObjectField::P2), 1, 2);
    editors->addWidget(p2, 1, 3);
    editors->addWidget(typeNavigator_, 1, 4);
    editors->addWidget(label(ObjectField::WaitTest), 2, 0);
    editors->addWidget(waitTest, 2, 1);
    editors->addWidget(countLabel_, 2, 2, 1, 3);
    editors->setColumnStretch(4, 1);

    gridModel_ = new ObjectGridModel(*table_, this);
    grid_ = new ObjectGridView(this);
    grid_->setObjectName(QStringLiteral("DBGrid1"));
    grid_->setModel(gridModel_);
    const QList<const ObjectColumn *> &columns = objectGridColumns();
    for (int i = 0; i < columns.size(); ++i)
        grid_->horizontalHeader()->resizeSection(i, columns.at(i)->gridWidth);
    auto *exportCsv = new QAction(texts::kExportObjects, grid_);
    exportCsv->setObjectName(QStringLiteral("ItemExportCsv"));
    auto *importCsv = new QAction(texts::kImportObjects, grid_);
    importCsv->setObjectName(QStringLiteral("ItemImportCsv"));
    auto *exportXlsx = new QAction(texts::kExportObjectsXlsx, grid_);
    exportXlsx->setObjectName(QStringLiteral("ItemExportXlsx"));
    auto *importXlsx = new QAction(texts::kImportObjectsXlsx, grid_);
    importXlsx->setObjectName(QStringLiteral("ItemImportXlsx"));
    grid_->addActions({exportCsv, importCsv, exportXlsx, importXlsx});
    grid_->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(exportCsv, &QAction::triggered, this, &ObjectPanel::exportObjectsCsv);
    connect(importCsv, &QAction::triggered, this, &ObjectPanel::importObjectsCsv);
    connect(exportXlsx, &QAction::triggered, this, &ObjectPanel::exportObjectsXlsx);
    connect(importXlsx, &QAction::triggered, this, &ObjectPanel::importObjectsXlsx);
    connect(grid_, &ObjectGridView::rowClicked, table_.get(), &ObjectTable::moveToViewRow);
    connect(grid_, &ObjectGridView::moveByRequested, table_.get(), &ObjectTable::moveBy);
    connect(grid_, &ObjectGridView::firstRequested, table_.get(), &ObjectTable::first);
    connect(grid_, &ObjectGridView::lastRequested, table_.get(), &ObjectTable::last);

    navigator_ = new DbNavigator(QStringLiteral("DBNavigator1"),
                                 {{NavButton::First, QStringLiteral("Первая запись")},
                                  {NavButton::Prior, QStringLiteral("Предыдущая запись")},
                                  {NavButton::Next, QStringLiteral("Следующая запись")},
                                  {NavButton::Last, QStringLiteral("Последняя запись")},
                                  {NavButton::Insert, QStringLiteral("Добавить запись")},
                                  {NavButton::Delete, QStringLiteral("Удалить запись")},
                                  {NavButton::Edit, QStringLiteral("Изменить запись")},
                                  {NavButton::Post, QStringLiteral("Сохранить запись")},
                                  {NavButton::Cancel, QStringLiteral("Отказ от изменений")},
                                  {NavButton::Refresh, QStringLiteral("Обновить")}},
                                 this);
    connect(navigator_, &DbNavigator::clicked, this,
            [this](NavButton button) { navigatorClick(*table_, button, static_cast<ObjectTableUi &>(*this)); });

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 4);
    layout->setSpacing(6);
    layout->addLayout(editors);
    layout->addWidget(grid_, 1);
    layout->addWidget(navigator_);

    setTabOrder(objId, p1);
    setTabOrder(p1, accnt);
    setTabOrder(accnt, p2);
    setTabOrder(p2, waitTest);
    setTabOrder(waitTest, grid_);

    connect(table_.get(), &ObjectTable::rowsChanged, this, &ObjectPanel::syncFromTable);
    connect(table_.get(), &ObjectTable::stateChanged, this, &ObjectPanel::syncFromTable);
    connect(catalogue_.get(), &PanelTypeCatalogue::changed, this, &ObjectPanel::syncCatalogue);
    connect(qApp, &QApplication::focusChanged, this, &ObjectPanel::focusMoved);

    syncFromTable();
    syncCatalogue();
}

ObjectPanel::~ObjectPanel()
{
    // The views go first: they still hold the table and the catalogue.
    disconnect(qApp, nullptr, this, nullptr);
    delete grid_;
    delete typeGrid_;
    delete gridModel_;
    delete typeModel_;
}

QLineEdit *ObjectPanel::addEdit(const ObjectColumn &column)
{
    auto *edit = new QLineEdit(this);
    const ObjectField field = column.field;
    edit->setObjectName(QString::fromLatin1(column.control));
    // The typed limit is the field's width; the length limit cuts a longer
    // pasted text to what the field holds. The program never sets more.
    const int limit = typedLimit(column);
    KeyFilter::install(edit, keyFilter(column.chars), limit);
    if (limit > 0)
        edit->setMaxLength(limit);
    edits_.insert(field, edit);
    connect(edit, &QLineEdit::textEdited, this, [this, field](const QString &text) { userEdited(field, text); });
    return edit;
}

void ObjectPanel::userEdited(ObjectField field, const QString &text)
{
    if (syncing_)
        return;
    table_->typeField(field, text);
}

void ObjectPanel::focusMoved(QWidget *old, QWidget *now)
{
    // Leaving the grid for another control of the window cancels an unchanged
    // insertion, unless the focus goes to a record edit to fill it in.
    if (old != grid_ || !now || now->window() != window())
        return;
    for (QLineEdit *edit : std::as_const(edits_)) {
        if (now == edit)
            return;
    }
    if (table_->mode() == TableMode::Insert && !table_->isModified())
        table_->cancel();
}

void ObjectPanel::syncFromTable()
{
    syncing_ = true;
    for (auto it = edits_.cbegin(); it != edits_.cend(); ++it) {
        const QString text = table_->fieldText(it.key());
        if (it.value()->text() != text)
            it.value()->setText(text);
    }
    syncing_ = false;

    const int row = table_->viewCurrent();
    QItemSelectionModel *selection = grid_->selectionModel();
    if (row >= 0 && row < gridModel_->rowCount()) {
        const QModelIndex index = gridModel_->index(row, 0);
        selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        grid_->scrollTo(index);
    } else {
        selection->clear();
    }
    for (NavButton kind : {NavButton::First, NavButton::Prior, NavButton::Next, NavButton::Last, NavButton::Insert,
                           NavButton::Delete, NavButton::Edit, NavButton::Post, NavButton::Cancel,
                           NavButton::Refresh})
        navigator_->setButtonEnabled(kind, navigatorEnabled(*table_, kind));
}

void ObjectPanel::syncCatalogue()
{
    typeNavigator_->setButtonEnabled(NavButton::Prior, catalogue_->canPrior());
    typeNavigator_->setButtonEnabled(NavButton::Next, catalogue_->canNext());
}

MsgAnswer ObjectPanel::showMessage(const UserMessage &message)
{
    return dialogs_.message(message);
}

void ObjectPanel::focusField(ObjectField field)
{
    if (QLineEdit *edit = edits_.value(field, nullptr))
        edit->setFocus(Qt::OtherFocusReason);
}

void ObjectPanel::showObjectCount(const QString &text)
{
    countLabel_->setText(text);
}

void ObjectPanel::PPKTbl12BeforeEdit() { catalogueBeforeEdit(*catalogue_); }

void ObjectPanel::PPKTblBeforeScroll() { catalogueFollowsTable(*table_, *catalogue_); }

void ObjectPanel::openTables(const QString &cataloguePath)
{
    table_->empty();
    catalogue_->clear();
    const QString error = catalogue_->LoadCatalogue(cataloguePath);
    if (!error.isEmpty())
        dialogs_.message(UserMessage{error, QStringLiteral("Ошибка"), MsgIcon::Error, MsgButtons::Ok, false});
}

namespace {

bool saveBytes(const QString &path, const QByteArray &bytes, QString *error)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    *error = file.errorString();
    return false;
}

} // namespace

void ObjectPanel::exportObjectsCsv()
{
    const auto path = dialogs_.saveFileName({QStringLiteral("Экспорт объектов в CSV"), QStringLiteral("objects"),
                                             texts::kCsvFilter, QStringLiteral("csv")});
    if (!path || path->isEmpty())
        return;
    QString error;
    if (!saveBytes(*path, objectsToCsv(table_->rows()), &error))
        dialogs_.message(texts::exportFailed(*path, error));
}

void ObjectPanel::exportObjectsXlsx()
{
    const auto path = dialogs_.saveFileName({QStringLiteral("Экспорт объектов в XLSX"), QStringLiteral("objects"),
                                             texts::kXlsxFilter, QStringLiteral("xlsx")});
    if (!path || path->isEmpty())
        return;
    QString error;
    const std::optional<QByteArray> workbook = objectsToXlsx(table_->rows(), &error);
    if (!workbook || !saveBytes(*path, *workbook, &error))
        dialogs_.message(texts::exportFailed(*path, error));
}

void ObjectPanel::importObjectsCsv()
{
    const auto path = dialogs_.openFileName({QStringLiteral("Импорт объектов из CSV"), QString(), texts::kCsvFilter,
                                             QStringLiteral("csv")});
    if (path && !path->isEmpty())
        replaceObjects(*path, readObjectsCsv);
}

void ObjectPanel::importObjectsXlsx()
{
    const auto path = dialogs_.openFileName({QStringLiteral("Импорт объектов из XLSX"), QString(),
                                             texts::kXlsxFilter, QStringLiteral("xlsx")});
    if (path && !path->isEmpty())
        replaceObjects(*path, readObjectsXlsx);
}

void ObjectPanel::replaceObjects(const QString &path,
                                 SheetObjects (*readList)(const QString &, const QList<ObjectRow> *))
{
    // The table's objects tell a phone whose "+" a spreadsheet dropped.
    const QList<ObjectRow> current = table_->rows();
    const SheetObjects read = readList(path, &current);
    if (!read.ok()) {
        dialogs_.message(texts::importRefused(path, read.failingRows(), read.describe(10), read.advice()));
        return;
    }
    table_->replaceRows(read.rows);
}

void ObjectPanel::closeTables()
{
    table_->cancel();
}

QList<ObjectRow> ObjectPanel::rows() const
{
    return table_->rows();
}

void ObjectPanel::RebuildObjectTable(const ConfigImage &image)
{
    table_->RebuildObjectTable(image);
}

void ObjectPanel::clearObjectTable()
{
    table_->empty();
}

void ObjectPanel::clearObjectCount()
{
    countLabel_->clear();
}

} // namespace tarvil
