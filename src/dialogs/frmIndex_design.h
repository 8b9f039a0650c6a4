#pragma once

#include "platform/runtime.h"

namespace selvane::dialogs {

/// The Spatial Selection dialog's design: controls, captions, tooltips, twips, colours,
/// fonts, pictures, cursors and tab order.
const platform::FormDesign& frmIndexDesign();

}  // namespace selvane::dialogs
