// Resource and control identifiers.
#pragma once

#define IDI_APP 1
#define IDB_LOGO 101
#define IDC_DSPLIST 1000
// Neither IDOK nor IDCANCEL: Enter in the list must not reach it.
#define IDC_SETDSP 1001
