#pragma once

// The state of the in-process server as a whole: its module, and the counts of live
// objects and of locks that decide whether it may be unloaded.

#include "win32/windows_include.h"

#include <string>

namespace selvane::com {

HINSTANCE ModuleInstance();
/// The full path of Selvane.dll.
std::wstring ModulePath();

void ObjectCreated();
void ObjectDestroyed();
/// IClassFactory::LockServer.
void LockServer(bool lock);
/// No object alive, no lock held and no form's window open.
bool CanUnload();

/// Installs the Win32 forms runtime and the host's creatable classes, once, on the first
/// object's creation (on the thread of the host's user interface).
void InstallHostServices();

}  // namespace selvane::com
