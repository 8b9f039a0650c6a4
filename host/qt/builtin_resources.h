#pragma once

namespace selvane::qt {

/// Registers the pictures and cursors built into the program under kBuiltInResources.
void LoadBuiltInResources();

}  // namespace selvane::qt
