// Resource and control IDs that both programs' templates share. Each program's resource.h includes
// this file and adds its own IDs, so one number means one control in both dialogs and in the
// dialog code they share. Only #define lines: the resource compiler reads this file too.
#ifndef TOL_DIALOG_IDS_H
#define TOL_DIALOG_IDS_H

// Resources
#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_PRINTER_DIALOG 102
#define IDR_MAINFRAME 128

// The system menu's About command
#define IDM_ABOUTBOX 0x0010

// Port strip, clock and closing
#define IDC_PORT 1000
#define IDC_BAUD 1001
#define IDC_TEST_CONNECT 1004
#define IDC_CLOSE 1005
#define IDC_DATE 1036
#define IDC_TIME 1037
#define IDC_PRINTER_IP 1042

// Wi-Fi: the printer's access point and the network it joins as a station
#define IDC_SAVE_AP 1017
#define IDC_SAVE_STATION 1046
#define IDC_WIFI_FACTORY 1048
#define IDC_WIFI_MODE 1049
#define IDC_WIFI_NAME 1050
#define IDC_WIFI_PASSWORD 1055
#define IDC_AUTH_MODE 1063
#define IDC_ENCRYPTION 1064
#define IDC_AP_NAME 1066
#define IDC_STA_IP 1070
#define IDC_STA_MASK 1071
#define IDC_STA_GATEWAY 1072

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#endif  // TOL_DIALOG_IDS_H
