#include "imagebuild/win32/page_build.h"

#include "imagebuild/combine.h"
#include "imagebuild/signing.h"
#include "imagebuild/win32/page_build_ids.h"

namespace sealbench::win32 {
namespace {

constexpr const char* kBinFilter = "bin files(*.bin)|*.bin|All Files(*.*)|*.*||";
constexpr const char* kTargetTitle = "Please select the Target output file:";

}  // namespace

CPage_Build::CPage_Build() : CPageDialog(IDD_PAGE_BUILD) {}

bool CPage_Build::OnInitDialog() {
    EnableItem(hwnd(), IDC_BUILD_PROFILE, false);
    WritePreset();
    for (int field : {IDC_BUILD_OS_ADDRESS, IDC_BUILD_CSF_ADDRESS, IDC_BUILD_HWC_ADDRESS})
        EnableItem(hwnd(), field, false);
    return true;
}

void CPage_Build::WritePreset() {
    const CombineAddresses preset = AddressPreset(IsChecked(hwnd(), IDC_BUILD_VIREOA));
    SetItemText(hwnd(), IDC_BUILD_OS_ADDRESS, preset.image);
    SetItemText(hwnd(), IDC_BUILD_CSF_ADDRESS, preset.csf);
    SetItemText(hwnd(), IDC_BUILD_HWC_ADDRESS, preset.hwc);
}

void CPage_Build::Browse(int field, const char* title, const char* filter, bool mayCreate) {
    const std::string path = choosers_.one(hwnd(), title, filter, {}, mayCreate);
    if (!path.empty()) SetItemText(hwnd(), field, path);
}

void CPage_Build::OnEnableProfile() {
    EnableItem(hwnd(), IDC_BUILD_PROFILE, IsChecked(hwnd(), IDC_BUILD_ENABLE_PROFILE));
}

void CPage_Build::OnAddToProfile() {
    if (!IsChecked(hwnd(), IDC_BUILD_ENABLE_PROFILE)) {
        ShowMessage(hwnd(), std::string(kMsgEnableProfileFirst));
        return;
    }
    // The list is sorted: the platform puts the entry in its place. The field keeps its text.
    const std::string entry = ItemText(hwnd(), IDC_BUILD_IDENTIFIER);
    SendDlgItemMessageA(hwnd(), IDC_BUILD_PROFILE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
}

void CPage_Build::OnSign() {
    const HWND profile = GetDlgItem(hwnd(), IDC_BUILD_PROFILE);
    const LRESULT selected = SendMessageA(profile, CB_GETCURSEL, 0, 0);
    std::optional<std::string> entry;
    if (selected != CB_ERR) {
        std::string text(static_cast<size_t>(SendMessageA(profile, CB_GETLBTEXTLEN, selected, 0)) + 1, '\0');
        SendMessageA(profile, CB_GETLBTEXT, selected, reinterpret_cast<LPARAM>(text.data()));
        entry = text.c_str();
    }
    const std::optional<std::string> identifier =
        SignIdentifier(IsChecked(hwnd(), IDC_BUILD_ENABLE_PROFILE), entry, ItemText(hwnd(), IDC_BUILD_IDENTIFIER));
    if (!identifier) {
        ShowMessage(hwnd(), std::string(kMsgSelectProfileEntry));
        return;
    }
    SignRequest request;
    request.identifier = *identifier;
    request.csfPath = ItemText(hwnd(), IDC_BUILD_CSF);
    request.outputPath = ItemText(hwnd(), IDC_BUILD_OUTPUT);
    // The page does not respond until the tool has ended, as it waits for it.
    const SignResult result = RunSigningTool(request);
    ShowMessage(hwnd(), SignReport(request, result));
}

void CPage_Build::OnVireoASetting() { WritePreset(); }

void CPage_Build::OnCombine() {
    CombineRequest request;
    request.target = ItemText(hwnd(), IDC_BUILD_TARGET);
    request.osPath = ItemText(hwnd(), IDC_BUILD_OS);
    request.csfPath = ItemText(hwnd(), IDC_BUILD_SIGNED);
    request.hwcPath = ItemText(hwnd(), IDC_BUILD_HWC);
    request.addresses = {ItemText(hwnd(), IDC_BUILD_OS_ADDRESS), ItemText(hwnd(), IDC_BUILD_CSF_ADDRESS),
                         ItemText(hwnd(), IDC_BUILD_HWC_ADDRESS)};
    const CombineReport report = ReportOfCombine(RunCombine(request));
    ShowMessage(hwnd(), report.text, MB_OK | MB_ICONINFORMATION,
                report.caption.empty() ? kApplicationTitle : report.caption.c_str());
}

bool CPage_Build::OnCommand(int id, int code, HWND control) {
    if (code != BN_CLICKED) return CPageDialog::OnCommand(id, code, control);
    switch (id) {
        case IDC_BUILD_ENABLE_PROFILE:
            OnEnableProfile();
            return true;
        case IDC_BUILD_ADD_PROFILE:
            OnAddToProfile();
            return true;
        case IDC_BUILD_SIGN:
            OnSign();
            return true;
        case IDC_BUILD_VIREOA:
            OnVireoASetting();
            return true;
        case IDC_BUILD_COMBINE:
            OnCombine();
            return true;
        case IDC_BUILD_CSF_BROWSE:
            Browse(IDC_BUILD_CSF, "Please select the CSF file:", "csf files(*.csf)|*.csf|All Files(*.*)|*.*||", false);
            return true;
        case IDC_BUILD_OUTPUT_BROWSE:
            Browse(IDC_BUILD_OUTPUT, kTargetTitle, kBinFilter, true);
            return true;
        case IDC_BUILD_OS_BROWSE:
            Browse(IDC_BUILD_OS, "Please select the OS image file:", kBinFilter, false);
            return true;
        case IDC_BUILD_SIGNED_BROWSE:
            Browse(IDC_BUILD_SIGNED, "Please select the signed CSF file:", kBinFilter, false);
            return true;
        case IDC_BUILD_HWC_BROWSE:
            Browse(IDC_BUILD_HWC, "Please select the HWC file:", kBinFilter, false);
            return true;
        case IDC_BUILD_TARGET_BROWSE:
            Browse(IDC_BUILD_TARGET, kTargetTitle, kBinFilter, true);
            return true;
        default:
            return CPageDialog::OnCommand(id, code, control);
    }
}

}  // namespace sealbench::win32
