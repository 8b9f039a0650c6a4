// A whole run pressed through the widgets: the bar and the busy pointer during it, the
// selection highlighted on the map after it, and what the host does with bad input.

#include <QAbstractButton>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QTest>
#include <sqlite3.h>

#include <fstream>

#include "desktop_test_support.h"
#include "gis/memory/layer.h"
#include "state/shared_state.h"

namespace selvane::testing {
namespace {

int CountColour(const QImage& image, QRgb colour) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) count += (image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF);
    }
    return count;
}

TEST(DesktopRun, SelectFeaturesShowsProgressAndTheHourglassThenHighlightsTheSelection) {
    DesktopMap desktop;
    desktop.host->Window().resize(800, 600);
    desktop.Open();
    auto& canvas = desktop.host->Window().Canvas();
    const QRgb highlight = qRgb(0x00, 0xFF, 0xFF);
    canvas.Refresh();
    EXPECT_EQ(CountColour(canvas.grab().toImage(), highlight), 0);

    // Seen from inside the run, at each repaint of the bar.
    struct Seen {
        bool bar_shown;
        int value;
        bool busy;
    };
    std::vector<Seen> seen;
    auto& display = desktop.host->Window().Progress();
    desktop.host->Application()->Bar()->Progress()->SetDisplay([&](const gis::ProgressState& state) {
        display.Draw(state);
        const auto* cursor = QGuiApplication::overrideCursor();
        seen.push_back({display.isVisible(), display.Bar().value(), cursor && cursor->shape() == Qt::WaitCursor});
    });

    Pick(desktop.Control<QComboBox>("cboSearchLayers"), "Parcels");
    Pick(desktop.Control<QComboBox>("cboRelationship"), "INTERSECT");
    Pick(desktop.Control<QComboBox>("cboMapLayers"), "Wells");
    const int renders = canvas.RenderCount();
    QTest::mouseClick(desktop.Control<QAbstractButton>("btnNext"), Qt::LeftButton);

    EXPECT_EQ(desktop.parcels->SelectedFids(), (std::vector<std::int64_t>{1, 2, 3}));
    EXPECT_EQ(desktop.Control<QLabel>("lblCount")->text(), "3");
    ASSERT_FALSE(seen.empty());
    EXPECT_TRUE(seen.front().bar_shown);
    EXPECT_TRUE(seen.front().busy);
    EXPECT_EQ(display.Message().text(), "Building selection...");
    EXPECT_FALSE(seen.back().bar_shown);  // hidden at the end
    EXPECT_GE(seen.size(), 2u);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(display.isVisible());
    // Redrawn before the search and after it, and the selection is on the map.
    EXPECT_EQ(canvas.RenderCount(), renders + 2);
    EXPECT_GT(CountColour(canvas.grab().toImage(), highlight), 20);
    EXPECT_EQ(canvas.LastStats().selected_drawn, 3u);

    // "Clear Selection" through its button.
    QTest::mouseClick(desktop.Control<QAbstractButton>("Command1"), Qt::LeftButton);
    EXPECT_EQ(desktop.Control<QLabel>("lblCount")->text(), "0");
    EXPECT_EQ(CountColour(canvas.grab().toImage(), highlight), 0);
}

TEST(DesktopRun, MessagesOfARunAreMessageBoxesAndHiddenLayersAreNotDrawn) {
    DesktopMap desktop;
    MessageBoxWatcher watcher;
    desktop.Open();
    Pick(desktop.Control<QComboBox>("cboMapLayers"), "Roads");
    QTest::mouseClick(desktop.Control<QAbstractButton>("btnNext"), Qt::LeftButton);
    ASSERT_EQ(watcher.shown.size(), 1u);
    EXPECT_EQ(watcher.shown[0].text, "Can't find layer: ");
    EXPECT_EQ(watcher.shown[0].title, "Selvane");
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    auto& tree = desktop.host->Window().Tree();
    auto& canvas = desktop.host->Window().Canvas();
    canvas.Refresh();
    const auto drawn = canvas.LastStats().features_drawn;
    auto* parcels = tree.ItemOf(desktop.parcels.get());
    ASSERT_NE(parcels, nullptr);
    parcels->setCheckState(0, Qt::Unchecked);
    EXPECT_EQ(canvas.LastStats().features_drawn, drawn - 3);
}

