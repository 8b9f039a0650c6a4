#pragma once

#include "platform/runtime.h"

namespace selvane::resources {

/// The command's 16 × 16, 24-bit button image: a parcel outline with a selected
/// (highlighted) shape inside it, drawn on a grey that the toolbar shows as its own.
platform::Picture CommandBitmap();

}  // namespace selvane::resources
