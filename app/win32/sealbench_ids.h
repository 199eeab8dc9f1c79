// Resource ids of the Win32 window: the main dialog, its menu, the about box, the
// two placeholder dialogs, the "Boards" page and its log window.
#pragma once

#define IDR_MAINFRAME 128
#define IDS_ABOUTBOX 101
#define IDM_ABOUTBOX 0x0010

#define IDD_ABOUTBOX 100
#define IDD_SEALBENCH_DIALOG 102
#define IDD_IMAGE_COMBINE 103
#define IDD_DEBUG 104
#define IDD_BOARDS_PAGE 105
#define IDD_BOARD_LOG 106
#define IDR_WINDOW_MENU 110

#define IDC_PORT_LIST 1000
#define IDC_USB 1001
#define IDC_TYPE_LIST 1002
#define IDC_TAB_HOST 1003
#define IDC_PORT_LABEL 1004
#define IDC_TYPE_LABEL 1005

#define IDM_MINIMIZE 40001
#define IDM_MAXIMIZE 40002
#define IDM_CLOSE 40003
#define IDM_BOARDS 40004
#define IDM_FAST_FLASHING 40005
#define IDM_ABOUT 40006
#define IDM_VERIFY 40007
#define IDM_ERASE 40008
#define IDM_FLASH_LAYOUT 40009
// The "Fast serial flashing rate" items, one a rate in the order of bootwire::kStreamRates.
#define IDM_FAST_RATE 40100
// The "Flash library status timeout" items, one a choice in the order of kStatusTimeoutChoices.
#define IDM_STATUS_TIMEOUT 40200

#define IDC_BOARD_CANDIDATES 1100
#define IDC_BOARD_REFRESH 1101
#define IDC_BOARD_STOP 1102
#define IDC_BOARD_FLASH_ALL 1103
#define IDC_BOARD_MESSAGE 1104
#define IDC_BOARD_TABLE 1105
#define IDC_BOARD_LOG_TEXT 1106
#define IDC_BOARD_IDENTITY 1107
#define IDC_BOARD_STATION 1108
