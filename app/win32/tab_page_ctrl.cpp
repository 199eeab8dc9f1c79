#include "app/win32/tab_page_ctrl.h"

#include <commctrl.h>

namespace sealbench::win32 {

CTabPageCtrl::~CTabPageCtrl() {
    RemoveAllPages();
    if (tab_ != nullptr && IsWindow(tab_)) RemoveWindowSubclass(tab_, &TabProc, 1);
}

void CTabPageCtrl::Attach(HWND tab) {
    tab_ = tab;
    SetWindowSubclass(tab_, &TabProc, 1, reinterpret_cast<DWORD_PTR>(this));
}

LRESULT CALLBACK CTabPageCtrl::TabProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                       DWORD_PTR data) {
    auto* host = reinterpret_cast<CTabPageCtrl*>(data);
    if (message == WM_SETFOCUS) {
        const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
        host->OnFocus();
        return result;
    }
    if (message == WM_KILLFOCUS) {
        // Whatever takes the focus inside the shown page is where the user comes back to.
        const int current = host->GetCurSel();
        const HWND to = reinterpret_cast<HWND>(wParam);
        if (host->Valid(current) && to != nullptr && IsChild(host->tabs_[static_cast<size_t>(current)].page, to))
            host->tabs_[static_cast<size_t>(current)].focus = to;
    }
    if (message == WM_NCDESTROY) RemoveWindowSubclass(window, &TabProc, 1);
    return DefSubclassProc(window, message, wParam, lParam);
}

void CTabPageCtrl::OnFocus() {
    const int current = GetCurSel();
    if (!Valid(current)) return;
    Tab& tab = tabs_[static_cast<size_t>(current)];
    HWND target = tab.focus;
    if (target == nullptr || !IsWindow(target) || !IsWindowVisible(target) || !IsWindowEnabled(target))
        target = GetNextDlgTabItem(tab.page, nullptr, FALSE);
    if (target != nullptr) SetFocus(target);
}

int CTabPageCtrl::AddPage(const std::string& label, int pageId, HWND page) { return Insert(label, pageId, page, {}); }

int CTabPageCtrl::AddPage(const std::string& label, int pageId, std::unique_ptr<CPageDialog> page) {
    if (!page) return -1;
    // Made a child of the main window, then handed to the tab control.
    const HWND window = page->Create(GetParent(tab_));
    if (window == nullptr) return -1;
    return Insert(label, pageId, window, std::move(page));
}

