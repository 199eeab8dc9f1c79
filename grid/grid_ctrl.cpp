#include "grid/grid_ctrl.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QStyle>
#include <algorithm>

#include "grid/grid_delegate.h"
#include "grid/grid_model.h"

using sealbench::grid_detail::GridDelegate;
using sealbench::grid_detail::GridModel;

CGridCtrl::CGridCtrl(QWidget* parent)
    : QTableView(parent),
      model_(std::make_unique<GridModel>()),
      delegate_(std::make_unique<GridDelegate>([this](int key) { MoveCurrentByKey(key); })) {
    setModel(model_.get());
    setItemDelegate(delegate_.get());
    // Row 0 is the pages' own header row; Qt's headers would be a second one.
    horizontalHeader()->hide();
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setStretchLastSection(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    SetEditable(true);
    ApplySelectionMode();
}

CGridCtrl::~CGridCtrl() {
    // The view must let go of the model and delegate before they are destroyed.
    setModel(nullptr);
    setItemDelegate(nullptr);
}

int CGridCtrl::InsertColumn(const QString& heading, Qt::Alignment format, int column) {
    const int at = model_->InsertColumn(format, column);
    model_->setHeaderData(at, Qt::Horizontal, heading);
    return at;
}

bool CGridCtrl::SetColumnWidth(int column, int width) {
    if (column < 0 || column >= GetColumnCount() || width < 0) return false;
    setColumnWidth(column, width);
    if (column == stretched_) stretchedWidth_ = width;
    return true;
}

int CGridCtrl::GetColumnWidth(int column) const {
    return column < 0 || column >= GetColumnCount() ? 0 : columnWidth(column);
}

void CGridCtrl::ExpandLastColumn() {
    FitHeaderTexts();
    int last = -1;
    for (int column = 0; column < GetColumnCount(); ++column) {
        if (columnWidth(column) > 0) last = column;
    }
    if (last <= 0) {
        stretched_ = -1;
        return;
    }
    if (last != stretched_) {
        stretched_ = last;
        stretchedWidth_ = columnWidth(last);
    }
    StretchLastColumn();
}

void CGridCtrl::FitHeaderTexts() {
    if (GetRowCount() == 0) return;
    const QFontMetrics metrics(font());
    // Room for the cell's margins on both sides.
    const int padding = 2 * style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 8;
    for (int column = 0; column < GetColumnCount(); ++column) {
        const int width = columnWidth(column);
        const QString text = GetItemText(0, column);
        if (width <= 0 || text.isEmpty()) continue;  // a hidden column stays hidden
        const int needed = metrics.horizontalAdvance(text) + padding;
        if (width < needed) SetColumnWidth(column, needed);
    }
}

void CGridCtrl::StretchLastColumn() {
    if (stretched_ < 0 || stretched_ >= GetColumnCount() || stretchedWidth_ == 0) return;
    int others = 0;
    for (int column = 0; column < GetColumnCount(); ++column) {
        if (column != stretched_) others += columnWidth(column);
    }
    // Never below the width the page gave it; never wider than the room left.
    setColumnWidth(stretched_, std::max(stretchedWidth_, viewport()->width() - others));
}

void CGridCtrl::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    StretchLastColumn();
}

int CGridCtrl::InsertRow(const QString& text, int row) {
    if (GetColumnCount() == 0) return -1;
    const int at = model_->InsertRow(row);
    model_->Cell(at, 0)->SetText(text);
    if (defCellHeight_ > 0) setRowHeight(at, defCellHeight_);
    return at;
}

bool CGridCtrl::DeleteRow(int row) {
    if (!model_->RemoveRow(row)) return false;
    clearSelection();
    return true;
}

void CGridCtrl::DeleteAllItems() { model_->Clear(); }

int CGridCtrl::GetRowCount() const { return model_->rowCount(); }

int CGridCtrl::GetColumnCount() const { return model_->columnCount(); }

bool CGridCtrl::SetItemText(int row, int column, const QString& text) {
    CGridCellBase* cell = model_->Cell(row, column);
    if (cell == nullptr) return false;
    cell->SetText(text);
    model_->CellChanged(row, column);
    return true;
}

QString CGridCtrl::GetItemText(int row, int column) const {
    const CGridCellBase* cell = model_->Cell(row, column);
    return cell == nullptr ? QString() : cell->GetText();
}

bool CGridCtrl::SetItemFormat(int row, int column, Qt::Alignment format) {
    CGridCellBase* cell = model_->Cell(row, column);
    if (cell == nullptr) return false;
    cell->SetFormat(format);
    model_->CellChanged(row, column);
    return true;
}

