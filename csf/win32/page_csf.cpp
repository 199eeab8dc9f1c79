#include "csf/win32/page_csf.h"

#include "csf/win32/page_csf_add_block.h"
#include "csf/win32/page_csf_ids.h"

namespace sealbench::win32 {
namespace {

constexpr const char* kCrtFilter = "crt files(*.crt)|*.crt|All Files(*.*)|*.*||";
// The key chooser's buffer for the selected names, in characters.
constexpr size_t kKeyNamesBuffer = 6000;

// What both grids share: 16-pixel rows and the header texts in row 0.
void SetUpGrid(CGridCtrl& grid, std::initializer_list<const char*> headers, bool editable) {
    grid.SetDefCellHeight(16);
    for (size_t i = 0; i < headers.size(); ++i) grid.InsertColumn("");
    grid.InsertRow("");
    int column = 0;
    for (const char* header : headers) grid.SetItemText(0, column++, header);
    grid.SetEditable(editable);
}

}  // namespace

CPage_CSF::CPage_CSF() : CPageDialog(IDD_PAGE_CSF) {
    RegisterGridClass();
    runAddBlock_ = [this](HWND owner) -> std::optional<BlockChoice> {
        Page_CSF_AddBlock dialog(choosers_);
        if (dialog.RunModal(owner) != IDOK) return std::nullopt;
        return BlockChoice{dialog.Path(), dialog.Count()};
    };
}

bool CPage_CSF::OnInitDialog() {
    EnableItem(hwnd(), IDC_CSF_UID, false);
    SetItemText(hwnd(), IDC_CSF_UID, std::string(kCsfGenericUid));
    for (std::string_view type : {kCsfTypeEngineering, kCsfTypeProduct})
        SendDlgItemMessageA(hwnd(), IDC_CSF_TYPE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(std::string(type).c_str()));
    SendDlgItemMessageA(hwnd(), IDC_CSF_TYPE, CB_SETCURSEL, 0, 0);
    SetItemText(hwnd(), IDC_CSF_CODE, std::string(kCsfEmptyCode));
    SetItemText(hwnd(), IDC_CSF_SUPER_ROOT, "");
    SetItemText(hwnd(), IDC_CSF_CSF_KEY, "");
    keyCount_ = keySerial_ = blockCount_ = blockSerial_ = 0;

    keyGrid_.Attach(GetDlgItem(hwnd(), IDC_CSF_KEY_GRID));
    SetUpGrid(keyGrid_, {"#", "Key", "Full path"}, false);
    keyGrid_.SetColumnWidth(0, 20);
    keyGrid_.SetColumnWidth(1, 120);
    keyGrid_.ExpandLastColumn();

    blockGrid_.Attach(GetDlgItem(hwnd(), IDC_CSF_BLOCK_GRID));
    SetUpGrid(blockGrid_, {"Block", "File Name", "Starting Address", "Bytes to sign", "Key"}, true);
    const int widths[] = {35, 80, 85, 85};
    for (int column = 0; column < 5; ++column) {
        blockGrid_.SetItemState(0, column, kGridCellReadOnly);
        if (column < 4) blockGrid_.SetColumnWidth(column, widths[column]);
    }
    blockGrid_.ExpandLastColumn();
    return true;
}

void CPage_CSF::OnUserDefine() {
    const bool user = IsChecked(hwnd(), IDC_CSF_USER_DEFINE);
    EnableItem(hwnd(), IDC_CSF_UID, user);
    SetItemText(hwnd(), IDC_CSF_UID, std::string(UidFieldText(user)));
}

void CPage_CSF::Browse(int field, const char* title, const char* filter) {
    const std::string path = choosers_.one(hwnd(), title, filter, {}, false);
    if (!path.empty()) SetItemText(hwnd(), field, path);
}

void CPage_CSF::OnAddKeys() {
    const std::vector<std::string> paths = choosers_.several(
        hwnd(), "Please select the CSF Key file (Allow Multiselection):", kCrtFilter, kKeyNamesBuffer);
    if (paths.empty()) return;
    for (const std::string& path : paths) {
        ++keyCount_;
        ++keySerial_;
        if (keyGrid_.GetRowCount() - 1 < keyCount_) keyGrid_.InsertRow("");
        keyGrid_.SetItemText(keyCount_, 0, std::to_string(keySerial_));
        keyGrid_.SetItemText(keyCount_, 1, FileNameOfPath(path));
        keyGrid_.SetItemText(keyCount_, 2, path);
    }
    keyGrid_.SetColumnWidth(2, 20);
    keyGrid_.ExpandLastColumn();
    keyGrid_.Refresh();
    RefreshKeyChoices();
}

void CPage_CSF::OnRemoveKey() {
    keyCount_ = RemoveSelectedRow(keyGrid_, keyCount_);
    RefreshKeyChoices();
}

void CPage_CSF::OnRemoveAllKeys() {
    RemoveAllRows(keyGrid_, keyCount_);
    keyCount_ = 0;
    RefreshKeyChoices();
}

void CPage_CSF::OnAddBlock() {
    if (std::optional<BlockChoice> choice = runAddBlock_(hwnd()))
        AddBlockRows(choice->path, std::atoi(choice->count.c_str()));
    RefreshKeyChoices();
}

void CPage_CSF::AddBlockRows(const std::string& path, int count) {
    const std::string name = FileNameOfPath(path);
    const int first = blockCount_;
    for (int i = 0; i < count; ++i) {
        ++blockCount_;
        ++blockSerial_;
        const int row = first + i + 1;
        if (blockGrid_.GetRowCount() - 1 < blockCount_) {
            blockGrid_.InsertRow("");
            blockGrid_.SetItemState(row, 0, kGridCellReadOnly);
            blockGrid_.SetItemState(row, 1, kGridCellReadOnly);
            blockGrid_.SetComboCell(row, 4, {}, true);
        }
        blockGrid_.SetItemText(row, 0, std::to_string(blockSerial_));
        blockGrid_.SetItemText(row, 1, name);
        blockGrid_.SetItemText(row, 2, "0x");
        blockGrid_.SetItemText(row, 3, "0x");
    }
    blockGrid_.Refresh();
}

void CPage_CSF::RefreshKeyChoices() {
    std::vector<std::string> names;
    for (int row = 1; row <= keyCount_; ++row) names.push_back(keyGrid_.GetItemText(row, 1));
    // The cells keep their texts, also a name no key has any more.
    for (int row = 1; row <= blockCount_; ++row) blockGrid_.SetComboCell(row, 4, names, true);
    blockGrid_.Refresh();
}

void CPage_CSF::OnRemoveBlock() {
    blockCount_ = RemoveSelectedRow(blockGrid_, blockCount_);
    RefreshKeyChoices();
}

void CPage_CSF::OnRemoveAllBlocks() {
    RemoveAllRows(blockGrid_, blockCount_);
    blockCount_ = 0;
    RefreshKeyChoices();
}

CsfDocument CPage_CSF::Document() const {
    CsfDocument document;
    document.type = ItemText(hwnd(), IDC_CSF_TYPE);
    document.uid = ItemText(hwnd(), IDC_CSF_UID);
    document.code = ItemText(hwnd(), IDC_CSF_CODE);
    document.superRootPath = ItemText(hwnd(), IDC_CSF_SUPER_ROOT);
    document.csfKeyPath = ItemText(hwnd(), IDC_CSF_CSF_KEY);
    for (int row = 1; row <= keyCount_; ++row) document.keyNames.push_back(keyGrid_.GetItemText(row, 1));
    for (int row = 1; row <= blockCount_; ++row) {
        document.blocks.push_back({blockGrid_.GetItemText(row, 1), blockGrid_.GetItemText(row, 2),
                                   blockGrid_.GetItemText(row, 3), blockGrid_.GetItemText(row, 4)});
    }
    return document;
}

void CPage_CSF::OnSaveCsf() {
    const CsfDocument document = Document();
    if (std::optional<std::string> refusal = ValidateCsf(document)) {
        ShowMessage(hwnd(), *refusal);
        return;
    }
    const std::string path =
        choosers_.one(hwnd(), "Please select the Working Directory:", "csf files(*.csf)|*.csf|All Files(*.*)|*.*||",
                      "sample.csf", true);
    if (path.empty()) return;
    const Outcome saved = SaveCsf(path, document);
    ShowMessage(hwnd(), saved.Ok() ? std::string(kMsgCsfSaved) : saved.message);
}

bool CPage_CSF::OnCommand(int id, int code, HWND control) {
    if (code != BN_CLICKED) return CPageDialog::OnCommand(id, code, control);
    switch (id) {
        case IDC_CSF_USER_DEFINE:
            OnUserDefine();
            return true;
        case IDC_CSF_SUPER_ROOT_BROWSE:
            Browse(IDC_CSF_SUPER_ROOT,
                   "Please select the Super Root file:", "der files(*.der)|*.der|All Files(*.*)|*.*||");
            return true;
        case IDC_CSF_CSF_KEY_BROWSE:
            Browse(IDC_CSF_CSF_KEY, "Please select the CSF Key file:", kCrtFilter);
            return true;
        case IDC_CSF_ADD_KEYS:
            OnAddKeys();
            return true;
        case IDC_CSF_REMOVE_KEY:
            OnRemoveKey();
            return true;
        case IDC_CSF_REMOVE_ALL_KEYS:
            OnRemoveAllKeys();
            return true;
        case IDC_CSF_ADD_BLOCK:
            OnAddBlock();
            return true;
        case IDC_CSF_REMOVE_BLOCK:
            OnRemoveBlock();
            return true;
        case IDC_CSF_REMOVE_ALL_BLOCKS:
            OnRemoveAllBlocks();
            return true;
        case IDC_CSF_EXECUTE:
            OnSaveCsf();
            return true;
        default:
            return CPageDialog::OnCommand(id, code, control);
    }
}

}  // namespace sealbench::win32
