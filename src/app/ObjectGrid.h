#pragma once

#include "model/ObjectTable.h"
#include "model/PanelTypeCatalogue.h"

#include <QAbstractTableModel>
#include <QTableView>

namespace tarvil {

// DBGrid1's columns: the object columns that have a grid title, in order.
const QList<const ObjectColumn *> &objectGridColumns();

// PPKDS: the object table as DBGrid1 shows it, a pending insertion included;
// the vertical header marks the current row with the table's mode.
class ObjectGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit ObjectGridModel(ObjectTable &table, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    void rowsChanged();
    void stateChanged();

    ObjectTable &table_;
};

// DBGrid1's view. The current row belongs to the table: a click or a
// navigation key asks the table to move, and the panel then shows where the
// table is. The grid never edits.
class ObjectGridView : public QTableView {
    Q_OBJECT
public:
    explicit ObjectGridView(QWidget *parent = nullptr);
    void keyboardSearch(const QString &) override {}

signals:
    void rowClicked(int viewRow);
    void moveByRequested(int delta);
    void firstRequested();
    void lastRequested();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    int pageRows() const;
};

// CntDS: the catalogue's current row, the one row the grid N_PPK shows; no
// row when nothing is visible.
class PanelTypeModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit PanelTypeModel(PanelTypeCatalogue &catalogue, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    PanelTypeCatalogue &catalogue_;
};

// The grid N_PPK, one row high: the arrow keys and the mouse wheel step
// through the visible types as DBNavigator2 does.
class PanelTypeView : public QTableView {
    Q_OBJECT
public:
    PanelTypeView(PanelTypeCatalogue &catalogue, QWidget *parent = nullptr);
    void keyboardSearch(const QString &) override {}
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *) override {}
    void mouseDoubleClickEvent(QMouseEvent *) override {}

private:
    PanelTypeCatalogue &catalogue_;
};

} // namespace tarvil
