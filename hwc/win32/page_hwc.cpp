#include "hwc/win32/page_hwc.h"

#include "hwc/hwc_records.h"
#include "hwc/win32/page_hwc_ids.h"
#include "ui/win32/win32_ui.h"

namespace sealbench::win32 {

CPage_HWC::CPage_HWC() : CPageDialog(IDD_PAGE_HWC) { RegisterGridClass(); }

bool CPage_HWC::OnInitDialog() {
    recordCount_ = 0;
    grid_.Attach(GetDlgItem(hwnd(), IDC_HWC_GRID));
    grid_.SetDefCellHeight(16);
    grid_.InsertColumn("");
    grid_.InsertColumn("");
    grid_.InsertRow("");
    grid_.SetItemText(0, 0, "Address");
    grid_.SetItemText(0, 1, "Data");
    grid_.SetItemState(0, 0, kGridCellReadOnly);
    grid_.SetItemState(0, 1, kGridCellReadOnly);
    grid_.SetColumnWidth(0, 160);
    grid_.ExpandLastColumn();
    SetItemText(hwnd(), IDC_HWC_ADDRESS, "");
    SetItemText(hwnd(), IDC_HWC_DATA, "");
    return true;
}

bool CPage_HWC::OnCommand(int id, int code, HWND control) {
    if (code != BN_CLICKED) return CPageDialog::OnCommand(id, code, control);
    switch (id) {
        case IDC_HWC_ADD:
            OnAddRecord();
            return true;
        case IDC_HWC_REMOVE:
            OnRemove();
            return true;
        case IDC_HWC_REMOVE_ALL:
            OnRemoveAll();
            return true;
        case IDC_HWC_BROWSE: {
            const std::string path = ChooseFile(
                hwnd(), "Please select a file for HW Config:", "bin files(*.bin)|*.bin|All Files(*.*)|*.*||", {}, true);
            if (!path.empty()) SetItemText(hwnd(), IDC_HWC_TARGET, path);
            return true;
        }
        case IDC_HWC_EXPORT:
            OnExportHwc();
            return true;
        default:
            return CPageDialog::OnCommand(id, code, control);
    }
}

void CPage_HWC::OnAddRecord() {
    const HwcAddResult added = MakeHwcRecord(ItemText(hwnd(), IDC_HWC_ADDRESS), ItemText(hwnd(), IDC_HWC_DATA));
    if (!added.record) {
        ShowMessage(hwnd(), std::string(added.refusal));
        return;
    }
    ++recordCount_;
    grid_.InsertRow("");
    grid_.SetItemText(recordCount_, 0, added.record->address);
    grid_.SetItemText(recordCount_, 1, added.record->data);
    grid_.Refresh();
    SetItemText(hwnd(), IDC_HWC_ADDRESS, "");
    SetItemText(hwnd(), IDC_HWC_DATA, "");
}

void CPage_HWC::OnRemove() { recordCount_ = RemoveSelectedRow(grid_, recordCount_); }

void CPage_HWC::OnRemoveAll() {
    RemoveAllRows(grid_, recordCount_);
    recordCount_ = 0;
}

void CPage_HWC::OnExportHwc() {
    std::vector<HwcRecord> records;
    for (int row = 1; row <= recordCount_; ++row)
        records.push_back({grid_.GetItemText(row, 0), grid_.GetItemText(row, 1)});
    const auto exported = ExportHwc(ItemText(hwnd(), IDC_HWC_TARGET), records);
    for (const HwcRefusal& refusal : exported.value) ShowMessage(hwnd(), refusal.message);
    ShowMessage(hwnd(), exported.outcome.message);
}

}  // namespace sealbench::win32
