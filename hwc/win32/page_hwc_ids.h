// Resource ids of the Win32 HWC page.
#pragma once

#define IDD_PAGE_HWC 400
#define IDC_HWC_GRID 1401
#define IDC_HWC_REMOVE 1402
#define IDC_HWC_REMOVE_ALL 1403
#define IDC_HWC_ADDRESS 1404
#define IDC_HWC_DATA 1405
#define IDC_HWC_ADD 1406
#define IDC_HWC_TARGET 1407
#define IDC_HWC_BROWSE 1408
#define IDC_HWC_EXPORT 1409
