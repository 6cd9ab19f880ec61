// Resource ids of the updater.
#ifndef UPDATER_RES_RESOURCE_H_
#define UPDATER_RES_RESOURCE_H_

#define IDD_UPDATER_DIALOG 102
#define IDR_MAINFRAME 128
#define IDC_PROGRESS1 1000
#define IDC_STATUS 1001

// The program's version, in the version resource and in the log.
#define UPDATER_VERSION 1, 0, 0, 1
#define UPDATER_VERSION_TEXT "1.0.0.1"

#endif  // UPDATER_RES_RESOURCE_H_
