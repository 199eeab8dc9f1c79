#include "grid/win32/grid_ctrl.h"

#include <commctrl.h>

namespace sealbench::win32 {

LRESULT CALLBACK GridWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* grid = reinterpret_cast<CGridCtrl*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    switch (message) {
        case WM_CREATE: {
            RECT client;
            GetClientRect(window, &client);
            CreateWindowExA(WS_EX_CLIENTEDGE, WC_LISTVIEWA, "",
                            WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_NOCOLUMNHEADER | LVS_SINGLESEL |
                                LVS_SHOWSELALWAYS,
                            0, 0, client.right, client.bottom, window, reinterpret_cast<HMENU>(1),
                            GetModuleHandleA(nullptr), nullptr);
            return 0;
        }
        case WM_SIZE:
            MoveWindow(GetDlgItem(window, 1), 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
            return 0;
        case WM_SETFOCUS:
            SetFocus(GetDlgItem(window, 1));
            return 0;
        case WM_NOTIFY:
            if (grid != nullptr) grid->OnNotify(*reinterpret_cast<const NMHDR*>(lParam));
            return 0;
        case WM_COMMAND:
            // The drop-down editor's list closed on a choice: the choice is the text.
            if (grid != nullptr && HIWORD(wParam) == CBN_SELENDOK) grid->EndEdit(true);
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

void RegisterGridClass() {
    WNDCLASSA existing{};
    if (GetClassInfoA(GetModuleHandleA(nullptr), "MFCGridCtrl", &existing)) return;
    WNDCLASSA grid{};
    grid.lpfnWndProc = &GridWindowProc;
    grid.hInstance = GetModuleHandleA(nullptr);
    grid.hCursor = LoadCursor(nullptr, IDC_ARROW);
    grid.lpszClassName = "MFCGridCtrl";
    RegisterClassA(&grid);
}

CGridCtrl::~CGridCtrl() {
    if (control_ != nullptr && IsWindow(control_)) SetWindowLongPtrA(control_, GWLP_USERDATA, 0);
}

void CGridCtrl::Attach(HWND control) {
    control_ = control;
    list_ = GetDlgItem(control, 1);
    SetWindowLongPtrA(control_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SendMessageA(list_, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    SetWindowSubclass(list_, &ListProc, 1, reinterpret_cast<DWORD_PTR>(this));
}

int CGridCtrl::InsertColumn(const std::string& heading) {
    LVCOLUMNA column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    std::string text = heading;
    column.pszText = text.data();
    column.cx = 60;
    // Column 0 of a list view is always left-aligned; the others are centred as the pages ask.
    column.fmt = columns_ == 0 ? LVCFMT_LEFT : LVCFMT_CENTER;
    const int index =
        static_cast<int>(SendMessageA(list_, LVM_INSERTCOLUMNA, columns_, reinterpret_cast<LPARAM>(&column)));
    if (index >= 0) {
        ++columns_;
        for (auto& row : cells_) row.resize(columns_);
    }
    return index;
}

void CGridCtrl::SetColumnWidth(int column, int pixels) { SendMessageA(list_, LVM_SETCOLUMNWIDTH, column, pixels); }

void CGridCtrl::ExpandLastColumn() {
    RECT client;
    GetClientRect(list_, &client);
    int total = 0;
    int last = -1;
    for (int i = 0; i < GetColumnCount(); ++i) {
        const int width = static_cast<int>(SendMessageA(list_, LVM_GETCOLUMNWIDTH, i, 0));
        total += width;
        if (width > 0) last = i;
    }
    if (last > 0 && total < client.right)
        SetColumnWidth(last, static_cast<int>(SendMessageA(list_, LVM_GETCOLUMNWIDTH, last, 0)) + client.right - total);
}

int CGridCtrl::InsertRow(const std::string& text) {
    LVITEMA item{};
    item.mask = LVIF_TEXT;
    item.iItem = GetRowCount();
    std::string copy = text;
    item.pszText = copy.data();
    const int row = static_cast<int>(SendMessageA(list_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    if (row >= 0) cells_.insert(cells_.begin() + row, std::vector<Cell>(columns_));
    return row;
}

void CGridCtrl::DeleteRow(int row) {
    if (row < 0 || row >= GetRowCount()) return;
    EndEdit(false);
    SendMessageA(list_, LVM_DELETEITEM, row, 0);
    cells_.erase(cells_.begin() + row);
    // Deleting a row clears the selection, as the pages rely on.
    ListView_SetItemState(list_, -1, 0, LVIS_SELECTED);
}

int CGridCtrl::GetRowCount() const { return static_cast<int>(SendMessageA(list_, LVM_GETITEMCOUNT, 0, 0)); }

void CGridCtrl::SetItemText(int row, int column, const std::string& text) {
    LVITEMA item{};
    item.iSubItem = column;
    std::string copy = text;
    item.pszText = copy.data();
    SendMessageA(list_, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
}

std::string CGridCtrl::GetItemText(int row, int column) const {
    if (row < 0 || row >= GetRowCount() || column < 0 || column >= GetColumnCount()) return {};
    char text[1024] = {};
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(list_, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
    return text;
}

CGridCtrl::Cell& CGridCtrl::CellAt(int row, int column) {
    return cells_.at(static_cast<size_t>(row)).at(static_cast<size_t>(column));
}

const CGridCtrl::Cell* CGridCtrl::FindCell(int row, int column) const {
    if (row < 0 || static_cast<size_t>(row) >= cells_.size() || column < 0 || static_cast<size_t>(column) >= columns_)
        return nullptr;
    return &cells_[static_cast<size_t>(row)][static_cast<size_t>(column)];
}

void CGridCtrl::SetItemState(int row, int column, unsigned state) {
    if (FindCell(row, column)) CellAt(row, column).state = state;
}

unsigned CGridCtrl::GetItemState(int row, int column) const {
    const Cell* cell = FindCell(row, column);
    return cell ? cell->state : 0;
}

bool CGridCtrl::IsCellSelected(int row, int) const {
    return (SendMessageA(list_, LVM_GETITEMSTATE, row, LVIS_SELECTED) & LVIS_SELECTED) != 0;
}

void CGridCtrl::SetComboCell(int row, int column, std::vector<std::string> options, bool typed) {
    if (!FindCell(row, column)) return;
    Cell& cell = CellAt(row, column);
    cell.combo = true;
    cell.typed = typed;
    cell.options = std::move(options);
}

bool CGridCtrl::IsComboCell(int row, int column) const {
    const Cell* cell = FindCell(row, column);
    return cell != nullptr && cell->combo;
}

bool CGridCtrl::BeginEdit(int row, int column, char typed) {
    const Cell* cell = FindCell(row, column);
    if (!editable_ || cell == nullptr || (cell->state & kGridCellReadOnly)) return false;
    EndEdit(true);
    RECT place{};
    place.top = column;
    place.left = LVIR_LABEL;
    SendMessageA(list_, LVM_GETSUBITEMRECT, row, reinterpret_cast<LPARAM>(&place));
    if (column == 0) place.right = place.left + static_cast<int>(SendMessageA(list_, LVM_GETCOLUMNWIDTH, 0, 0));
    const std::string text = typed != 0 ? std::string(1, typed) : GetItemText(row, column);
    if (cell->combo) {
        editor_ = CreateWindowExA(0, WC_COMBOBOXA, "",
                                  WS_CHILD | WS_VISIBLE | WS_VSCROLL | (cell->typed ? CBS_DROPDOWN : CBS_DROPDOWNLIST),
                                  place.left, place.top, place.right - place.left, 200, control_, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
        for (const std::string& option : cell->options)
            SendMessageA(editor_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(option.c_str()));
        SetWindowTextA(editor_, text.c_str());
        SendMessageA(editor_, CB_SHOWDROPDOWN, TRUE, 0);
    } else {
        editor_ = CreateWindowExA(0, WC_EDITA, text.c_str(), WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL,
                                  place.left, place.top, place.right - place.left, place.bottom - place.top, list_,
                                  nullptr, GetModuleHandleA(nullptr), nullptr);
        SendMessageA(editor_, EM_SETSEL, text.size(), static_cast<LPARAM>(text.size()));
    }
    SendMessageA(editor_, WM_SETFONT, SendMessageA(list_, WM_GETFONT, 0, 0), TRUE);
    editRow_ = row;
    editColumn_ = column;
    // The keys that end an edit reach the editor (or the combo box's own edit field).
    HWND keys = cell->combo && cell->typed ? GetWindow(editor_, GW_CHILD) : editor_;
    SetWindowSubclass(keys, &EditorProc, 2, reinterpret_cast<DWORD_PTR>(this));
    SetFocus(editor_);
    return true;
}

void CGridCtrl::EndEdit(bool store) {
    if (editor_ == nullptr) return;
    const HWND editor = editor_;
    editor_ = nullptr;  // a focus change while it goes must not end it twice
    if (store) {
        char text[1024] = {};
        GetWindowTextA(editor, text, sizeof text);
        SetItemText(editRow_, editColumn_, text);
    }
    DestroyWindow(editor);
    SetFocus(list_);
}

void CGridCtrl::OnNotify(const NMHDR& header) {
    if (header.hwndFrom != list_) return;
    if (header.code == NM_CLICK || header.code == NM_DBLCLK) {
        const auto& click = reinterpret_cast<const NMITEMACTIVATE&>(header);
        if (click.iSubItem >= 0) currentColumn_ = click.iSubItem;
        if (header.code == NM_DBLCLK && click.iItem >= 0) BeginEdit(click.iItem, click.iSubItem);
    }
}

LRESULT CALLBACK CGridCtrl::ListProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                     DWORD_PTR data) {
    auto* grid = reinterpret_cast<CGridCtrl*>(data);
    // Typing a character without Ctrl starts an edit of the selected row's current cell with it.
    if (message == WM_CHAR && wParam >= 0x20 && wParam != 0x7F && !(GetKeyState(VK_CONTROL) & 0x8000)) {
        const int row = static_cast<int>(SendMessageA(window, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
        if (row >= 0 && grid->BeginEdit(row, grid->currentColumn_, static_cast<char>(wParam))) return 0;
    }
    if (message == WM_NCDESTROY) RemoveWindowSubclass(window, &ListProc, 1);
    return DefSubclassProc(window, message, wParam, lParam);
}

LRESULT CALLBACK CGridCtrl::EditorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                       DWORD_PTR data) {
    auto* grid = reinterpret_cast<CGridCtrl*>(data);
    if (message == WM_GETDLGCODE) return DLGC_WANTALLKEYS;
    if (message == WM_KEYDOWN && (wParam == VK_RETURN || wParam == VK_TAB || wParam == VK_ESCAPE)) {
        grid->EndEdit(wParam != VK_ESCAPE);
        return 0;
    }
    if (message == WM_CHAR && (wParam == '\r' || wParam == '\t' || wParam == 0x1B)) return 0;
    if (message == WM_KILLFOCUS && grid->editor_ != nullptr) {
        const HWND to = reinterpret_cast<HWND>(wParam);
        if (to != grid->editor_ && !IsChild(grid->editor_, to)) grid->EndEdit(true);
    }
    if (message == WM_NCDESTROY) RemoveWindowSubclass(window, &EditorProc, 2);
    return DefSubclassProc(window, message, wParam, lParam);
}

int RemoveSelectedRow(CGridCtrl& grid, int count) {
    for (int row = 1; row <= count; ++row) {
        if (grid.IsCellSelected(row, 0)) {
            grid.DeleteRow(row);
            --count;
        }
    }
    grid.Refresh();
    return count;
}

void RemoveAllRows(CGridCtrl& grid, int count) {
    for (; count > 0; --count) grid.DeleteRow(1);
    grid.Refresh();
}

}  // namespace sealbench::win32
