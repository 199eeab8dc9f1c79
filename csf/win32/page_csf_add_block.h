// Page_CSF_AddBlock (Win32): the modal "Add blocks" dialog of the CSF page. It names
// an image file and how many block rows to add for it; the file is never opened.
#pragma once

#include <string>

#include "ui/win32/page_dialog.h"
#include "ui/win32/win32_ui.h"

namespace sealbench::win32 {

class Page_CSF_AddBlock : public CPageDialog {
public:
    explicit Page_CSF_AddBlock(FileChoosers choosers = {});

    // What the dialog hands over after "Add".
    const std::string& Path() const { return path_; }
    const std::string& Count() const { return count_; }

protected:
    bool OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;
    bool ClosesOnOkCancel() const override { return true; }

private:
    void OnAdd();

    FileChoosers choosers_;
    std::string path_;
    std::string count_;
};

}  // namespace sealbench::win32
