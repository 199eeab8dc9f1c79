#include "convert/win32/page_convert.h"

#include "convert/win32/page_convert_ids.h"
#include "ui/win32/win32_ui.h"

namespace sealbench::win32 {
namespace {

constexpr const char* kDefault = "DEFAULT";
constexpr int kOptionFields[] = {IDC_CONVERT_BEGIN, IDC_CONVERT_OFFSET, IDC_CONVERT_LINE_LENGTH, IDC_CONVERT_END,
                                 IDC_CONVERT_ADDRESS_SIZE};

}  // namespace

CPage_Convert::CPage_Convert() : CPageDialog(IDD_PAGE_CONVERT) {}

bool CPage_Convert::OnInitDialog() {
    for (int field : kOptionFields) SetItemText(hwnd(), field, kDefault);
    SetChecked(hwnd(), IDC_CONVERT_SUPPRESS, false);
    SetChecked(hwnd(), IDC_CONVERT_USER_DEFINE, true);
    OnUserDefine();
    return true;
}

void CPage_Convert::OnUserDefine() {
    for (int field : kOptionFields) EnableItem(hwnd(), field, IsChecked(hwnd(), IDC_CONVERT_USER_DEFINE));
}

bool CPage_Convert::OnCommand(int id, int code, HWND control) {
    if (code != BN_CLICKED) return CPageDialog::OnCommand(id, code, control);
    switch (id) {
        case IDC_CONVERT_USER_DEFINE:
            OnUserDefine();
            return true;
        case IDC_CONVERT_BIN_BROWSE: {
            const std::string path = ChooseFile(
                hwnd(), "Please select the BIN file to convert:", "bin files(*.bin)|*.bin|All Files(*.*)|*.*||");
            if (!path.empty()) SetItemText(hwnd(), IDC_CONVERT_BIN, path);
            return true;
        }
        case IDC_CONVERT_TARGET_BROWSE: {
            const std::string path = ChooseFile(hwnd(), "Please select the s19 file to be saved:",
                                                "s19 files(*.s19)|*.s19|All Files(*.*)|*.*||", {}, true);
            if (!path.empty()) SetItemText(hwnd(), IDC_CONVERT_TARGET, path);
            return true;
        }
        case IDC_CONVERT_RUN:
            OnConvert();
            return true;
        default:
            return CPageDialog::OnCommand(id, code, control);
    }
}

void CPage_Convert::OnConvert() {
    SRecordRequest request;
    request.inputPath = ItemText(hwnd(), IDC_CONVERT_BIN);
    request.outputPath = ItemText(hwnd(), IDC_CONVERT_TARGET);
    auto hex = [this](int field) -> std::optional<uint32_t> {
        const std::string text = ItemText(hwnd(), field);
        if (text == kDefault) return std::nullopt;
        return HexTextToValue(text);
    };
    request.begin = hex(IDC_CONVERT_BEGIN);
    request.offset = hex(IDC_CONVERT_OFFSET);
    request.end = hex(IDC_CONVERT_END);
    // A number field that holds no number is refused before anything changes.
    const std::pair<int, std::optional<long long>*> numbers[] = {{IDC_CONVERT_LINE_LENGTH, &request.lineLength},
                                                                 {IDC_CONVERT_ADDRESS_SIZE, &request.addressSize}};
    for (const auto& [field, value] : numbers) {
        const std::string text = ItemText(hwnd(), field);
        if (text == kDefault) continue;
        *value = DecimalTextToValue(text);
        if (!*value) {
            ShowMessage(hwnd(), "Please enter a decimal number: " + text);
            return;
        }
    }
    request.suppressHeaderAndFooter = IsChecked(hwnd(), IDC_CONVERT_SUPPRESS);
    request.beforeWriting = [this](const std::string& path) { ShowMessage(hwnd(), path); };
    const auto converted = ConvertFile(options_, request, stderr);
    for (const std::string& message : converted.value.messages) ShowMessage(hwnd(), message);
}

}  // namespace sealbench::win32
