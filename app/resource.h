// Resource identifiers shared by update.rc and the program.
#ifndef APP_RESOURCE_H
#define APP_RESOURCE_H

#define IDD_UPDATE_CONFIRM 101
#define IDD_UPDATE_PROGRESS 102
#define IDI_UPDATE 102

#define IDC_PROGRESS_BAR 1001
#define IDC_PROGRESS_TEXT 1002
#define IDC_CONFIRM_TEXT 1004

#endif
