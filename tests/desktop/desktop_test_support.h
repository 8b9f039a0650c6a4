#pragma once

// Helpers of the desktop suites: the desktop host on a small GeoPackage that the test
// writes.

#include <memory>
#include <string>
#include <vector>

#include "desktop/desktop_host.h"
#include "gis/memory/layer.h"
#include "qt/qt_form.h"
#include "qt_test_support.h"
#include "test_support.h"

namespace selvane::testing {

/// The desktop host on a map of parcels, wells and roads, with the shell's Open recorded.
struct DesktopMap {
    /// A town of Parcels, Wells and Roads; `parcels_name` names the parcels' layer.
    explicit DesktopMap(const std::string& resource_folder = {}, const std::string& parcels_name = "Parcels");
    ~DesktopMap();

    /// Presses the command and returns the new dialog's realised form.
    qt::QtForm& Open();
    /// The realised form of the latest dialog.
    qt::QtForm& Form();
    /// The widget of a control of the latest dialog.
    template <typename Widget>
    Widget* Control(const std::string& name) {
        return dynamic_cast<Widget*>(Form().ControlWidget(name));
    }

    TempFolder folder;
    std::shared_ptr<gis::MemoryLayer> parcels, wells, roads;
    std::shared_ptr<gis::MxDocument> document;
    std::unique_ptr<desktop::DesktopHost> host;
    std::vector<std::string> opened;  ///< targets handed to the shell
};

}  // namespace selvane::testing
