#include "grid/grid_delegate.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>

#include "grid/grid_model.h"

namespace sealbench::grid_detail {
namespace {

constexpr char kTypedProperty[] = "sealbenchStartedByTyping";

const CGridCellCombo* ComboCellOf(const QModelIndex& index) {
    const auto* cell = reinterpret_cast<const CGridCellBase*>(index.data(kCellRole).value<quintptr>());
    return dynamic_cast<const CGridCellCombo*>(cell);
}

bool IsMoveKey(int key) {
    switch (key) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            return true;
        default:
            return false;
    }
}

}  // namespace

GridDelegate::GridDelegate(std::function<void(int key)> move, QObject* parent)
    : QStyledItemDelegate(parent), move_(std::move(move)) {}

QWidget* GridDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const {
    QWidget* editor = nullptr;
    if (const CGridCellCombo* cell = ComboCellOf(index)) {
        auto* combo = new QComboBox(parent);
        combo->addItems(cell->GetOptions());
        combo->setEditable(cell->GetStyle() == CGridCellCombo::Style::DropDown);
        // Picking an option ends the edit at once, as a drop-down cell is expected to.
        connect(combo, &QComboBox::activated, this, [this, combo](int) {
            auto* self = const_cast<GridDelegate*>(this);
            emit self->commitData(combo);
            emit self->closeEditor(combo, QAbstractItemDelegate::NoHint);
        });
        QTimer::singleShot(0, combo, &QComboBox::showPopup);
        editor = combo;
    } else {
        // Qt's own line editor widens with its text up to the view's width.
        editor = QStyledItemDelegate::createEditor(parent, option, index);
    }
    if (editor != nullptr) editor->setProperty(kTypedProperty, startedByTyping_);
    return editor;
}

void GridDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
    if (auto* combo = qobject_cast<QComboBox*>(editor)) {
        const QString text = index.data(Qt::EditRole).toString();
        const int found = combo->findText(text);
        if (combo->isEditable())
            combo->setCurrentText(text);
        else
            combo->setCurrentIndex(found);
        return;
    }
    QStyledItemDelegate::setEditorData(editor, index);
}

void GridDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const {
    if (auto* combo = qobject_cast<QComboBox*>(editor)) {
        // A list-only cell whose text is none of the options keeps it until one is picked.
        if (combo->isEditable() || combo->currentIndex() >= 0)
            model->setData(index, combo->currentText(), Qt::EditRole);
        return;
    }
    QStyledItemDelegate::setModelData(editor, model, index);
}

bool GridDelegate::eventFilter(QObject* object, QEvent* event) {
    auto* editor = qobject_cast<QWidget*>(object);
    if (editor != nullptr && event->type() == QEvent::KeyPress && qobject_cast<QLineEdit*>(editor) != nullptr) {
        auto* key = static_cast<QKeyEvent*>(event);
        const bool typed = editor->property(kTypedProperty).toBool();
        if (IsMoveKey(key->key()) && (typed || (key->modifiers() & Qt::ControlModifier))) {
            emit commitData(editor);
            emit closeEditor(editor, QAbstractItemDelegate::NoHint);
            if (move_) move_(key->key());
            return true;
        }
    }
    return QStyledItemDelegate::eventFilter(object, event);
}

}  // namespace sealbench::grid_detail
