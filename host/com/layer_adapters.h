#pragma once

// The ports of the host's map and its layers: groups, feature layers with or without a
// selection, and any other layer.

#include "win32/windows_include.h"

#include <memory>

#include "com_ref.h"
#include "host_objects.h"
#include "platform/arcobjects.h"

namespace selvane::com {

/// A layer as what it supports: a group, a feature layer (with or without a selection) or
/// just a layer; null for none.
std::shared_ptr<platform::ILayer> AdaptLayer(ComRef<::ILayer> layer);
std::shared_ptr<platform::IMap> AdaptMap(ComRef<::IMap> map);

}  // namespace selvane::com
