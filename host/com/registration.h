#pragma once

#include "win32/windows_include.h"

namespace selvane::com {

/// Writes the class (InprocServer32 with the Apartment model), the ProgID and the type
/// library, and nothing else; writing them again changes nothing.
HRESULT RegisterServer();
/// Removes what RegisterServer writes; a server that is not registered is no failure.
HRESULT UnregisterServer();

}  // namespace selvane::com
