#include "app/win32/file_pages.h"

#include "convert/win32/page_convert.h"
#include "csf/win32/page_csf.h"
#include "hwc/win32/page_hwc.h"
#include "imagebuild/win32/page_build.h"

namespace sealbench::win32 {
namespace {

template <class Page>
CSealbenchDlg::ExtraPage PageOf(const char* label) {
    return {label, [] { return std::unique_ptr<CPageDialog>(std::make_unique<Page>()); }};
}

}  // namespace

std::vector<CSealbenchDlg::ExtraPage> FilePages() {
    return {PageOf<CPage_Build>("Build"), PageOf<CPage_CSF>("CSF"), PageOf<CPage_HWC>("HWC"),
            PageOf<CPage_Convert>("Convert")};
}

}  // namespace sealbench::win32
