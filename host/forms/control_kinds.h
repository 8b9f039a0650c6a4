#pragma once

#include "platform/runtime.h"

namespace selvane::forms {

/// Whether a control of `kind` answers the port's request for an `expected` kind: frames
/// and buttons have captions as labels do, and a picture button holds a picture.
inline bool ServesAs(platform::ControlKind kind, platform::ControlKind expected) {
    using platform::ControlKind;
    if (kind == expected) return true;
    if (expected == ControlKind::Label) return kind == ControlKind::Frame || kind == ControlKind::Button;
    if (expected == ControlKind::PictureBox) return kind == ControlKind::Button;
    return false;
}

}  // namespace selvane::forms
