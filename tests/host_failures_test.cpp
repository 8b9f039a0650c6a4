// A host that gives nothing where the run needs something, or whose redraw fails: every
// such case ends in the standard report, and the count label always shows the map's count.

#include "gis/memory/layer.h"
#include "gis/model/application.h"
#include "state/shared_state.h"
#include "test_support.h"

namespace selvane::testing {
namespace {


// A layer whose data is gone, or whose search gives no cursor.
class BrokenLayer : public gis::MemoryLayer {
public:
    enum class Fault { NoClass, NoCursor };
    BrokenLayer(Fault fault, std::shared_ptr<gis::MemoryFeatureClass> feature_class)
        : gis::MemoryLayer("Broken", std::move(feature_class)), m_fault(fault) {}
    std::shared_ptr<platform::IFeatureClass> FeatureClass() override {
        return m_fault == Fault::NoClass ? nullptr : gis::MemoryLayer::FeatureClass();
    }
    std::shared_ptr<platform::IFeatureCursor> Search(std::shared_ptr<platform::IQueryFilter> filter,
                                                     bool recycling) override {
        return m_fault == Fault::NoCursor ? nullptr : gis::MemoryLayer::Search(std::move(filter), recycling);
    }

private:
    Fault m_fault;
};

// An application whose status bar has no progress bar.
class NoProgressBar : public platform::IStatusBar {
public:
    std::shared_ptr<platform::IStepProgressor> ProgressBar() override { return nullptr; }
};
class BarelyAnApplication : public gis::Application {
public:
    using gis::Application::Application;
    std::shared_ptr<platform::IStatusBar> StatusBar() override { return std::make_shared<NoProgressBar>(); }
};

class HostFailures : public ::testing::Test {
protected:
    void SetUp() override {
        WriteGeoPackage(m_path, {{"parcels", kPolygon, 0, {"POLYGON((0 0,10 0,10 10,0 10,0 0))"}, {}},
                                 {"wells", kPoint, 0, {"POINT(5 5)", "POINT(50 50)"}, {}}});
        m_parcels = LoadLayer(m_path, "parcels", "Parcels");
        m_wells = LoadLayer(m_path, "wells", "Wells");
    }
    TempFolder m_folder;
    std::string m_path = m_folder.File("host.gpkg");
    std::shared_ptr<gis::MemoryLayer> m_parcels, m_wells;
};

TEST_F(HostFailures, NothingWhereTheRunNeedsSomethingGivesTheStandardReport) {
    struct Case {
        BrokenLayer::Fault fault;
        bool broken_is_layer1;
        const char* module;
        const char* description;
    };
    const Case cases[] = {
        {BrokenLayer::Fault::NoClass, true, "MODULE: btnNext_Click frmIndex Line : 7",
         "The application gave no feature class for Layer #1"},
        {BrokenLayer::Fault::NoCursor, true, "MODULE: btnNext_Click frmIndex Line : 8",
         "The application gave no cursor over Layer #1"},
        {BrokenLayer::Fault::NoClass, false, "MODULE: btnNext_Click frmIndex Line : 11",
         "The application gave no feature class for Layer #2"},
    };
    for (const auto& test : cases) {
        auto broken = std::make_shared<BrokenLayer>(test.fault, m_wells->Class());
        HostedMap hosted({m_parcels, broken});
        hosted.Open();
        if (test.broken_is_layer1) {
            hosted.Select("Parcels", "INTERSECT", "Broken");
        } else {
            hosted.Select("Broken", "INTERSECT", "Parcels");
        }
        ASSERT_EQ(hosted.messages.texts.size(), 1u) << test.module;
        EXPECT_NE(hosted.messages.texts[0].find(std::string("ERROR NUMBER: -2147467261\r\n") + test.module +
                                                "\r\nERROR DESCRIPTION: " + test.description + "\r\n"),
                  std::string::npos)
            << hosted.messages.texts[0];
        EXPECT_EQ(hosted.host->Runtime()->Screen().MousePointer(), platform::kPointerDefault);
    }

    // No progress bar at all.
    HostedMap hosted({m_parcels, m_wells});
    auto application = std::make_shared<BarelyAnApplication>(hosted.document);
    platform::InstallObjectFactory(std::make_shared<gis::ObjectFactory>(application));
    hosted.Open();
    hosted.Select("Parcels", "INTERSECT", "Wells");
    ASSERT_FALSE(hosted.messages.texts.empty());
    EXPECT_NE(hosted.messages.texts.back().find("MODULE: btnNext_Click frmIndex Line : 7\r\n"), std::string::npos);
    EXPECT_NE(hosted.messages.texts.back().find("The application gave no progress bar"), std::string::npos);
    EXPECT_EQ(hosted.host->Runtime()->Screen().MousePointer(), platform::kPointerDefault);
    application->CloseAllWindows();
}

TEST_F(HostFailures, ARedrawThatFailsStillLeavesTheTrueCount) {
    HostedMap hosted({m_parcels, m_wells});
    hosted.Open();
    hosted.Select("Parcels", "INTERSECT", "Wells");
    ASSERT_EQ(hosted.Count(), "1");

    // The redraw after the search fails: the report comes, and the count is the map's.
    int redraws = 0;
    hosted.document->View()->OnRefresh([&redraws] {
        if (++redraws == 2) throw platform::Error(platform::kFail, "The display is gone");
    });
    hosted.Select("Wells", "INTERSECT", "Parcels");
    ASSERT_EQ(hosted.messages.texts.size(), 1u);
    EXPECT_NE(hosted.messages.texts[0].find("MODULE: btnNext_Click frmIndex Line : 15\r\n"), std::string::npos);
    EXPECT_EQ(hosted.map->SelectionCount(), 1);
    EXPECT_EQ(hosted.Count(), "1");

    // "Clear Selection" whose redraw fails: reported, and the count is 0 all the same.
    hosted.document->View()->OnRefresh([] { throw platform::Error(platform::kFail, "The display is gone"); });
    hosted.host->Dialog()->Form()->Click("Command1");
    ASSERT_EQ(hosted.messages.texts.size(), 2u);
    EXPECT_NE(hosted.messages.texts[1].find("MODULE: Command1_Click frmIndex Line : 2\r\n"), std::string::npos);
    EXPECT_EQ(hosted.map->SelectionCount(), 0);
    EXPECT_EQ(hosted.Count(), "0");
}

}  // namespace
}  // namespace selvane::testing
