#pragma once

#include <memory>
#include <string>

#include "platform/arcobjects.h"

namespace selvane::dialogs {

/// What a dialog's `Frame` does when the frame cannot host the dialog or take its caption.
enum class HostingFailures {
    Ignored,  ///< the main dialog's rule: the frame is returned all the same
    Thrown,   ///< no trap: the failure reaches the caller's report
};

/// A dialog's `Frame`: the modeless frame kept in `cached`, created on the first call.
/// The new frame is cached before it hosts the dialog, because hosting loads the dialog
/// and its set-up reads `Frame` again: that nested read must get this frame, not a second
/// one. A frame that cannot be created is reported (procedure `Frame` of `unit`) and gives
/// nullptr; failures to host the dialog or to set the caption go as `hosting` says.
std::shared_ptr<platform::IModelessFrame> HostedFrame(std::shared_ptr<platform::IModelessFrame>& cached,
                                                      const std::shared_ptr<platform::IHostedForm>& dialog,
                                                      const std::string& caption, const char* unit,
                                                      HostingFailures hosting);

}  // namespace selvane::dialogs
