#include "qt/builtin_resources.h"

#include <QtCore/qglobal.h>

// Q_INIT_RESOURCE names a function in the global namespace.
static void InitSelvaneResources() { Q_INIT_RESOURCE(selvane_resources); }

namespace selvane::qt {

void LoadBuiltInResources() { InitSelvaneResources(); }

}  // namespace selvane::qt
