// Resource ids shared by the resource scripts and the code. Plain #defines,
// because the resource compiler reads this file too.
#pragma once

// The icon of the setup programs.
#define IDI_SETUP 128

// The licence text shown on the licence page: an RTF document stored as a
// resource of the custom type "RTF".
#define IDR_LICENSE_RTF 159
#ifndef RC_INVOKED
inline constexpr const char* kLicenseRtfResourceType = "RTF";
#endif

// The folder pages' images: 32 x 32 uncompressed 32-bit TGA with alpha, of
// the custom type "RAW" (drawn by scripts/make-wizard-images.py).
#define IDR_DESTINATION_FOLDER_IMAGE 152
#define IDR_START_MENU_FOLDER_IMAGE 154

// The pages' pictures: the side picture (480 x 640, 24 bits) and the header
// logo (51 x 48, 8 bits), drawn for each edition by scripts/make-page-bitmaps.py.
#define IDB_SIDE_PICTURE 135
#define IDB_LOGO 139

// The Progress, Finish and restart pages' dialog templates (resources/pages.rc).
#define IDD_PROGRESS 144
#define IDD_FINISH 145
#define IDD_FINISH_RESTART 146

// The folder, task and ready pages' dialog templates (resources/pages.rc).
#define IDD_SELECT_FOLDER 131
#define IDD_START_MENU_FOLDER 132
#define IDD_ADDITIONAL_TASKS 133
#define IDD_READY 134

// The Welcome and License pages' templates (resources/welcome_pages.rc).
#define IDD_WELCOME 102
#define IDD_LICENSE 129

// Wizard page texts.
#define IDS_WELCOME_TEXT 2
#define IDS_CANCEL_QUESTION 3
#define IDS_LICENSE_TITLE 4
#define IDS_LICENSE_SUBTITLE 5
#define IDS_SELECT_FOLDER_TITLE 6
#define IDS_SELECT_FOLDER_SUBTITLE 7
#define IDS_START_MENU_TITLE 8
#define IDS_START_MENU_SUBTITLE 9
#define IDS_TASKS_TITLE 10
#define IDS_TASKS_SUBTITLE 11
#define IDS_READY_TITLE 12
#define IDS_READY_SUBTITLE 13
#define IDS_PROGRESS_TITLE 33
#define IDS_WELCOME_WAIT 36
#define IDS_FINISH_TITLE 38
#define IDS_FINISH_TEXT 39
#define IDS_RESTART_TEXT 40
#define IDS_LAUNCH_PROGRAM 41
#define IDS_FAILED_TEXT 51
#define IDS_FAILED_RESTART_TEXT 52
#define IDS_FAILED_TITLE 53
#define IDS_WIZARD_CAPTION 55
#define IDS_OPEN_QUICK_START 58
#define IDS_WELCOME_TITLE 63

// The ready page's summary.
#define IDS_SUMMARY_DESTINATION 14
#define IDS_SUMMARY_START_MENU 15
#define IDS_SUMMARY_TASKS 16
#define IDS_SUMMARY_ICONS 17
#define IDS_SUMMARY_DESKTOP_ICON 18
#define IDS_SUMMARY_QUICK_LAUNCH_ICON 19
#define IDS_SUMMARY_FIREWALL 61
#define IDS_SUMMARY_FIREWALL_RULES 62

// Start-up refusals and errors.
#define IDS_NOT_ADMINISTRATOR 20
#define IDS_OLD_WINDOWS 21
#define IDS_SETUP_INIT_ERROR 26
#define IDS_USE_64BIT_SETUP 54
#define IDS_SERVER_ONLY 60

// Package preparation failures.
#define IDS_UNPACK_ERROR 22
#define IDS_PACKAGE_DAMAGED 23
#define IDS_NOT_ENOUGH_RESOURCES 24
#define IDS_MODULES_INIT_ERROR 25

// Status texts of the install phases, forward and rollback.
#define IDS_PHASE_COPYING_FILES 27
#define IDS_PHASE_KERNEL_DRIVERS 28
#define IDS_PHASE_MAIN_MODULE 29
#define IDS_PHASE_STARTING_DRIVERS 30
#define IDS_PHASE_START_MENU 31
#define IDS_PHASE_FINISHING 32
#define IDS_PHASE_STOPPING_SERVICES 45
#define IDS_PHASE_REMOVING_SERVICES 46
#define IDS_PHASE_CLEARING_REGISTRY 47
#define IDS_PHASE_DELETING_FILES 48
#define IDS_PHASE_RESTORING_FILES 49
#define IDS_PHASE_DELETING_DIRECTORY 50

// Failures during and after the installation.
#define IDS_EXCEPTION_DURING_STARTUP_CHECKS 34
#define IDS_EXCEPTION_DURING_INSTALL 35
#define IDS_SYSTEM_ERROR 37
#define IDS_RESTART_QUESTION 42
#define IDS_ERROR_DURING_INSTALLATION 44
#define IDS_SEND_LOG 57
#define IDS_OLDER_VERSION 59
#define IDS_FIREWALL_ERROR 64
#define IDS_RESTART_REQUIRED 66
#define IDS_LICENSE_NOT_ACCEPTED 70

// An install folder refused before anything is written.
#define IDS_DESTINATION_TOO_LONG 71
#define IDS_DESTINATION_NOT_WRITABLE 72
#define IDS_DESTINATION_NO_SPACE 73
#define IDS_FOLDER_NOT_USABLE 88
#define IDS_FOLDER_NOT_PROTECTED 89
