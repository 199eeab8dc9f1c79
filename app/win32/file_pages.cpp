#include "app/win32/file_pages.h"

namespace sealbench::win32 {

std::vector<CSealbenchDlg::ExtraPage> FilePages() { return {}; }

}  // namespace sealbench::win32
