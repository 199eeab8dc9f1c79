// CPage_HWC (Win32): the HWC page over the HWC core: a grid of address and data
// records, "Add Record", "Remove", "Remove All" and "Export" to an HWC file.
#pragma once

#include "grid/win32/grid_ctrl.h"
#include "ui/win32/page_dialog.h"

namespace sealbench::win32 {

class CPage_HWC : public CPageDialog {
public:
    CPage_HWC();
    CGridCtrl& Grid() { return grid_; }

protected:
    bool OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;

private:
    void OnAddRecord();
    void OnRemove();
    void OnRemoveAll();
    void OnExportHwc();

    CGridCtrl grid_;
    int recordCount_ = 0;
};

}  // namespace sealbench::win32
