// Identifiers of the installer's resources, shared by korvane.rc and the front end.
#pragma once

#define IDD_MAIN 101
#define IDD_DESTINATION 102
#define IDD_PROGRESS 103
#define IDD_NFO_VIEWER 123
#define IDM_NFO_VIEWER 124
#define IDR_ARCHIVE_NAME 140
#define IDR_VOLUME_COUNT 141
#define IDR_CAPTION_TEXT 142
#define IDR_MAIN_PICTURE 143
#define IDR_PROGRESS_PICTURE 144
#define IDR_MODULE 145
#define IDI_KORVANE 154

#define IDC_NFO_TEXT 1000
#define IDC_ARCHIVE_NAME 1009
#define IDC_CURRENT_FILE 1010
#define IDC_PATH_FIELD 0xFFFF
#define IDM_RETURN_TO_INSTALLER 40002
