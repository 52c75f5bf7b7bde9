#pragma once

// The Windows headers for the Win32 backend. They define the names of some
// framework operations (MessageBox, PostMessage, GetDlgItemText,
// SetDlgItemText) as macros for their -A/-W functions; the macros go again
// here, so that the backend's classes override the operations by their own
// names. The backend calls the -W functions by their full names.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#undef MessageBox
#undef PostMessage
#undef GetDlgItemText
#undef SetDlgItemText
