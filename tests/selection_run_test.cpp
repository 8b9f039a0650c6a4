// "Select Features" and "Clear Selection" on real layers: the paths that end a run, what
// each leaves behind, and the run's answer against a plain evaluation.

#include <geos/geom/IntersectionMatrix.h>

#include <algorithm>
#include <map>
#include <numeric>
#include <random>
#include <string_view>

#include "dialogs/relationships.h"
#include "gis/geometry/shape.h"
#include "gis/memory/layer.h"
#include "gis/model/application.h"
#include "state/shared_state.h"
#include "test_support.h"

namespace selvane::testing {
namespace {

constexpr const char* kRelateError =
    "Error relating the two layers...\r\nBe sure the shape type of the layers is appropriate for the selected relationship.";

class SelectionRun : public ::testing::Test {
protected:
    void SetUp() override {
        WriteGeoPackage(m_path, {
            {"parcels", kPolygon, 0,
             {"POLYGON((0 0,10 0,10 10,0 10,0 0))", "POLYGON((10 0,20 0,20 10,10 10,10 0))",
              "POLYGON((20 0,30 0,30 10,20 10,20 0))"},
             {"old", "new", "old"}},
            {"wells", kPoint, 0, {"POINT(5 5)", "POINT(10 5)", "POINT(25 5)", "POINT(50 50)"}, {"a", "b", "a", "b"}},
            {"roads", kLine, 0, {"LINESTRING(-5 5,15 5)", "LINESTRING(25 -5,25 15)"}, {}},
            {"empty", kPoint, 0, {}, {}},
            {"bad", kPolygon, 0, {"POLYGON((0 0,1 0,1 1,0 1,0 0))", "POLYGON((0 0,1 0,1 1,0 1,0 0))",
                                   "POLYGON((0 0,2 2,2 0,0 2,0 0))", "POLYGON((0 0,1 0,1 1,0 1,0 0))"}, {}},
        });
        m_parcels = LoadLayer(m_path, "parcels", "Parcels");
        m_wells = LoadLayer(m_path, "wells", "Wells");
        m_roads = LoadLayer(m_path, "roads", "Roads");
    }

    HostedMap Hosted(std::vector<std::shared_ptr<platform::ILayer>> extra = {}) {
        std::vector<std::shared_ptr<platform::ILayer>> layers{m_parcels, m_wells, m_roads};
        layers.insert(layers.end(), extra.begin(), extra.end());
        return HostedMap(layers);
    }

