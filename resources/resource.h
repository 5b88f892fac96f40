// Resource IDs of the Windows program, shared by tarnwick.rc and the code.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_TARNWICK_DIALOG 102
#define IDR_MAINFRAME 128

// Controls of the main dialog (the engine's ControlId values).
#define IDC_LOAD_FILE 1000
#define IDC_PROGRAM 1001
#define IDC_STOP 1002
#define IDC_IMAGE_LENGTH 1003
#define IDC_BYTES_SENT 1004
#define IDC_UNUSED_EDIT 1006
#define IDC_PROGRESS 1007
#define IDC_STATUS 1008

// The system-menu command that opens the About box.
#define IDM_ABOUTBOX 0x0010

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
