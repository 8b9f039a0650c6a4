#pragma once

// The ports of the host's application: its document and view, its status bar and
// progress bar.

#include "win32/windows_include.h"

#include <memory>

#include "com_ref.h"
#include "host_objects.h"
#include "platform/arcobjects.h"

namespace selvane::com {

std::shared_ptr<platform::IApplication> AdaptApplication(ComRef<::IApplication> application);

}  // namespace selvane::com
