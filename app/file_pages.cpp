#include "app/file_pages.h"

// Each page comes with its folder's Qt library; a build without one leaves its tab out.
#ifdef SEALBENCH_HAVE_BUILD_PAGE
#include "imagebuild/qt/page_build.h"
#endif
#ifdef SEALBENCH_HAVE_CSF_PAGE
#include "csf/qt/page_csf.h"
#endif
#ifdef SEALBENCH_HAVE_HWC_PAGE
#include "hwc/qt/page_hwc.h"
#endif
#ifdef SEALBENCH_HAVE_CONVERT_PAGE
#include "convert/qt/page_convert.h"
#endif

namespace {

template <class Page>
CSealbenchDlg::ExtraPage PageOf(const char* label) {
    return {QString::fromLatin1(label), [] { return std::unique_ptr<QWidget>(std::make_unique<Page>()); }};
}

}  // namespace

std::vector<CSealbenchDlg::ExtraPage> FilePages() {
    std::vector<CSealbenchDlg::ExtraPage> pages;
#ifdef SEALBENCH_HAVE_BUILD_PAGE
    pages.push_back(PageOf<CPage_Build>("Build"));
#endif
#ifdef SEALBENCH_HAVE_CSF_PAGE
    pages.push_back(PageOf<CPage_CSF>("CSF"));
#endif
#ifdef SEALBENCH_HAVE_HWC_PAGE
    pages.push_back(PageOf<CPage_HWC>("HWC"));
#endif
#ifdef SEALBENCH_HAVE_CONVERT_PAGE
    pages.push_back(PageOf<CPage_Convert>("Convert"));
#endif
    return pages;
}
