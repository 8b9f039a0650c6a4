#pragma once

// The words the dialogs' design tables are written in.

#include "platform/runtime.h"

namespace selvane::dialogs::design {

using platform::ControlDesign;
using platform::ControlKind;
using platform::Rgb;
using platform::TextAlign;

constexpr Rgb kWhite{0xFF, 0xFF, 0xFF};

}  // namespace selvane::dialogs::design
