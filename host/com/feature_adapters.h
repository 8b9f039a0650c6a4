#pragma once

// The ports of the host's features, shapes, cursors, filters and feature classes.

#include "win32/windows_include.h"

#include <memory>

#include "com_ref.h"
#include "host_objects.h"
#include "platform/arcobjects.h"

namespace selvane::com {

std::shared_ptr<platform::ISpatialFilter> AdaptSpatialFilter(ComRef<::ISpatialFilter> filter);
std::shared_ptr<platform::IFeatureClass> AdaptFeatureClass(ComRef<::IFeatureClass> feature_class);
std::shared_ptr<platform::IFeatureCursor> AdaptFeatureCursor(ComRef<::IFeatureCursor> cursor);
/// The host's filter behind a port filter; null for no filter. Throws platform::Error for
/// a filter that is not the host's.
ComRef<::IQueryFilter> HostFilter(const std::shared_ptr<platform::IQueryFilter>& filter);
/// The host's feature behind a port feature; throws platform::Error for one not the host's.
::IFeature* HostFeature(const std::shared_ptr<platform::IFeature>& feature);

}  // namespace selvane::com
