#include "csf/win32/page_csf_add_block.h"

#include "csf/csf_document.h"
#include "csf/win32/page_csf_ids.h"

namespace sealbench::win32 {

Page_CSF_AddBlock::Page_CSF_AddBlock(FileChoosers choosers)
    : CPageDialog(IDD_CSF_ADD_BLOCK), choosers_(std::move(choosers)) {}

bool Page_CSF_AddBlock::OnInitDialog() {
    const HWND count = GetDlgItem(hwnd(), IDC_ADD_BLOCK_COUNT);
    for (const char* entry : {"1", "2", "3", "4", "5", "6", "7", "8", "9"})
        SendMessageA(count, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry));
    SendMessageA(count, CB_SETCURSEL, 0, 0);
    return true;
}

void Page_CSF_AddBlock::OnAdd() {
    const std::optional<std::string> path = AddBlockPath(ItemText(hwnd(), IDC_ADD_BLOCK_PATH));
    if (!path) {
        ShowMessage(hwnd(), std::string(kMsgCsfSelectFile));
        return;
    }
    path_ = *path;
    count_ = ItemText(hwnd(), IDC_ADD_BLOCK_COUNT);
    EndPage(IDOK);
}

bool Page_CSF_AddBlock::OnCommand(int id, int code, HWND control) {
    if (id == IDOK) {
        OnAdd();
        return true;
    }
    if (id == IDC_ADD_BLOCK_BROWSE && code == BN_CLICKED) {
        const std::string path = choosers_.one(
            hwnd(), "Please select the file:", "bin files(*.bin)|*.bin|s19 files(*.s19)|*.s19|All Files(*.*)|*.*||", {},
            false);
        if (!path.empty()) SetItemText(hwnd(), IDC_ADD_BLOCK_PATH, path);
        return true;
    }
    return CPageDialog::OnCommand(id, code, control);
}

}  // namespace sealbench::win32
