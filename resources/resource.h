// Resource ids of ZorvikUpdate; shared by the resource script and the launcher's code.
#pragma once

#define IDD_ABOUTBOX        103
#define IDM_ABOUT           104
#define IDI_ZORVIKUPDATE    107
#define IDI_SMALL           108
#define IDC_ZORVIKUPDATE    109
#define IDD_UPDATE          133
#define IDB_LOGO            136

// Controls of the update dialog.
#define IDC_PROGRESS        1000
#define IDC_LOGO            1007
#define IDC_STATUS          1008
#define IDC_ACTION          1009
#define IDC_CANCEL          1010

#ifndef IDC_STATIC
#define IDC_STATIC          (-1)
#endif
