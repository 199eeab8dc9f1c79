// CPage_Build (Win32): the build page over the signing and combine core. Its sign
// group runs the signing tool on a CSF text file, with an identifier typed or picked
// from a profile kept for this run; its combine group joins HWC, signed CSF and image
// into one combined file.
#pragma once

#include "ui/win32/page_dialog.h"
#include "ui/win32/win32_ui.h"

namespace sealbench::win32 {

class CPage_Build : public CPageDialog {
public:
    CPage_Build();

    // The open-file dialogs the "Browse" buttons ask (tests answer them).
    void SetFileChoosers(FileChoosers choosers) { choosers_ = std::move(choosers); }

    void OnEnableProfile();
    void OnAddToProfile();
    void OnSign();
    void OnVireoASetting();
    void OnCombine();

protected:
    bool OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;

private:
    void Browse(int field, const char* title, const char* filter, bool mayCreate);
    void WritePreset();

    FileChoosers choosers_;
};

}  // namespace sealbench::win32
