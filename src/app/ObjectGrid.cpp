#include "app/ObjectGrid.h"

#include "app/Navigator.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>

namespace tarvil {

const QList<const ObjectColumn *> &objectGridColumns()
{
    static const QList<const ObjectColumn *> columns = [] {
        QList<const ObjectColumn *> out;
        for (const ObjectColumn &column : objectColumns()) {
            if (column.gridTitle)
                out.append(&column);
        }
        return out;
    }();
    return columns;
}

ObjectGridModel::ObjectGridModel(ObjectTable &table, QObject *parent) : QAbstractTableModel(parent), table_(table)
{
    setObjectName(QStringLiteral("PPKDS"));
    connect(&table_, &ObjectTable::rowsChanged, this, &ObjectGridModel::rowsChanged);
    connect(&table_, &ObjectTable::stateChanged, this, &ObjectGridModel::stateChanged);
}

int ObjectGridModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : table_.viewRowCount();
}

int ObjectGridModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(objectGridColumns().size());
}

QVariant ObjectGridModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.column() >= columnCount())
        return {};
    const ObjectColumn &column = *objectGridColumns().at(index.column());
    if (role == Qt::DisplayRole)
        return table_.viewText(index.row(), column.field);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(column.alignment);
    return {};
}

QVariant ObjectGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal) {
        if (section < 0 || section >= columnCount())
            return {};
        if (role == Qt::DisplayRole)
            return objectGridColumns().at(section)->gridName();
        if (role == Qt::TextAlignmentRole)
            return QVariant::fromValue(Qt::Alignment(Qt::AlignCenter));
        return {};
    }
    if (role == Qt::DisplayRole)
        return QString();
    if (role == Qt::DecorationRole && section == table_.viewCurrent())
        return rowMarkerIcon(table_.mode());
    return {};
}

Qt::ItemFlags ObjectGridModel::flags(const QModelIndex &index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

void ObjectGridModel::rowsChanged()
{
    beginResetModel();
    endResetModel();
}

void ObjectGridModel::stateChanged()
{
    const int rows = rowCount();
    if (rows == 0)
        return;
    emit dataChanged(index(0, 0), index(rows - 1, columnCount() - 1), {Qt::DisplayRole});
    emit headerDataChanged(Qt::Vertical, 0, rows - 1);
}

ObjectGridView::ObjectGridView(QWidget *parent) : QTableView(parent)
{
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setTabKeyNavigation(false);
    setWordWrap(false);
    setShowGrid(true);
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    verticalHeader()->setSectionsClickable(false);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    verticalHeader()->setFixedWidth(18);
}

void ObjectGridView::mousePressEvent(QMouseEvent *event)
{
    setFocus(Qt::MouseFocusReason);
    if (event->button() == Qt::LeftButton) {
        const int row = rowAt(event->position().toPoint().y());
        if (row >= 0)
            emit rowClicked(row);
    }
    event->accept();
}

void ObjectGridView::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
}

void ObjectGridView::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
}

void ObjectGridView::mouseDoubleClickEvent(QMouseEvent *event)
{
    event->accept();
}

int ObjectGridView::pageRows() const
{
    const int rowHeight = std::max(1, verticalHeader()->defaultSectionSize());
    return std::max(1, viewport()->height() / rowHeight - 1);
}

void ObjectGridView::keyPressEvent(QKeyEvent *event)
{
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    switch (event->key()) {
    case Qt::Key_Up:
        emit moveByRequested(-1);
        break;
    case Qt::Key_Down:
        emit moveByRequested(1);
        break;
    case Qt::Key_PageUp:
        emit moveByRequested(ctrl ? -1000 : -pageRows());
        break;
    case Qt::Key_PageDown:
        emit moveByRequested(ctrl ? 1000 : pageRows());
        break;
    case Qt::Key_Home:
        emit firstRequested();
        break;
    case Qt::Key_End:
        emit lastRequested();
        break;
    default:
        // Left, Right and the rest neither move the row nor edit: the item
        // view's own handling, which would, is passed over on purpose.
        QAbstractScrollArea::keyPressEvent(event); // NOLINT(bugprone-parent-virtual-call)
        return;
    }
    event->accept();
}

PanelTypeModel::PanelTypeModel(PanelTypeCatalogue &catalogue, QObject *parent)
    : QAbstractTableModel(parent), catalogue_(catalogue)
{
    setObjectName(QStringLiteral("CntDS"));
    connect(&catalogue_, &PanelTypeCatalogue::changed, this, [this] {
        beginResetModel();
        endResetModel();
    });
}

int PanelTypeModel::rowCount(const QModelIndex &parent) const
{
    return !parent.isValid() && catalogue_.hasCurrent() ? 1 : 0;
}

int PanelTypeModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 1;
}

QVariant PanelTypeModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || role != Qt::DisplayRole)
        return {};
    return catalogue_.currentName();
}

Qt::ItemFlags PanelTypeModel::flags(const QModelIndex &index) const
{
    return index.isValid() ? Qt::ItemIsEnabled : Qt::NoItemFlags;
}

PanelTypeView::PanelTypeView(PanelTypeCatalogue &catalogue, QWidget *parent)
    : QTableView(parent), catalogue_(catalogue)
{
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::NoSelection);
    setTabKeyNavigation(false);
    setShowGrid(false);
    setWordWrap(false);
    horizontalHeader()->hide();
    verticalHeader()->hide();
    horizontalHeader()->setStretchLastSection(true);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize PanelTypeView::sizeHint() const
{
    const int frame = 2 * frameWidth();
    return QSize(150, verticalHeader()->defaultSectionSize() + frame);
}

void PanelTypeView::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Up:
        catalogue_.prior();
        break;
    case Qt::Key_Down:
        catalogue_.next();
        break;
    default:
        // The one-line grid moves through the catalogue only; the item view
        // would move the cell or start an edit.
        QAbstractScrollArea::keyPressEvent(event); // NOLINT(bugprone-parent-virtual-call)
        return;
    }
    event->accept();
}

void PanelTypeView::wheelEvent(QWheelEvent *event)
{
    const int delta = event->angleDelta().y();
    if (delta > 0)
        catalogue_.prior();
    else if (delta < 0)
        catalogue_.next();
    event->accept();
}

void PanelTypeView::mousePressEvent(QMouseEvent *event)
{
    setFocus(Qt::MouseFocusReason);
    event->accept();
}

} // namespace tarvil
