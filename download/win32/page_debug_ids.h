// Resource ids of the Win32 "Download" page: its template and its controls. The ids
// of the memory-init, status-log and hidden debug controls are the page's own.
#pragma once

#define IDD_PAGE_DEBUG 200

#define IDC_DOWNLOAD_ONLY 1001
#define IDC_FLASHING 1002
#define IDC_DDR 1003
#define IDC_FLASH_TYPE 1004
#define IDC_FLASH_LIB 1005
#define IDC_FLASH_LIB_BROWSE 1006
#define IDC_SDRAM 1007
#define IDC_SECURE 1008
#define IDC_DEFAULT_BOX 1009
#define IDC_ADDRESS_LABEL 1010
#define IDC_ADDRESS 1011
#define IDC_PARTITION 1012
#define IDC_IMAGE 1013
#define IDC_IMAGE_BROWSE 1014
#define IDC_PROGRESS_LABEL 1015
#define IDC_PROGRESS 1016
#define IDC_PROGRESS_TEXT 1017
#define IDC_STATUS_LOG 1020
#define IDC_EXECUTE 1021
#define IDC_READ_ADDRESS 1038
#define IDC_MEM_INIT_BROWSE 1039
#define IDC_MEM_INIT_FILE 1049
#define IDC_SEKUREL 1067
#define IDC_READ 1068
#define IDC_MEM_INIT 1069
#define IDC_DEBUG_FRAME 1070
#define IDC_READ_LABEL 1071
