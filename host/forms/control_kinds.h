#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/error.h"
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

/// The control `name` of a form's realised controls (each with a Design()); throws
/// platform::Error for an unknown name.
template <typename Control>
Control& RequireControl(const std::map<std::string, std::unique_ptr<Control>>& controls, const std::string& form,
                        const std::string& name) {
    const auto found = controls.find(name);
    if (found == controls.end()) throw platform::Error(platform::kInvalidArg, "No control " + name + " on " + form);
    return *found->second;
}

/// As RequireControl, and throws platform::Error when the control cannot serve as `expected`.
template <typename Control>
Control& RequireControl(const std::map<std::string, std::unique_ptr<Control>>& controls, const std::string& form,
                        const std::string& name, platform::ControlKind expected) {
    Control& control = RequireControl(controls, form, name);
    if (!ServesAs(control.Design().kind, expected)) {
        throw platform::Error(platform::kNoInterface, "Control " + name + " is of another kind");
    }
    return control;
}

}  // namespace selvane::forms
