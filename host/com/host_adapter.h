#pragma once

// The ports of the map application's model over the host's COM interfaces: each port
// object holds a host interface and turns a failed call into platform::Error with the
// host's HRESULT and description.

#include "win32/windows_include.h"

#include <memory>

#include "platform/arcobjects.h"

namespace selvane::com {

/// The hook given to OnCreate, as the system sees it: an application when it supports
/// the host's IApplication, a plain object otherwise.
std::shared_ptr<platform::IObject> AdaptHook(IDispatch* hook);

/// The creatable classes (AppRef, SpatialFilter, ModelessFrame), made with
/// CoCreateInstance from the host's registered classes.
std::shared_ptr<platform::IObjectFactory> HostObjectFactory();

}  // namespace selvane::com
