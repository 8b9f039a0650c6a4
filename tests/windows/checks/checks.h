#pragma once

// The checks of the Windows test host, by what they look at.

#include <windows.h>

#include <string>

#include "selvane_h.h"

namespace test_host {

/// The server under test, and where to save the dialog's picture after its run (if anywhere).
extern std::wstring g_dll_path;
extern std::wstring g_picture_path;

/// The registered server: ProgID, command texts, bitmap, type information, the dialog's
/// run, unloading and the version resource.
void CheckRegisteredServer(const std::wstring& dll);
/// The dialog's run through the command `command`.
void CheckDialogRun(ICommand* command);

}  // namespace test_host
