#pragma once

// The Windows headers the Win32 backend uses: the base API, the common
// controls (the address control, the progress bar) and the common dialogs.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
