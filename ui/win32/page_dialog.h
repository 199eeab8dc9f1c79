// CPageDialog: the base of every Win32 page and of the window's own dialogs. It is a
// dialog made from a template of the program's resources; the object lives behind
// the window's user data, and the messages reach the virtual handlers below.
//
// A page's OK and Cancel do nothing, so Enter and Esc pressed inside a page leave it
// open; a dialog that does close on them (the about box) says so.
#pragma once

#include <windows.h>

namespace sealbench::win32 {

class CPageDialog {
public:
    explicit CPageDialog(int templateId) : templateId_(templateId) {}
    virtual ~CPageDialog();
    CPageDialog(const CPageDialog&) = delete;
    CPageDialog& operator=(const CPageDialog&) = delete;

    // Creates the page's window as a child of `parent` (not shown); nullptr on failure.
    HWND Create(HWND parent);
    // Runs the dialog modally; the result of EndDialog.
    INT_PTR RunModal(HWND owner);
    HWND hwnd() const { return hwnd_; }
    int TemplateId() const { return templateId_; }
    // Ends the dialog: EndDialog when it runs modally, else its window goes.
    void EndPage(INT_PTR result);

protected:
    virtual bool OnInitDialog() { return true; }
    // A command of a control (id, notification code); true when handled.
    virtual bool OnCommand(int id, int code, HWND control);
    // Any other message; return true and set *result when handled.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result);
    // Whether OK and Cancel end the dialog (modal dialogs) or do nothing (pages).
    virtual bool ClosesOnOkCancel() const { return false; }

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    int templateId_;
    HWND hwnd_ = nullptr;
    bool modal_ = false;
};

}  // namespace sealbench::win32
