#pragma once

#include <memory>
#include <string>

#include "platform/arcobjects.h"

namespace selvane::dialogs {

/// A dialog's `Frame`: the modeless frame kept in `cached`, created on the first call.
/// The new frame is cached before it hosts the dialog, because hosting loads the dialog
/// and its set-up reads `Frame` again: that nested read must get this frame, not a second
/// one. Failures to host the dialog or to set the caption are ignored; a frame that cannot
/// be created is reported (procedure `Frame` of `unit`) and gives nullptr.
std::shared_ptr<platform::IModelessFrame> HostedFrame(std::shared_ptr<platform::IModelessFrame>& cached,
                                                      const std::shared_ptr<platform::IHostedForm>& dialog,
                                                      const std::string& caption, const char* unit) noexcept;

}  // namespace selvane::dialogs
