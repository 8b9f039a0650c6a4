#pragma once

// The port of the host's modeless frame, which hosts a dialog's window and keeps the
// dialog alive until the host destroys that window.

#include "win32/windows_include.h"

#include <memory>

#include "com_ref.h"
#include "host_objects.h"
#include "platform/arcobjects.h"

namespace selvane::com {

/// The frame, able to be positioned when the host's frame supports IWindowPosition.
std::shared_ptr<platform::IModelessFrame> AdaptModelessFrame(ComRef<::IModelessFrame> frame);

}  // namespace selvane::com
