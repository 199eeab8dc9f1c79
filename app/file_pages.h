// The pages the window keeps without a tab (build, CSF, HWC, conversion), as
// `sealbench --all-pages` shows them.
#pragma once

#include <vector>

#include "app/sealbench_dlg.h"

std::vector<CSealbenchDlg::ExtraPage> FilePages();
