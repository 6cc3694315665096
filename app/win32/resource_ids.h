#pragma once
// Resource ids of caddora.exe (used by caddora.rc.in and the window).
#define IDI_CADDORA 1
#define IDB_BUTTON_POINTS 101
#define IDB_BUTTON_COURSE 102
#define IDB_BUTTON_FIRMWARE 103
#define IDB_PRODUCT 104
