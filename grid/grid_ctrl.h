// CGridCtrl: the editable table of the CSF and HWC pages.
//
// A grid is rows by columns of cells. There are no frozen rows or columns: the pages
// fill row 0 with header texts and make it read-only. Cells are edited in place
// (double click, or typing a character over the current cell); a CGridCellCombo cell
// edits its text with a drop-down list instead. The table is a QTableView over a
// model that owns the cell objects, so scrolling, selection and painting are Qt's.
//
// Everything runs on the GUI thread.
#pragma once

#include <QColor>
#include <QString>
#include <QStringList>
#include <QTableView>
#include <memory>

namespace sealbench::grid_detail {
class GridModel;
class GridDelegate;
}  // namespace sealbench::grid_detail

// Cell state flags, as GetItemState reports and SetItemState takes them.
inline constexpr unsigned kGridCellFocused = 0x0001;
inline constexpr unsigned kGridCellSelected = 0x0002;  // set by the user's selection, read-only here
inline constexpr unsigned kGridCellReadOnly = 0x0008;  // stops in-place editing of the cell

// What every cell keeps: its text, its alignment (the text format) and its state.
class CGridCellBase {
public:
    virtual ~CGridCellBase();

    const QString& GetText() const { return text_; }
    void SetText(const QString& text) { text_ = text; }
    Qt::Alignment GetFormat() const { return format_; }
    void SetFormat(Qt::Alignment format) { format_ = format; }
    unsigned GetState() const { return state_; }
    void SetState(unsigned state) { state_ = state & ~kGridCellSelected; }

private:
    QString text_;
    Qt::Alignment format_ = Qt::AlignLeft | Qt::AlignVCenter;
    unsigned state_ = 0;
};

// The ordinary text cell.
class CGridCell : public CGridCellBase {};

// A cell whose text is picked from a list of option texts.
class CGridCellCombo : public CGridCell {
public:
    enum class Style {
        DropDownList,  // the text is one of the options
        DropDown,      // an option, or text typed by the user
    };

    void SetOptions(const QStringList& options) { options_ = options; }
    const QStringList& GetOptions() const { return options_; }
    void SetStyle(Style style) { style_ = style; }
    Style GetStyle() const { return style_; }

private:
    QStringList options_;
    Style style_ = Style::DropDownList;
};

class CGridCtrl : public QTableView {
    Q_OBJECT
public:
    explicit CGridCtrl(QWidget* parent = nullptr);
    ~CGridCtrl() override;

    // Appends a column (or inserts it at `column`); returns its index or -1.
    // Cells of the column take `format` as their text format.
    int InsertColumn(const QString& heading, Qt::Alignment format = Qt::AlignCenter, int column = -1);
    bool SetColumnWidth(int column, int width);
    int GetColumnWidth(int column) const;
    // Lets the last column with a width above 0 (not column 0) fill the rest of the
    // client area when the columns together are narrower than it. The grid keeps
    // doing so whenever its size changes (a page asks before it is laid out), and
    // widens a column whose header text in row 0 would not fit.
    void ExpandLastColumn();

    // Appends an empty row (or inserts it at `row`) with `text` in cell 0; returns its index or -1.
    int InsertRow(const QString& text, int row = -1);
    // Removes the row; later rows move up and the selection is cleared.
    bool DeleteRow(int row);
    void DeleteAllItems();
    int GetRowCount() const;
    int GetColumnCount() const;

    bool SetItemText(int row, int column, const QString& text);
    // The cell's text; an empty text outside the table.
    QString GetItemText(int row, int column) const;
    bool SetItemFormat(int row, int column, Qt::Alignment format);
    Qt::Alignment GetItemFormat(int row, int column) const;
    bool SetItemState(int row, int column, unsigned state);
    unsigned GetItemState(int row, int column) const;
    bool IsCellSelected(int row, int column) const;

    // Replaces the cell by one of class Cell, keeping its text, format and state.
    template <class Cell>
    bool SetCellType(int row, int column) {
        return ReplaceCell(row, column, std::make_unique<Cell>());
    }
    // The cell object, e.g. to give a CGridCellCombo its options; nullptr outside the table.
    CGridCellBase* GetCell(int row, int column) const;

    // Row height for every row, present and future.
    void SetDefCellHeight(int height);
    int GetDefCellHeight() const;

    void SetEditable(bool editable);
    void SetListMode(bool listMode);  // a click selects the whole row
    void SetSingleRowSelection(bool single);
    void SetFixedRowSelection(bool enable) { fixedRowSelection_ = enable; }
    void EnableTitleTips(bool enable);  // the full text as a tool tip
    void SetFocusFrame(bool enable);
    void SetBkColor(const QColor& colour);
    // Repaints with the current texts.
    void Refresh();

protected:
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    bool ReplaceCell(int row, int column, std::unique_ptr<CGridCellBase> cell);
    void ApplySelectionMode();
    // Moves the current cell as the key would outside an edit.
    void MoveCurrentByKey(int key);
    void FitHeaderTexts();
    void StretchLastColumn();

    std::unique_ptr<sealbench::grid_detail::GridModel> model_;
    std::unique_ptr<sealbench::grid_detail::GridDelegate> delegate_;
    bool editable_ = true;
    bool listMode_ = false;
    bool singleRow_ = false;
    bool fixedRowSelection_ = false;
    int defCellHeight_ = 0;
    int stretched_ = -1;      // the column ExpandLastColumn stretches; -1 none
    int stretchedWidth_ = 0;  // its width as the page set it
};
