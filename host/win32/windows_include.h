#pragma once

// <windows.h> for the Win32 host, without the macro that would rename the forms runtime's
// MessageBox member to MessageBoxW in some files and not in others.

#include <windows.h>

#undef MessageBox