bool CGridCtrl::SetItemState(int row, int column, unsigned state) {
    CGridCellBase* cell = model_->Cell(row, column);
    if (cell == nullptr) return false;
    cell->SetState(state);
    model_->CellChanged(row, column);
    return true;
}

unsigned CGridCtrl::GetItemState(int row, int column) const {
    const CGridCellBase* cell = model_->Cell(row, column);
    if (cell == nullptr) return 0;
    return cell->GetState() | (IsCellSelected(row, column) ? kGridCellSelected : 0u);
}

bool CGridCtrl::IsCellSelected(int row, int column) const {
    if (model_->Cell(row, column) == nullptr) return false;
    return selectionModel()->isSelected(model_->index(row, column));
}

CGridCellBase* CGridCtrl::GetCell(int row, int column) const { return model_->Cell(row, column); }

bool CGridCtrl::ReplaceCell(int row, int column, std::unique_ptr<CGridCellBase> cell) {
    return model_->ReplaceCell(row, column, std::move(cell));
}

void CGridCtrl::SetDefCellHeight(int height) {
    if (height <= 0) return;
    defCellHeight_ = height;
    verticalHeader()->setMinimumSectionSize(std::min(height, verticalHeader()->minimumSectionSize()));
    verticalHeader()->setDefaultSectionSize(height);
    for (int row = 0; row < GetRowCount(); ++row) setRowHeight(row, height);
}

int CGridCtrl::GetDefCellHeight() const { return verticalHeader()->defaultSectionSize(); }

void CGridCtrl::SetEditable(bool editable) {
    editable_ = editable;
    model_->SetEditable(editable);
    setEditTriggers(editable ? QAbstractItemView::DoubleClicked | QAbstractItemView::AnyKeyPressed |
                                   QAbstractItemView::EditKeyPressed
                             : QAbstractItemView::NoEditTriggers);
}

void CGridCtrl::SetListMode(bool listMode) {
    listMode_ = listMode;
    ApplySelectionMode();
}

void CGridCtrl::SetSingleRowSelection(bool single) {
    singleRow_ = single;
    ApplySelectionMode();
}

void CGridCtrl::EnableTitleTips(bool enable) { model_->SetTitleTips(enable); }

void CGridCtrl::SetFocusFrame(bool enable) {
    // The focus frame is the style's focus rectangle around the current cell.
    setAttribute(Qt::WA_MacShowFocusRect, enable);
    setStyleSheet(enable ? QString() : QStringLiteral("QTableView { outline: 0; }"));
}

void CGridCtrl::SetBkColor(const QColor& colour) {
    QPalette colours = palette();
    colours.setColor(QPalette::Base, colour);
    setPalette(colours);
}

void CGridCtrl::Refresh() { viewport()->update(); }

void CGridCtrl::ApplySelectionMode() {
    setSelectionBehavior(listMode_ ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);
    setSelectionMode(listMode_ && singleRow_ ? QAbstractItemView::SingleSelection
                                             : QAbstractItemView::ExtendedSelection);
}

bool CGridCtrl::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
    const bool typed = trigger == QAbstractItemView::AnyKeyPressed;
    if (typed && event != nullptr && event->type() == QEvent::KeyPress &&
        (static_cast<QKeyEvent*>(event)->modifiers() & Qt::ControlModifier))
        return false;
    delegate_->SetStartedByTyping(typed);
    const bool opened = QTableView::edit(index, trigger, event);
    delegate_->SetStartedByTyping(false);
    return opened;
}

void CGridCtrl::MoveCurrentByKey(int key) {
    CursorAction action = MoveDown;
    switch (key) {
        case Qt::Key_Up:
            action = MoveUp;
            break;
        case Qt::Key_Down:
            action = MoveDown;
            break;
        case Qt::Key_Left:
            action = MoveLeft;
            break;
        case Qt::Key_Right:
            action = MoveRight;
            break;
        case Qt::Key_PageUp:
            action = MovePageUp;
            break;
        case Qt::Key_PageDown:
            action = MovePageDown;
            break;
        default:
            return;
    }
    const QModelIndex next = moveCursor(action, Qt::NoModifier);
    if (next.isValid()) setCurrentIndex(next);
    setFocus();
}

Qt::Alignment CGridCtrl::GetItemFormat(int row, int column) const {
    const CGridCellBase* cell = model_->Cell(row, column);
    return cell == nullptr ? Qt::Alignment() : cell->GetFormat();
}
