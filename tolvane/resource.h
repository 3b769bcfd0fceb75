// Resource and control IDs of tolvane: the ones both programs share, and its own.
#pragma once

#include "dialog/DialogIds.h"

// Wi-Fi: the station button, named for its caption here
#define IDC_CONNECT_WIFI IDC_SAVE_STATION

// Bluetooth
#define IDC_SAVE_BT_NAME 1018
#define IDC_SAVE_BT_PIN 1019
#define IDC_BT_PIN 1035
#define IDC_CHECK_BT 1045
#define IDC_READ_BT_PIN 1065
#define IDC_BT_NAME 1067

// Ethernet
#define IDC_SAVE_LAN_IP 1047
#define IDC_SAVE_LAN_GATEWAY 1052
#define IDC_DHCP 1053
#define IDC_SAVE_LAN_MASK 1069
#define IDC_ETHERNET_GROUP 1076
#define IDC_LAN_IP 1079
#define IDC_LAN_MASK 1080
#define IDC_LAN_GATEWAY 1081
#define IDC_LAN_MAC 1082
#define IDC_SAVE_LAN_MAC 1083
#define IDC_SAVE_DHCP 1089

// Printer utilities
#define IDC_CUT_PAPER 1085
#define IDC_OPEN_DRAWER 1086
#define IDC_FACTORY_MODE 1087
#define IDC_HEX_MODE 1088