TEST(DesktopRun, AFileThatFailsToLoadIsNamedAndTheOpenMapStays) {
    DesktopMap desktop;
    MessageBoxWatcher watcher;
    const std::string broken = desktop.folder.File("broken.gpkg");
    { std::ofstream(broken) << "not a geopackage"; }
    EXPECT_FALSE(desktop.host->Open({broken}));
    ASSERT_EQ(watcher.shown.size(), 1u);
    EXPECT_NE(watcher.shown[0].text.find("broken.gpkg"), std::string::npos) << watcher.shown[0].text;
    EXPECT_EQ(desktop.host->Document(), desktop.document);
    EXPECT_EQ(desktop.host->Window().Tree().topLevelItemCount(), 3);

    // A good map replaces it, in the tree, on the canvas and for the next press.
    ASSERT_TRUE(desktop.host->Open({SELVANE_SAMPLE_MAP}));
    EXPECT_NE(desktop.host->Document(), desktop.document);
    EXPECT_EQ(desktop.host->Window().Tree().topLevelItemCount(), 4);
    // At the full extent every feature that a layer shows is drawn.
    std::size_t shown = 0;
    gis::ForEachFeatureLayer(desktop.host->Document()->GetMap()->Layers(), [&shown](gis::MemoryLayer& layer) {
        for (std::size_t row = 0; row < layer.Class()->RowCount(); ++row) shown += layer.Shows(row);
    });
    EXPECT_EQ(desktop.host->Window().Canvas().LastStats().features_drawn, shown);
    EXPECT_LT(shown, 2u * 48 + 2 * 8 + 5 + 6);  // the definition queries hide some
    auto& form = desktop.Open();
    EXPECT_EQ(form.ComboBox("cboMapLayers").Items(),
              (std::vector<std::string>{"Roads", "Wells", "Parcels", "Buildings", "Old Parcels"}));
}

TEST(DesktopRun, AMapWhoseRowsCannotBeReadOpensAndSaysWhy) {
    DesktopMap desktop;
    const std::string csv = desktop.folder.File("pts.csv");
    { std::ofstream(csv) << "id,WKT\n1,\"POINT (1 2)\"\n2,\"POINT (nan 49.5)\"\n"; }
    // The rows are read to draw the map: the window stays up, the layer is left out,
    // and the status bar and the layer's tooltip say why.
    ASSERT_TRUE(desktop.host->Open({csv}));
    auto& window = desktop.host->Window();
    EXPECT_NE(window.Canvas().LastStats().problem.find("FID 2: the shape cannot be read"), std::string::npos);
    EXPECT_TRUE(window.Tree().topLevelItem(0)->toolTip(0).contains("rows cannot be read"));

    // A GeoPackage blob of collections nested 200,000 deep: named on the first draw, and
    // never handed to GEOS's recursive reader.
    const std::string gpkg = desktop.folder.File("deep.gpkg");
    WriteGeoPackage(gpkg, {{"zones", 0, 0, {"POINT(1 2)", "POINT(3 4)"}, {}}});
    std::string deep = std::string("GP\0\1", 4) + std::string(4, '\0');
    for (int level = 0; level < 200000; ++level) deep += std::string("\1\7\0\0\0\1\0\0\0", 9);
    sqlite3* database = nullptr;
    ASSERT_EQ(sqlite3_open(gpkg.c_str(), &database), SQLITE_OK);
    sqlite3_stmt* update = nullptr;
    sqlite3_prepare_v2(database, "UPDATE zones SET geom = ? WHERE fid = 2", -1, &update, nullptr);
    sqlite3_bind_blob(update, 1, deep.data(), static_cast<int>(deep.size()), SQLITE_STATIC);
    EXPECT_EQ(sqlite3_step(update), SQLITE_DONE);
    sqlite3_finalize(update);
    sqlite3_close(database);
    ASSERT_TRUE(desktop.host->Open({gpkg}));
    EXPECT_NE(window.Canvas().LastStats().problem.find("table zones, FID 2: the shape cannot be read: collections nested "
                                                       "more than 32 deep"),
              std::string::npos)
        << window.Canvas().LastStats().problem;
}

TEST(DesktopRun, MissingPicturesShowNothingAndTheDialogStillWorks) {
    TempFolder empty;
    DesktopMap desktop(empty.Path().string());
    auto& form = desktop.Open();
    EXPECT_EQ(form.PictureBox("Image2").PictureHandle(), 0);
    EXPECT_TRUE(desktop.Control<QLabel>("Image2")->pixmap().isNull());
    EXPECT_EQ(desktop.Control<QWidget>("btnNext")->cursor().shape(), Qt::ArrowCursor);
    form.ComboBox("cboSearchLayers").SetText("Parcels");
    form.ComboBox("cboMapLayers").SetText("Roads");
    QTest::mouseClick(desktop.Control<QAbstractButton>("btnNext"), Qt::LeftButton);
    EXPECT_EQ(desktop.Control<QLabel>("lblCount")->text(), "2");
}

}  // namespace
}  // namespace selvane::testing
