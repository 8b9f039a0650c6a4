#pragma once

// The walk over the focus map's feature layers: list them in a combo box, find one by name.
// Both see the same layers in the same order: the top-level layers, and the direct
// feature-layer members of top-level group layers (one level deep).

#include <memory>
#include <string>

#include "platform/arcobjects.h"
#include "platform/runtime.h"

namespace selvane::support {

/// Fills the combo box with the names of the focus map's feature layers, in walk order.
/// A failure shows "Error loading map layers"; the names added before it stay.
void LoadComboWithFeatureLayers(platform::IComboBox& combo) noexcept;

/// The last feature layer in walk order whose name equals `name` by the locale's
/// case-insensitive comparison, or nullptr. A failure shows
/// "Error: Could not find layer " and the name, and gives nullptr.
std::shared_ptr<platform::IFeatureLayer> GetFeatureLayerByName(const std::string& name) noexcept;

}  // namespace selvane::support
