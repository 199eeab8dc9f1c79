// In-place editors of the grid: a line edit for text cells, a drop-down list for
// CGridCellCombo cells, and the keys that end an edit.
#pragma once

#include <QStyledItemDelegate>
#include <functional>

namespace sealbench::grid_detail {

class GridDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    // `move` moves the grid's current cell as an arrow or page key would.
    GridDelegate(std::function<void(int key)> move, QObject* parent = nullptr);

    // The next editor is opened by a typed character (arrows then end the edit).
    void SetStartedByTyping(bool typed) { startedByTyping_ = typed; }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;

protected:
    bool eventFilter(QObject* object, QEvent* event) override;

private:
    std::function<void(int key)> move_;
    bool startedByTyping_ = false;
};

}  // namespace sealbench::grid_detail
