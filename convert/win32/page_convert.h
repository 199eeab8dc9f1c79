// CPage_Convert (Win32): the binary to S-record page over the converter core. The
// option record lives with the page, so a raised address width and a cleared
// header-and-footer flag stay for the next conversion.
#pragma once

#include "convert/srecord.h"
#include "ui/win32/page_dialog.h"

namespace sealbench::win32 {

class CPage_Convert : public CPageDialog {
public:
    CPage_Convert();

protected:
    bool OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;

private:
    void OnUserDefine();
    void OnConvert();

    SRecordOptions options_;
};

}  // namespace sealbench::win32
