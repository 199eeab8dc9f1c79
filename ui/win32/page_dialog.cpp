#include "ui/win32/page_dialog.h"

namespace sealbench::win32 {

CPageDialog::~CPageDialog() {
    if (hwnd_ != nullptr && !modal_) {
        SetWindowLongPtrA(hwnd_, DWLP_USER, 0);
        DestroyWindow(hwnd_);
    }
}

HWND CPageDialog::Create(HWND parent) {
    modal_ = false;
    return CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId_), parent, &DialogProc,
                              reinterpret_cast<LPARAM>(this));
}

INT_PTR CPageDialog::RunModal(HWND owner) {
    modal_ = true;
    const INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId_), owner, &DialogProc,
                                           reinterpret_cast<LPARAM>(this));
    hwnd_ = nullptr;
    return result;
}

void CPageDialog::EndPage(INT_PTR result) {
    if (hwnd_ == nullptr) return;
    if (modal_)
        EndDialog(hwnd_, result);
    else
        DestroyWindow(hwnd_);
}

bool CPageDialog::OnCommand(int id, int, HWND) {
    if (id == IDOK || id == IDCANCEL) {
        if (ClosesOnOkCancel()) EndPage(id);
        return true;
    }
    return false;
}

bool CPageDialog::OnMessage(UINT, WPARAM, LPARAM, INT_PTR*) { return false; }

INT_PTR CALLBACK CPageDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* page = reinterpret_cast<CPageDialog*>(lParam);
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        page->hwnd_ = window;
        return page->OnInitDialog() ? TRUE : FALSE;
    }
    auto* page = reinterpret_cast<CPageDialog*>(GetWindowLongPtrA(window, DWLP_USER));
    if (page == nullptr) return FALSE;
    if (message == WM_COMMAND) {
        return page->OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam)) ? TRUE : FALSE;
    }
    INT_PTR result = 0;
    if (page->OnMessage(message, wParam, lParam, &result)) {
        // Notifications answer through the dialog's result slot.
        if (message == WM_NOTIFY) SetWindowLongPtrA(window, DWLP_MSGRESULT, result);
        return message == WM_NOTIFY ? TRUE : result;
    }
    if (message == WM_NCDESTROY) page->hwnd_ = nullptr;
    return FALSE;
}

}  // namespace sealbench::win32