    TempFolder m_folder;
    std::string m_path = m_folder.File("run.gpkg");
    std::shared_ptr<gis::MemoryLayer> m_parcels, m_wells, m_roads;
};

TEST_F(SelectionRun, SelectsTheRelatedFeaturesAndShowsTheCount) {
    auto hosted = Hosted();
    hosted.Open();
    hosted.Select("Parcels", "INTERSECT", "Wells");
    EXPECT_EQ(m_parcels->SelectedFids(), (std::vector<std::int64_t>{1, 2, 3}));
    EXPECT_EQ(hosted.Count(), "3");
    hosted.Select("Parcels", "TOUCH", "Wells");
    EXPECT_EQ(m_parcels->SelectedFids(), (std::vector<std::int64_t>{1, 2}));  // earlier runs do not accumulate
    EXPECT_EQ(hosted.Count(), "2");
    hosted.Select("Parcels", "CROSS", "Roads");
    EXPECT_EQ(m_parcels->SelectedFids(), (std::vector<std::int64_t>{1, 2, 3}));
    hosted.Select("Wells", "ARE WHOLLY CONTAINED BY", "Parcels");
    EXPECT_EQ(m_wells->SelectedFids(), (std::vector<std::int64_t>{1, 3}));
    hosted.Select("Parcels", "WHOLLY CONTAIN", "Wells");
    EXPECT_EQ(m_parcels->SelectedFids(), (std::vector<std::int64_t>{1, 3}));
    EXPECT_TRUE(hosted.messages.texts.empty());

    // The busy state ends with the run; the view was redrawn before and after the search.
    auto progress = hosted.host->Application()->Bar()->Progress();
    EXPECT_FALSE(progress->State().visible);
    EXPECT_EQ(progress->State().min_range, 1);
    EXPECT_EQ(progress->State().max_range, 4);
    EXPECT_EQ(progress->State().position, 1 + 1 + 4);  // the step at start, then one a feature
    EXPECT_EQ(progress->State().message, "Building selection...");
    EXPECT_EQ(hosted.host->Runtime()->Screen().MousePointer(), platform::kPointerDefault);
    EXPECT_EQ(hosted.document->View()->RefreshCount(), 2 * 5);
}

TEST_F(SelectionRun, MessagePathsClearTheSelectionFirstAndEndTheRun) {
    auto hosted = Hosted();
    auto& form = hosted.Open();
    m_wells->Add(m_wells->Search(nullptr, false)->NextFeature());

    // Nothing picked: Layer #1 is reported, with its empty name.
    form.Click("btnNext");
    EXPECT_EQ(hosted.messages.texts, std::vector<std::string>{"Can't find layer: "});
    EXPECT_EQ(hosted.map->SelectionCount(), 0);
    EXPECT_EQ(hosted.Count(), "0");

    form.ComboBox("cboMapLayers").SetText("Wells");
    form.Click("btnNext");
    EXPECT_EQ(hosted.messages.texts.back(), "Can't find layer: ");

    // A layer removed after the lists were filled.
    form.ComboBox("cboSearchLayers").SetText("Roads");
    hosted.map->RemoveLayer(2);
    form.Click("btnNext");
    EXPECT_EQ(hosted.messages.texts.back(), "Can't find layer: Roads");

    form.ComboBox("cboRelationship").Clear();
    form.Click("btnNext");
    EXPECT_EQ(hosted.messages.texts.back(), "Please choose a relationship");
    EXPECT_EQ(hosted.host->Runtime()->Screen().MousePointer(), platform::kPointerDefault);
    EXPECT_FALSE(hosted.host->Application()->Bar()->Progress()->State().visible);
}

TEST_F(SelectionRun, AnEmptyLayerOneSelectsNothing) {
    auto empty = LoadLayer(m_path, "empty", "Empty");
    auto hosted = Hosted({empty});
    hosted.Open();
    hosted.Select("Parcels", "INTERSECT", "Empty");
    EXPECT_EQ(hosted.Count(), "0");
    EXPECT_TRUE(hosted.messages.texts.empty());
    auto progress = hosted.host->Application()->Bar()->Progress();
    EXPECT_EQ(progress->State().min_range, 1);
    EXPECT_EQ(progress->State().max_range, 0);
}

TEST_F(SelectionRun, ALayerRelatedToItselfSelectsEveryFeatureItShows) {
    auto hosted = Hosted();
    hosted.Open();
    hosted.Select("Parcels", "INTERSECT", "Parcels");
    EXPECT_EQ(hosted.Count(), "3");
    hosted.Select("Parcels", "TOUCH", "Parcels");
    EXPECT_EQ(hosted.Count(), "3");
    hosted.Select("Parcels", "OVERLAP", "Parcels");
    EXPECT_EQ(hosted.Count(), "0");
}

TEST_F(SelectionRun, DefinitionQueriesNarrowLayerOneButNotLayerTwo) {
    auto old_parcels = LoadLayer(m_path, "parcels", "Old Parcels", "zone = 'old'");
    auto some_wells = LoadLayer(m_path, "wells", "Some Wells", "zone = 'b'");
    auto hosted = Hosted({old_parcels, some_wells});
    hosted.Open();
    // Layer #1 hides parcel 2 from the query shapes but counts it in the progress range.
    hosted.Select("Wells", "INTERSECT", "Old Parcels");
    EXPECT_EQ(m_wells->SelectedFids(), (std::vector<std::int64_t>{1, 2, 3}));
    EXPECT_EQ(hosted.host->Application()->Bar()->Progress()->State().max_range, 3);
    // Layer #2's hidden wells can be selected: the search goes through the class.
    hosted.Select("Some Wells", "INTERSECT", "Parcels");
    EXPECT_EQ(some_wells->SelectedFids(), (std::vector<std::int64_t>{1, 2, 3}));
    EXPECT_EQ(hosted.Count(), "3");
}

TEST_F(SelectionRun, ARelateErrorKeepsThePartialSelectionAndShowsItsTrueCount) {
    auto hosted = Hosted();
    hosted.Open();
    // Points touching points can never hold: the first search fails.
    hosted.Select("Wells", "TOUCH", "Wells");
    EXPECT_EQ(hosted.messages.texts, std::vector<std::string>{kRelateError});
    EXPECT_EQ(hosted.Count(), "0");
    EXPECT_FALSE(hosted.host->Application()->Bar()->Progress()->State().visible);
    EXPECT_EQ(hosted.host->Runtime()->Screen().MousePointer(), platform::kPointerDefault);
}

// A feature class whose search fails from the n-th call on, as a failing data source would.
class FailingClass : public platform::IFeatureClass {
public:
    FailingClass(std::shared_ptr<gis::MemoryFeatureClass> inner, int fail_at) : m_inner(std::move(inner)), m_fail_at(fail_at) {}
    std::string ShapeFieldName() override { return m_inner->ShapeFieldName(); }
    std::int32_t FeatureCount(std::shared_ptr<platform::IQueryFilter> filter) override {
        return m_inner->FeatureCount(filter);
    }
    std::shared_ptr<platform::IFeatureCursor> Search(std::shared_ptr<platform::IQueryFilter> filter, bool recycling) override {
        if (++m_calls >= m_fail_at) throw platform::Error(platform::kFail, "the source went away");
        return m_inner->Search(filter, recycling);
    }

private:
    std::shared_ptr<gis::MemoryFeatureClass> m_inner;
    int m_fail_at;
    int m_calls = 0;
};

class FailingLayer : public gis::MemoryLayer {
public:
    FailingLayer(const std::shared_ptr<gis::MemoryLayer>& like, int fail_at)
        : gis::MemoryLayer("Failing", like->Class()), m_failing(std::make_shared<FailingClass>(like->Class(), fail_at)) {}
    std::shared_ptr<platform::IFeatureClass> FeatureClass() override { return m_failing; }

private:
    std::shared_ptr<FailingClass> m_failing;
};

TEST_F(SelectionRun, ARelateErrorAtTheThirdFeatureKeepsWhatTheFirstTwoFound) {
    auto failing = std::make_shared<FailingLayer>(m_parcels, 3);
    auto hosted = Hosted({failing});
    hosted.Open();
    hosted.Select("Failing", "INTERSECT", "Wells");
    EXPECT_EQ(hosted.messages.texts, std::vector<std::string>{kRelateError});
    EXPECT_EQ(failing->SelectedFids(), (std::vector<std::int64_t>{1, 2}));  // wells 1 and 2 found parcels 1, 2
    EXPECT_EQ(hosted.Count(), "2");
    EXPECT_EQ(hosted.document->View()->RefreshCount(), 2);  // the run's first, and the mended one
}

TEST_F(SelectionRun, AShapeGeosCannotEvaluateGivesTheStandardReport) {
    auto bad = LoadLayer(m_path, "bad", "Bad");
    auto hosted = Hosted({bad});
    hosted.Open();
    hosted.Select("Bad", "INTERSECT", "Parcels");
    ASSERT_EQ(hosted.messages.texts.size(), 1u);
    const auto& report = hosted.messages.texts[0];
    EXPECT_NE(report.find("MODULE: btnNext_Click frmIndex Line : 13\r\n"), std::string::npos) << report;
    EXPECT_NE(report.find("ERROR DESCRIPTION: Invalid shape in layer Bad (table bad, file " + m_path + "), FID 3: Self-intersection"),
              std::string::npos) << report;
    // Rows before the bad one were selected and are counted.
    EXPECT_EQ(bad->SelectedFids(), (std::vector<std::int64_t>{1, 2}));
    EXPECT_EQ(hosted.Count(), "2");
    EXPECT_FALSE(hosted.host->Application()->Bar()->Progress()->State().visible);
    EXPECT_EQ(hosted.host->Runtime()->Screen().MousePointer(), platform::kPointerDefault);
}

TEST_F(SelectionRun, ClearSelectionClearsEveryLayerOfTheMap) {
    auto nested = LoadLayer(m_path, "wells", "Nested");
    auto deep = std::make_shared<gis::GroupLayer>("Deep", std::vector<std::shared_ptr<platform::ILayer>>{nested});
    auto hosted = Hosted({std::make_shared<gis::GroupLayer>("Outer", std::vector<std::shared_ptr<platform::ILayer>>{deep})});
    auto& form = hosted.Open();
    hosted.Select("Parcels", "INTERSECT", "Wells");
    m_roads->Add(m_roads->Search(nullptr, false)->NextFeature());
    nested->Add(nested->Search(nullptr, false)->NextFeature());
    EXPECT_EQ(hosted.map->SelectionCount(), 5);
    form.Click("Command1");
    EXPECT_EQ(hosted.map->SelectionCount(), 0);
    EXPECT_EQ(hosted.Count(), "0");
}

// The relationships written out as DE-9IM patterns of GEOS's relate, with the query shape
// first, and the shape types between which each can never hold: an evaluation that shares
// nothing with the map model's own predicates and gate.
bool HoldsByPattern(std::string_view relationship, const geos::geom::Geometry& query, const geos::geom::Geometry& target) {
    if (relationship == "ENVELOPE INTERSECT") {
        const auto& a = *query.getEnvelopeInternal();
        const auto& b = *target.getEnvelopeInternal();
        return a.getMinX() <= b.getMaxX() && b.getMinX() <= a.getMaxX() && a.getMinY() <= b.getMaxY() &&
               b.getMinY() <= a.getMaxY();
    }
    const auto matrix = query.relate(&target);
    const int q = query.getDimension(), t = target.getDimension();
    if (relationship == "INTERSECT") return !matrix->matches("FF*FF****");
    if (relationship == "TOUCH") {
        return matrix->matches("FT*******") || matrix->matches("F**T*****") || matrix->matches("F***T****");
    }
    if (relationship == "OVERLAP") return q == t && matrix->matches(q == 1 ? "1*T***T**" : "T*T***T**");
    if (relationship == "CROSS") {
        if (q == 1 && t == 1) return matrix->matches("0********");
        if (q < t) return matrix->matches("T*T******");
        if (q > t) return matrix->matches("T*****T**");
        return false;
    }
    if (relationship == "WHOLLY CONTAIN") return matrix->matches("T*F**F***");
    if (relationship == "ARE WHOLLY CONTAINED BY") return matrix->matches("T*****FF*");
    ADD_FAILURE() << "no pattern for " << relationship;
    return false;
}

bool CanNeverHold(std::string_view relationship, int query_dimension, int target_dimension) {
    if (relationship == "TOUCH") return query_dimension == 0 && target_dimension == 0;
    if (relationship == "OVERLAP") return query_dimension != target_dimension;
    if (relationship == "CROSS") return query_dimension == target_dimension && query_dimension != 1;
    if (relationship == "WHOLLY CONTAIN") return query_dimension > target_dimension;
    if (relationship == "ARE WHOLLY CONTAINED BY") return query_dimension < target_dimension;
    return false;
}

std::string Wkt(const char* kind, std::initializer_list<int> numbers) {
    std::string text = std::string(kind) + "(";
    if (std::string(kind) == "POLYGON") text += "(";
    int index = 0;
    for (const int number : numbers) text += (index == 0 ? "" : (index % 2 ? " " : ",")) + std::to_string(number), ++index;
    return text + (std::string(kind) == "POLYGON" ? "))" : ")");
}

TEST_F(SelectionRun, AFailureAheadOfTheRunSurfacesWhereTheRunMeetsIt) {
    // Two thousand wells in the order of a hundred parcels; parcel 61 is a bow tie. The
    // searches ahead of the run meet it long before the run does; the run must still stop
    // at the first well in it, with every parcel before it selected.
    TableSpec parcels{"many_parcels", kPolygon, 0, {}, {}};
    for (int i = 0; i < 100; ++i) {
        parcels.shapes.push_back(i == 60 ? "POLYGON((60 0,61 1,61 0,60 1,60 0))"
                                         : Wkt("POLYGON", {i, 0, i + 1, 0, i + 1, 1, i, 1, i, 0}));
    }
    TableSpec wells{"many_wells", kPoint, 0, {}, {}};
    for (int j = 0; j < 2000; ++j) wells.shapes.push_back("POINT(" + std::to_string(j * 0.05 + 0.025) + " 0.5)");
    TempFolder folder;
    const auto path = folder.File("many.gpkg");
    WriteGeoPackage(path, {parcels, wells});
    auto target = LoadLayer(path, "many_parcels", "Parcels");
    HostedMap hosted({target, LoadLayer(path, "many_wells", "Wells")});
    hosted.Open();
    for (int run = 0; run < 2; ++run) {  // and again, as a user pressing twice would
        hosted.messages.texts.clear();
        hosted.Select("Parcels", "INTERSECT", "Wells");
        ASSERT_EQ(hosted.messages.texts.size(), 1u);
        EXPECT_NE(hosted.messages.texts[0].find("FID 61: Self-intersection"), std::string::npos)
            << hosted.messages.texts[0];
        std::vector<std::int64_t> before(60);
        std::iota(before.begin(), before.end(), 1);
        EXPECT_EQ(target->SelectedFids(), before);
        EXPECT_EQ(hosted.Count(), "60");
    }
}

TEST(SelectionRunRandom, TheRunAgreesWithAnIndependentEvaluationForEveryRelationship) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> coordinate(0, 30), size(1, 8);
    TableSpec areas{"areas", kPolygon, 0, {}, {}}, lines{"lines", kLine, 0, {}, {}}, points{"points", kPoint, 0, {}, {}};
    for (int i = 0; i < 60; ++i) {
        // Whole numbers on a small grid: shared edges, collinear segments and touching
        // corners come up often.
        const int x = coordinate(random), y = coordinate(random), w = size(random), h = size(random);
        areas.shapes.push_back(Wkt("POLYGON", {x, y, x + w, y, x + w, y + h, x, y + h, x, y}));
        const int x1 = coordinate(random), y1 = coordinate(random);
        const int x2 = x1 + size(random), y2 = coordinate(random);  // never a zero-length line
        lines.shapes.push_back(Wkt("LINESTRING", {x1, y1, x2, y2}));
        points.shapes.push_back(Wkt("POINT", {coordinate(random), coordinate(random)}));
    }
    // A polygon with a hole and a multi-part line.
    areas.shapes.push_back("POLYGON((0 0,30 0,30 30,0 30,0 0),(10 10,20 10,20 20,10 20,10 10))");
    lines.shapes.push_back("MULTILINESTRING((0 15,10 15),(20 15,30 15))");
    lines.geometry_type = 0;
    TempFolder folder;
    const auto path = folder.File("random.gpkg");
    WriteGeoPackage(path, {areas, lines, points});
    std::vector<std::shared_ptr<gis::MemoryLayer>> layers{LoadLayer(path, "areas"), LoadLayer(path, "lines"),
                                                           LoadLayer(path, "points")};
    const std::map<std::string, int> declared{{"areas", 2}, {"lines", -1}, {"points", 0}};  // lines: mixed
    HostedMap hosted({layers[0], layers[1], layers[2]});
    hosted.Open();
    int non_empty = 0;
    for (const auto& relationship : dialogs::kRelationships) {
        for (const auto& layer2 : layers) {
            for (const auto& layer1 : layers) {
                hosted.messages.texts.clear();
                hosted.Select(layer2->Name(), std::string(relationship.text), layer1->Name());
                const auto label = std::string(relationship.text) + " " + layer2->Name() + " / " + layer1->Name();
                const int query_type = declared.at(layer1->Name()), target_type = declared.at(layer2->Name());
                if (query_type >= 0 && target_type >= 0 && CanNeverHold(relationship.text, query_type, target_type)) {
                    EXPECT_EQ(hosted.messages.texts, std::vector<std::string>{kRelateError}) << label;
                    continue;
                }
                const auto& target = *layer2->Class();
                const auto& source = *layer1->Class();
                std::vector<std::int64_t> expected;
                for (std::size_t t = 0; t < target.RowCount(); ++t) {
                    bool any = false;
                    for (std::size_t q = 0; q < source.RowCount() && !any; ++q) {
                        any = HoldsByPattern(relationship.text, *source.Rows().ShapeAt(q), *target.Rows().ShapeAt(t));
                    }
                    if (any) expected.push_back(target.Rows().Fid(t));
                }
                EXPECT_TRUE(hosted.messages.texts.empty()) << label;
                EXPECT_EQ(layer2->SelectedFids(), expected) << label;
                EXPECT_EQ(hosted.Count(), std::to_string(expected.size())) << label;
                non_empty += !expected.empty();
            }
        }
    }
    EXPECT_GT(non_empty, 30);
}

TEST(SelectionRunRandom, AMixedLayerOneGivesTheSameAnswerInAnyRowOrder) {
    // A point and a polygon in one layer of no declared type; TOUCH against points can hold
    // for the polygon and never for the point, which then simply matches nothing.
    const std::vector<std::string> mixed{"POINT(5 5)", "POLYGON((0 0,10 0,10 10,0 10,0 0))"};
    const std::vector<std::string> wells{"POINT(10 5)", "POINT(5 5)", "POINT(20 20)"};
    std::vector<std::string> counts;
    for (const bool reversed : {false, true}) {
        TempFolder folder;
        const auto path = folder.File("mixed.gpkg");
        auto shapes = mixed;
        if (reversed) std::reverse(shapes.begin(), shapes.end());
        WriteGeoPackage(path, {{"mixed", 0, 0, shapes, {}}, {"wells", kPoint, 0, wells, {}}});
        auto layer1 = LoadLayer(path, "mixed");
        auto layer2 = LoadLayer(path, "wells");
        HostedMap hosted({layer1, layer2});
        hosted.Open();
        hosted.Select("wells", "TOUCH", "mixed");
        EXPECT_TRUE(hosted.messages.texts.empty()) << (reversed ? "reversed" : "in order");
        EXPECT_EQ(layer2->SelectedFids(), (std::vector<std::int64_t>{1})) << (reversed ? "reversed" : "in order");
        counts.push_back(hosted.Count());
    }
    EXPECT_EQ(counts[0], counts[1]);
}

// A progress bar that writes down each call, with the screen's pointer at that moment.
class RecordingProgressor : public gis::StepProgressor {
public:
    std::vector<std::string> calls;
    void SetMessage(const std::string& message) override { Note("Message " + message); }
    void Show() override { Note("Show"); }
    void Step() override { Note("Step"); }
    void Hide() override { Note("Hide"); }
    void SetMinRange(std::int32_t value) override { Note("MinRange " + std::to_string(value)); }
    void SetMaxRange(std::int32_t value) override { Note("MaxRange " + std::to_string(value)); }
    void SetStepValue(std::int32_t value) override { Note("StepValue " + std::to_string(value)); }
    void SetPosition(std::int32_t value) override { Note("Position " + std::to_string(value)); }

private:
    void Note(const std::string& call) {
        calls.push_back(call + " @" + std::to_string(platform::Runtime().Screen().MousePointer()));
    }
};
class RecordingStatusBar : public platform::IStatusBar {
public:
    std::shared_ptr<RecordingProgressor> progress = std::make_shared<RecordingProgressor>();
    std::shared_ptr<platform::IStepProgressor> ProgressBar() override { return progress; }
};
class RecordingApplication : public gis::Application {
public:
    using gis::Application::Application;
    std::shared_ptr<RecordingStatusBar> bar = std::make_shared<RecordingStatusBar>();
    std::shared_ptr<platform::IStatusBar> StatusBar() override { return bar; }
};

TEST_F(SelectionRun, TheHourglassAndTheBarAreOnWhileTheRunGoes) {
    auto hosted = Hosted();
    auto application = std::make_shared<RecordingApplication>(hosted.document);
    platform::InstallObjectFactory(std::make_shared<gis::ObjectFactory>(application));
    hosted.Open();
    hosted.Select("Parcels", "INTERSECT", "Roads");
    EXPECT_EQ(application->bar->progress->calls,
              (std::vector<std::string>{"MinRange 1 @11", "MaxRange 2 @11", "StepValue 1 @11", "Position 1 @11",
                                        "Message Building selection... @11", "Step @11", "Show @11", "Step @11",
                                        "Step @11", "Hide @11"}));
    EXPECT_EQ(hosted.host->Runtime()->Screen().MousePointer(), platform::kPointerDefault);
    application->CloseAllWindows();
}

}  // namespace
}  // namespace selvane::testing
