#pragma once
// Resource and command identifiers of Install_Corvane, shared by the .rc files and
// the code (plain defines: the resource compiler reads this file too).

#define IDS_TITLE 103
#define IDS_CLASS_NAME 109
#define IDD_ABOUT 103
#define IDI_PROGRAM 107
#define IDI_SMALL 108
#define IDR_MAIN 109  // accelerators and menu
#define IDM_ABOUT 104
#define IDM_EXIT 105
#define IDR_RESIDENT_PROGRAM 129  // type "BIN": the built Corvane.exe, byte for byte
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
