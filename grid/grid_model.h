// The grid's table model: it owns the cell objects of a CGridCtrl.
#pragma once

#include <QAbstractTableModel>
#include <memory>
#include <vector>

#include "grid/grid_ctrl.h"

namespace sealbench::grid_detail {

// Roles beyond Qt's own that the delegate asks for.
inline constexpr int kCellRole = Qt::UserRole + 1;  // const CGridCellBase*, as quintptr

class GridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit GridModel(QObject* parent = nullptr);
    ~GridModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    int InsertColumn(Qt::Alignment format, int column);
    int InsertRow(int row);
    bool RemoveRow(int row);
    void Clear();

    CGridCellBase* Cell(int row, int column) const;
    bool ReplaceCell(int row, int column, std::unique_ptr<CGridCellBase> cell);
    void CellChanged(int row, int column);

    void SetEditable(bool editable);
    void SetTitleTips(bool enable);

private:
    using Row = std::vector<std::unique_ptr<CGridCellBase>>;
    std::vector<Row> rows_;
    std::vector<Qt::Alignment> columnFormats_;
    bool editable_ = true;
    bool titleTips_ = false;
};

}  // namespace sealbench::grid_detail
