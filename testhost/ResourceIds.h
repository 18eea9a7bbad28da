// Resource ids of the test host's window, shared by its resource script and its code (the
// resource compiler reads only the preprocessor, hence the macros).
#pragma once

// Dialog template
#define IDD_QUILLET 102

// Art
#define IDI_QUILLET 128
#define IDB_LOGO 129
#define IDB_BAND 3077
#define IDC_HAND_CURSOR 7007

// Button images (in the shared controls' art)
#define IDB_MONITOR 1040
#define IDB_STOP 1041
#define IDB_PLAY 1052
#define IDB_RECORD 1053
#define IDB_PANEL_WARNING 1059
#define IDB_PANEL 1060
#define IDB_PANEL_OPENING 1061
#define IDB_FOLDER 1065
#define IDB_FOLDER_GREY 1066
#define IDB_OUTPUT_OFF 1067
#define IDB_OUTPUT_ON 1068
#define IDB_OUTPUT_GREY 1069
#define IDB_INPUT_OFF 1070
#define IDB_INPUT_ON 1071
#define IDB_INPUT_GREY 1072

// Controls of the dialog
#define IDC_LOGO 1000
#define IDC_MAIN_FRAME 1001
#define IDC_EXPLANATION 1002
#define IDC_HARDWARE_LABEL 1003
#define IDC_HARDWARE_TEXT 1004
#define IDC_INPUTS_FRAME 1005
#define IDC_OUTPUTS_FRAME 1006
#define IDC_MONITOR_BUTTON 1042
#define IDC_UNUSED_1043 1043
#define IDC_CPU_LABEL 1044
#define IDC_CPU_BAR 1045
#define IDC_CPU_TEXT 1046
#define IDC_PLAY_FRAME 1047
#define IDC_RECORD_FRAME 1048
#define IDC_SETTINGS_FRAME 1049
#define IDC_PLAY_SOURCE 1050
#define IDC_PLAY_BUTTON 1051
#define IDC_RECORD_BUTTON 1052
#define IDC_RECORD_MODE 1053
#define IDC_RATE_LABEL 1054
#define IDC_RATE 1055
#define IDC_BUFFER_LABEL 1056
#define IDC_BUFFER_SIZE 1057
#define IDC_UNUSED_1058 1058
#define IDC_FOLDER_BUTTON 1059
#define IDC_MONITOR_FRAME 1060
#define IDC_MONITOR_MODE 1061
#define IDC_PANEL_BUTTON 1062
#define IDC_FOLDER_LABEL 1063
#define IDC_FOLDER_TEXT 1064

// Channel rows: 16 of each, ids counted up from the first
#define IDC_INPUT_NAME_FIRST 2000
#define IDC_INPUT_TOGGLE_FIRST 2016
#define IDC_OUTPUT_NAME_FIRST 2032
#define IDC_OUTPUT_TOGGLE_FIRST 2048
#define IDC_CHANNEL_ROWS 16
