#pragma once

// Helpers of the test suites: temporary folders, small GeoPackages written by the test,
// and the headless host with a recorder of message boxes.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dialogs/frmIndex.h"
#include "gis/common/engine_tuning.h"
#include "gis/memory/layer.h"
#include "gis/model/layers.h"
#include "gis/model/map.h"
#include "headless/headless_host.h"

namespace selvane::testing {

/// A folder under the system's temp folder, removed with everything in it.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    const std::filesystem::path& Path() const { return m_path; }
    std::string File(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

/// The OGRwkbGeometryType codes that tables are declared with.
inline constexpr int kPoint = 1, kLine = 2, kPolygon = 3, kMultiPoint = 4;

/// One table of a GeoPackage: shapes as WKT ("" for a feature without a shape) and, per
/// feature, a value of the text field "zone".
struct TableSpec {
    std::string name;
    int geometry_type = 0;  ///< an OGRwkbGeometryType; 0 (unknown) for mixed tables
    int epsg = 0;           ///< 0 for no spatial reference
    std::vector<std::string> shapes;
    std::vector<std::string> zones;
};

/// Writes a GeoPackage with these tables; FIDs run from 1 in the given order.
void WriteGeoPackage(const std::string& path, const std::vector<TableSpec>& tables);

/// Every message box shown, in order.
struct MessageLog {
    std::vector<std::string> texts;
    std::vector<std::string> titles;
    console::ConsoleRuntime::MessageSink Sink() {
        return [this](const std::string& text, const std::string& title) {
            texts.push_back(text);
            titles.push_back(title);
        };
    }
    /// Expects exactly one message, holding each of `parts`.
    void ExpectOneWith(std::initializer_list<std::string_view> parts) const {
        ASSERT_EQ(texts.size(), 1u);
        for (const auto part : parts) EXPECT_NE(texts[0].find(part), std::string::npos) << texts[0];
    }
};

/// What the sources the tests open follow, and count in: LoadLayer's, the database tests'
/// (a test sets a way of answering for its scope and puts it back).
const std::shared_ptr<gis::EngineTuning>& TestTuning();

/// A feature layer of a data file's table, following TestTuning.
std::shared_ptr<gis::MemoryLayer> LoadLayer(const std::string& path, const std::string& table,
                                            const std::string& name = {}, const std::string& definition_query = {});

/// The features of a file's layer (the first, or `table`), by FID: their attributes and
/// shapes as text; its system's EPSG code or name into `system`.
std::map<std::int64_t, std::string> Features(const std::string& path, std::string* system = nullptr,
                                             const char* table = nullptr);

/// The host of a map made of `layers`, with its message log.
struct HostedMap {
    explicit HostedMap(std::vector<std::shared_ptr<platform::ILayer>> layers, console::ScreenSettings screen = {});
    MessageLog messages;
    std::shared_ptr<gis::Map> map;
    std::shared_ptr<gis::MxDocument> document;
    std::unique_ptr<headless::HeadlessHost> host;

    /// Presses the command and returns the dialog's form.
    platform::IForm& Open();
    /// Picks the three pickers' entries and presses "Select Features".
    void Select(const std::string& layer2, const std::string& relation, const std::string& layer1);
    std::string Count();
};

/// What a run in the dialog selected in Layer #2 (its ids, ascending), said and counted.
struct RunOutcome {
    std::vector<std::int64_t> ids;
    std::vector<std::string> messages;
    std::string count;
};

/// Selects in the map of `layers` the features of `layer2` in `relation` to those of `layer1`.
RunOutcome RunOn(std::vector<std::shared_ptr<platform::ILayer>> layers, const std::string& layer2,
                 const std::string& relation, const std::string& layer1);

/// What a run of the selvane program gave.
struct Run {
    int status = -1;
    std::string out;
    std::string err;
};

/// Runs `selvane ARGUMENTS` through the shell (so arguments may quote and redirect), after
/// `shell_prefix` (variables to set, or a command and ";").
Run RunSelvane(const std::string& arguments, const std::string& shell_prefix = {});

/// Runs `command_line` through the shell, its stderr kept apart.
Run RunShell(const std::string& command_line);

/// `text` quoted for the shell.
std::string ShellQuoted(const std::string& text);

/// Whether `relation` holds with `query` first, as GEOS's full relate of the two shapes
/// says (the envelopes compared for esriSpatialRelEnvelopeIntersects): the yardstick of
/// the searches' shortcuts.
bool FullRelate(platform::esriSpatialRelEnum relation, const geos::geom::Geometry& query,
                const geos::geom::Geometry& target);

}  // namespace selvane::testing
