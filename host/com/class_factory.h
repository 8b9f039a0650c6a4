#pragma once

#include "win32/windows_include.h"

namespace selvane::com {

/// The class object of Selvane, for DllGetClassObject; CLASS_E_CLASSNOTAVAILABLE for any
/// other class.
HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object);

}  // namespace selvane::com