int CTabPageCtrl::Insert(const std::string& label, int pageId, HWND page, std::unique_ptr<CPageDialog> owned) {
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    std::string text = label;
    item.pszText = text.data();
    const int index = static_cast<int>(
        SendMessageA(tab_, TCM_INSERTITEMA, static_cast<WPARAM>(GetPageCount()), reinterpret_cast<LPARAM>(&item)));
    if (index < 0) return -1;
    if (page == nullptr) {
        SendMessageA(tab_, TCM_DELETEITEM, static_cast<WPARAM>(index), 0);
        return -1;
    }
    tabs_.push_back({page, std::move(owned), pageId, nullptr});
    SetParent(page, tab_);
    // Tab and the arrow keys walk into the page's controls.
    SetWindowLongPtrA(tab_, GWL_EXSTYLE, GetWindowLongPtrA(tab_, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
    RECT client;
    GetClientRect(tab_, &client);
    if (!IsRectEmpty(&client)) {
        const RECT place = PageRect();
        SetWindowPos(page, nullptr, place.left, place.top, place.right - place.left, place.bottom - place.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    tabs_.back().focus = OnPageAdded(index, pageId) ? GetWindow(page, GW_CHILD) : GetFocus();
    if (index == 0) {
        SendMessageA(tab_, TCM_SETCURSEL, 0, 0);
        ShowWindow(page, SW_SHOW);
    }
    return index;
}

RECT CTabPageCtrl::PageRect() const {
    RECT client;
    GetClientRect(tab_, &client);
    const int rows = static_cast<int>(SendMessageA(tab_, TCM_GETROWCOUNT, 0, 0));
    RECT item{};
    SendMessageA(tab_, TCM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&item));
    const int itemWidth = item.right - item.left;
    const int itemHeight = item.bottom - item.top;
    const LONG style = GetWindowLongA(tab_, GWL_STYLE);
    const int w = client.right - client.left;
    const int h = client.bottom - client.top;
    RECT place;
    if (style & TCS_VERTICAL) {
        place.left = (style & TCS_RIGHT) ? 4 : rows * itemWidth + 4;
        place.top = 4;
        place.right = place.left + (w - rows * itemWidth - 8);
        place.bottom = place.top + (h - 8);
    } else {
        place.left = 4;
        place.top = (style & TCS_BOTTOM) ? 4 : rows * itemHeight + 4;
        place.right = place.left + (w - 8);
        place.bottom = place.top + (h - rows * itemHeight - 8);
    }
    return place;
}

void CTabPageCtrl::PlaceCurrentPage() {
    const int current = GetCurSel();
    if (!Valid(current)) return;
    const RECT place = PageRect();
    SetWindowPos(tabs_[static_cast<size_t>(current)].page, nullptr, place.left, place.top, place.right - place.left,
                 place.bottom - place.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

int CTabPageCtrl::GetCurSel() const { return static_cast<int>(SendMessageA(tab_, TCM_GETCURSEL, 0, 0)); }

void CTabPageCtrl::Leave(int index) {
    if (!Valid(index)) return;
    Tab& tab = tabs_[static_cast<size_t>(index)];
    const HWND focus = GetFocus();
    if (focus != nullptr && IsChild(tab.page, focus)) tab.focus = focus;
    ShowWindow(tab.page, SW_HIDE);
}

void CTabPageCtrl::Enter(int index) {
    if (!Valid(index)) return;
    Tab& tab = tabs_[static_cast<size_t>(index)];
    PlaceCurrentPage();
    ShowWindow(tab.page, SW_SHOW);
    if (tab.focus != nullptr && IsWindow(tab.focus)) SetFocus(tab.focus);
}

void CTabPageCtrl::OnNotify(const NMHDR& header) {
    if (header.code == TCN_SELCHANGING) {
        const int current = GetCurSel();
        if (Valid(current)) {
            OnPageDeactivated(current, tabs_[static_cast<size_t>(current)].pageId);
            Leave(current);
        }
    } else if (header.code == TCN_SELCHANGE) {
        const int current = GetCurSel();
        Enter(current);
        if (Valid(current)) OnPageActivated(current, tabs_[static_cast<size_t>(current)].pageId);
    }
}

int CTabPageCtrl::ActivatePage(int index) {
    if (!Valid(index)) return 0;
    const int current = GetCurSel();
    if (current == index) return 1;
    Leave(current);
    SendMessageA(tab_, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
    Enter(index);
    return 1;
}

int CTabPageCtrl::RemovePage(int index) {
    if (!Valid(index)) return 0;
    OnPageRemoved(index, tabs_[static_cast<size_t>(index)].pageId);
    if (index == GetCurSel() && GetPageCount() >= 2) ActivatePage(index == GetPageCount() - 1 ? index - 1 : index + 1);
    SendMessageA(tab_, TCM_DELETEITEM, static_cast<WPARAM>(index), 0);
    Tab tab = std::move(tabs_[static_cast<size_t>(index)]);
    tabs_.erase(tabs_.begin() + index);
    if (tab.owned) {
        tab.owned.reset();  // destroys its window
    } else {
        DestroyWindow(tab.page);
    }
    InvalidateRect(tab_, nullptr, TRUE);
    return 1;
}

void CTabPageCtrl::RemoveAllPages() {
    for (int index = GetPageCount() - 1; index >= 0; --index) {
        OnPageRemoved(index, tabs_[static_cast<size_t>(index)].pageId);
        if (tab_ != nullptr && IsWindow(tab_)) SendMessageA(tab_, TCM_DELETEITEM, static_cast<WPARAM>(index), 0);
        Tab tab = std::move(tabs_[static_cast<size_t>(index)]);
        tabs_.pop_back();
        if (!tab.owned && IsWindow(tab.page)) DestroyWindow(tab.page);
    }
}

bool CTabPageCtrl::GetPageLabel(int index, std::string* label) const {
    if (!Valid(index)) return false;
    char text[1025] = {};
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = 1024;
    if (!SendMessageA(tab_, TCM_GETITEMA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item))) return false;
    *label = text;
    return true;
}

bool CTabPageCtrl::SetPageLabel(int index, const std::string& label) {
    if (!Valid(index)) return false;
    std::string text = label;
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = text.data();
    return SendMessageA(tab_, TCM_SETITEMA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item)) != 0;
}

int CTabPageCtrl::GetPageId(int index) const { return Valid(index) ? tabs_[static_cast<size_t>(index)].pageId : -1; }

int CTabPageCtrl::SetPageId(int index, int pageId) {
    if (!Valid(index)) return -1;
    const int previous = tabs_[static_cast<size_t>(index)].pageId;
    tabs_[static_cast<size_t>(index)].pageId = pageId;
    return previous;
}

HWND CTabPageCtrl::GetPage(int index) const { return Valid(index) ? tabs_[static_cast<size_t>(index)].page : nullptr; }

int CTabPageCtrl::GetPageIndex(int pageId) const {
    for (int i = 0; i < GetPageCount(); ++i)
        if (tabs_[static_cast<size_t>(i)].pageId == pageId) return i;
    return -1;
}

}  // namespace sealbench::win32
