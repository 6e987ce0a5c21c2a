// Resource and control IDs of tremcvt_GUI, shared by the resource script and
// the dialog code. The dialog's control IDs are those that the operators'
// documentation and the tests name.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_LAUNCHER 102
#define IDD_STOP_QUESTION 103
#define IDR_MAINFRAME 128

// The system-menu command that opens the About box.
#define IDM_ABOUTBOX 0x0010

#define IDC_INTERVAL 1000
#define IDC_DATA_DIR 1001
#define IDC_CONVERT_INTERVAL 1005
#define IDC_PROGRESS 1006
#define IDC_START_DATE 1007
#define IDC_START_TIME 1008
#define IDC_EXIT 1009
#define IDC_CONVERT_FILES 1011
#define IDC_STATION 1014
#define IDC_BROWSE 1015
#define IDC_RESULTS 1019
#define IDC_SHOW_RESULTS 1020
#define IDC_OUTPUT_TRZ 1021
#define IDC_OUTPUT_CSS 1022

// The stop question's icon and text.
#define IDC_STOP_ICON 1100
#define IDC_STOP_TEXT 1101

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
