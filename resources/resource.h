// Resource ids of setup.exe: dialog templates, string, icon, bitmap and the
// control ids the setup's windows reach their controls by.
#pragma once

#define IDD_ABOUTBOX        100
#define IDS_ABOUTBOX        101
#define IDD_SETUP_MAIN      102
#define IDI_SETUP           128
#define IDB_WELCOME         129
#define IDD_WIZARD          130
#define IDD_WIZSTEP20       134
#define IDD_WIZSTEP30       135
#define IDD_WIZSTEP10       136
#define IDD_WIZSTEP40       137

#define IDC_WIZ_BACK        1000
#define IDC_WIZ_NEXT        1001
#define IDC_ABOUT_TITLE     1001
#define IDC_LICENSE_TEXT    1002
#define IDC_DEST_DIR        1003
#define IDC_DEST_BROWSE     1004
#define IDC_PROGRESS        1006
#define IDC_MAJOR_STATUS    1009
#define IDC_MINOR_STATUS    1010
#define IDC_LICENSE_ACCEPT  1016
#define IDC_ABOUT_VERSION   1045

#define IDM_ABOUTBOX        0x0010

// The rectangle the welcome page's template gives its picture, in dialog
// units: the picture may grow with the screen's display scale as far as that.
#define WELCOME_PICTURE_CX  296
#define WELCOME_PICTURE_CY  105
