// CTabPageCtrl (Win32): the tab host of the main window, over a SysTabControl32.
// For each tab it keeps the page window, whether it owns the page, the caller's
// page id and the control that had the focus when the page was last left; it places
// the shown page 4 pixels inside the tab control's client area, clear of the tabs.
// The tab control hands the keyboard focus it gets to the shown page's remembered
// control, and remembers the control of the page that takes it.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "ui/win32/page_dialog.h"

namespace sealbench::win32 {

class CTabPageCtrl {
public:
    CTabPageCtrl() = default;
    virtual ~CTabPageCtrl();
    CTabPageCtrl(const CTabPageCtrl&) = delete;
    CTabPageCtrl& operator=(const CTabPageCtrl&) = delete;

    void Attach(HWND tab);
    HWND hwnd() const { return tab_; }

    // Adds a tab for a page window the caller keeps. Returns the tab's index, or -1.
    int AddPage(const std::string& label, int pageId, HWND page);
    // Creates the page's window from its template and adds it, owned; -1 when the
    // page cannot be created.
    int AddPage(const std::string& label, int pageId, std::unique_ptr<CPageDialog> page);
    // 1, or 0 for an index beyond the last tab.
    int RemovePage(int index);
    void RemoveAllPages();
    int GetPageCount() const { return static_cast<int>(tabs_.size()); }
    bool GetPageLabel(int index, std::string* label) const;
    bool SetPageLabel(int index, const std::string& label);
    int GetPageId(int index) const;
    int SetPageId(int index, int pageId);  // the previous id; -1 for a bad index
    HWND GetPage(int index) const;
    int GetPageIndex(int pageId) const;
    int GetCurSel() const;
    // 1 when the page is now shown, 0 for a bad index. The hooks are not called.
    int ActivatePage(int index);

    // The tab control's notifications, as its parent receives them.
    void OnNotify(const NMHDR& header);
    // Places the shown page again (after the tab control was resized).
    void PlaceCurrentPage();
    // The page's rectangle in the tab control's client area.
    RECT PageRect() const;

protected:
    // Hooks with the tab's index and page id. OnPageAdded says whether the focus
    // starts on the page's first control (else on the window that has it now).
    virtual bool OnPageAdded(int, int) { return true; }
    virtual void OnPageActivated(int, int) {}
    virtual void OnPageDeactivated(int, int) {}
    virtual void OnPageRemoved(int, int) {}

private:
    struct Tab {
        HWND page = nullptr;
        std::unique_ptr<CPageDialog> owned;
        int pageId = 0;
        HWND focus = nullptr;
    };

    int Insert(const std::string& label, int pageId, HWND page, std::unique_ptr<CPageDialog> owned);
    static LRESULT CALLBACK TabProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                    DWORD_PTR data);
    void OnFocus();
    void Leave(int index);
    void Enter(int index);
    bool Valid(int index) const { return index >= 0 && index < GetPageCount(); }

    HWND tab_ = nullptr;
    std::vector<Tab> tabs_;
};

}  // namespace sealbench::win32
