// CGridCtrl (Win32): the editable table of the CSF and HWC pages. A page's template
// holds a custom control of the window class "MFCGridCtrl" at each grid's place; the
// class (registered by RegisterGridClass) fills itself with a report list view, and
// the page attaches a CGridCtrl to it. Row 0 is an ordinary row that the pages fill
// with header texts and make read-only.
//
// In-place editing: a double click on a cell, or a character typed while the grid
// has the focus, puts an edit control over the cell (typing starts it with that
// character); Enter or Tab stores the text, Escape restores the old one. A drop-down
// cell puts a combo box of its option texts over the cell instead.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace sealbench::win32 {

inline constexpr unsigned kGridCellReadOnly = 0x1;

// Registers "MFCGridCtrl" once per process; templates that name it need it first.
void RegisterGridClass();

class CGridCtrl {
public:
    CGridCtrl() = default;
    ~CGridCtrl();
    CGridCtrl(const CGridCtrl&) = delete;
    CGridCtrl& operator=(const CGridCtrl&) = delete;

    // Binds the grid to the "MFCGridCtrl" control of a page.
    void Attach(HWND control);
    HWND ListView() const { return list_; }

    int InsertColumn(const std::string& heading);
    void SetColumnWidth(int column, int pixels);
    // The last column with a width above 0 (unless that is column 0) takes up the
    // room the columns leave in the client area.
    void ExpandLastColumn();
    int InsertRow(const std::string& text);
    void DeleteRow(int row);
    int GetRowCount() const;
    int GetColumnCount() const { return static_cast<int>(columns_); }
    void SetItemText(int row, int column, const std::string& text);
    std::string GetItemText(int row, int column) const;
    void SetItemState(int row, int column, unsigned state);
    unsigned GetItemState(int row, int column) const;
    // True when the cell's row is the selected one (the grid selects whole rows).
    bool IsCellSelected(int row, int column) const;
    // Makes the cell a drop-down cell with these options; `typed` lets its text be typed too.
    void SetComboCell(int row, int column, std::vector<std::string> options, bool typed);
    bool IsComboCell(int row, int column) const;
    void SetEditable(bool editable) { editable_ = editable; }
    void SetDefCellHeight(int pixels) { defaultHeight_ = pixels; }
    void Refresh() { InvalidateRect(list_, nullptr, TRUE); }

    // The editor over the cell, for tests and keyboard handling; nullptr when none.
    HWND Editor() const { return editor_; }
    // Starts editing the cell as a double click does (with `typed` as the first character).
    bool BeginEdit(int row, int column, char typed = 0);
    // Ends the edit: stores the editor's text, or restores the cell's old one.
    void EndEdit(bool store);

private:
    struct Cell {
        unsigned state = 0;
        bool combo = false;
        bool typed = false;
        std::vector<std::string> options;
    };
    Cell& CellAt(int row, int column);
    const Cell* FindCell(int row, int column) const;
    static LRESULT CALLBACK ListProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                     DWORD_PTR data);
    static LRESULT CALLBACK EditorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                       DWORD_PTR data);
    friend LRESULT CALLBACK GridWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void OnNotify(const NMHDR& header);

    HWND control_ = nullptr;
    HWND list_ = nullptr;
    HWND editor_ = nullptr;
    int editRow_ = -1;
    int editColumn_ = -1;
    int currentColumn_ = 0;
    size_t columns_ = 0;
    bool editable_ = true;
    int defaultHeight_ = 16;
    std::vector<std::vector<Cell>> cells_;
};

// The pages' "Remove": rows 1 to `count` are looked at in order and one whose first
// cell is selected is deleted (deleting clears the selection, so at most one goes).
// Returns the count left; the grid is redrawn.
int RemoveSelectedRow(CGridCtrl& grid, int count);
// The pages' "Remove All": row 1 deleted `count` times; the grid is redrawn.
void RemoveAllRows(CGridCtrl& grid, int count);

}  // namespace sealbench::win32
