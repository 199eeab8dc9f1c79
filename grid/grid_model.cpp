#include "grid/grid_model.h"

#include <QApplication>
#include <QPalette>

namespace sealbench::grid_detail {

GridModel::GridModel(QObject* parent) : QAbstractTableModel(parent) {}
GridModel::~GridModel() = default;

int GridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int GridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(columnFormats_.size());
}

CGridCellBase* GridModel::Cell(int row, int column) const {
    if (row < 0 || column < 0 || row >= rowCount() || column >= columnCount()) return nullptr;
    return rows_[static_cast<size_t>(row)][static_cast<size_t>(column)].get();
}

QVariant GridModel::data(const QModelIndex& index, int role) const {
    const CGridCellBase* cell = Cell(index.row(), index.column());
    if (cell == nullptr) return {};
    switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole:
            return cell->GetText();
        case Qt::ToolTipRole:
            return titleTips_ && !cell->GetText().isEmpty() ? QVariant(cell->GetText()) : QVariant();
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(cell->GetFormat());
        case Qt::BackgroundRole:
            // Row 0 carries the headings; give it the look of a header.
            return index.row() == 0 && (cell->GetState() & kGridCellReadOnly)
                       ? QVariant(QApplication::palette().button())
                       : QVariant();
        case kCellRole:
            return QVariant::fromValue(reinterpret_cast<quintptr>(cell));
        default:
            return {};
    }
}

bool GridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    CGridCellBase* cell = Cell(index.row(), index.column());
    if (cell == nullptr || role != Qt::EditRole) return false;
    cell->SetText(value.toString());
    emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
    return true;
}

Qt::ItemFlags GridModel::flags(const QModelIndex& index) const {
    const CGridCellBase* cell = Cell(index.row(), index.column());
    if (cell == nullptr) return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (editable_ && !(cell->GetState() & kGridCellReadOnly)) flags |= Qt::ItemIsEditable;
    return flags;
}

int GridModel::InsertColumn(Qt::Alignment format, int column) {
    const int count = columnCount();
    if (column < 0 || column > count) column = count;
    beginInsertColumns(QModelIndex(), column, column);
    columnFormats_.insert(columnFormats_.begin() + column, format);
    for (Row& row : rows_) {
        auto cell = std::make_unique<CGridCell>();
        cell->SetFormat(format);
        row.insert(row.begin() + column, std::move(cell));
    }
    endInsertColumns();
    return column;
}

int GridModel::InsertRow(int row) {
    const int count = rowCount();
    if (row < 0 || row > count) row = count;
    beginInsertRows(QModelIndex(), row, row);
    Row cells;
    cells.reserve(columnFormats_.size());
    for (Qt::Alignment format : columnFormats_) {
        auto cell = std::make_unique<CGridCell>();
        cell->SetFormat(format);
        cells.push_back(std::move(cell));
    }
    rows_.insert(rows_.begin() + row, std::move(cells));
    endInsertRows();
    return row;
}

bool GridModel::RemoveRow(int row) {
    if (row < 0 || row >= rowCount()) return false;
    beginRemoveRows(QModelIndex(), row, row);
    rows_.erase(rows_.begin() + row);
    endRemoveRows();
    return true;
}

void GridModel::Clear() {
    beginResetModel();
    rows_.clear();
    columnFormats_.clear();
    endResetModel();
}

bool GridModel::ReplaceCell(int row, int column, std::unique_ptr<CGridCellBase> cell) {
    CGridCellBase* old = Cell(row, column);
    if (old == nullptr || cell == nullptr) return false;
    cell->SetText(old->GetText());
    cell->SetFormat(old->GetFormat());
    cell->SetState(old->GetState());
    rows_[static_cast<size_t>(row)][static_cast<size_t>(column)] = std::move(cell);
    CellChanged(row, column);
    return true;
}

void GridModel::CellChanged(int row, int column) {
    const QModelIndex at = index(row, column);
    emit dataChanged(at, at);
}

void GridModel::SetEditable(bool editable) {
    editable_ = editable;
    if (rowCount() > 0 && columnCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

void GridModel::SetTitleTips(bool enable) { titleTips_ = enable; }

}  // namespace sealbench::grid_detail
