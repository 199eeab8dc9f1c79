// The pages beside "Download" that the window constructs (and --all-pages shows):
// each comes from its folder's Win32 view.
#pragma once

#include <vector>

#include "app/win32/sealbench_dlg.h"

namespace sealbench::win32 {

std::vector<CSealbenchDlg::ExtraPage> FilePages();

}  // namespace sealbench::win32
