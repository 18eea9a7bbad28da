// Ids of the control panel's dialog template and of its items.
#pragma once

#define IDD_SETTINGS 8013
#define IDC_FORMAT 7003
#define IDC_BUFFER_SIZE 7005
#define IDC_FORMAT_LABEL 7007
#define IDC_BUFFER_LABEL 7008
#define IDC_REFRESH 7012
#define IDC_GROUP_ASIO 7020
#define IDC_GROUP_LANGUAGE 7021
#define IDC_GROUP_INPUTS 7172
#define IDC_GROUP_OUTPUTS 7173
#define IDC_VERSION_LINE 8024
#define IDC_LANGUAGE 8052
#define IDC_MANUAL_LINK 8061
