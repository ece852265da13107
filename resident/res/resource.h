#pragma once
// Resource and command identifiers of Corvane, shared by corvane.rc and the code
// (plain defines: the resource compiler reads this file too). Other programs rely
// on 109, the class name, and on the version block.

#define IDS_APP_TITLE 103
#define IDS_CLASS_NAME 109
#define IDD_ABOUTBOX 103
#define IDI_CORVANE 107
#define IDI_SMALL 108
#define IDR_MAIN 109  // accelerators and menu
#define IDM_ABOUT 104
#define IDM_EXIT 105
