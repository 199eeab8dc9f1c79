// CAboutDlg (Win32): the about box, "About Sealbench": the program icon, its two
// lines and "OK", which closes it (as Esc and the close box do).
#pragma once

#include "app/win32/sealbench_ids.h"
#include "ui/win32/page_dialog.h"

namespace sealbench::win32 {

class CAboutDlg : public CPageDialog {
public:
    CAboutDlg() : CPageDialog(IDD_ABOUTBOX) {}

protected:
    bool ClosesOnOkCancel() const override { return true; }
};

}  // namespace sealbench::win32
