// Listing the focus map's feature layers and finding one by name.

#include "gis/memory/layer.h"
#include "state/shared_state.h"
#include "support/Tollamar_ArcMap.h"
#include "test_support.h"

namespace selvane::testing {
namespace {

using Layers = std::vector<std::shared_ptr<platform::ILayer>>;

class LayerWalk : public ::testing::Test {
protected:
    void SetUp() override {
        WriteGeoPackage(m_path, {{"t", 3, 0, {"POLYGON((0 0,1 0,1 1,0 1,0 0))"}, {}}});
    }
    std::shared_ptr<gis::MemoryLayer> Feature(const std::string& name) { return LoadLayer(m_path, "t", name); }
    std::vector<std::string> Listed(HostedMap& hosted) {
        return hosted.Open().ComboBox("cboMapLayers").Items();
    }

    TempFolder m_folder;
    std::string m_path = m_folder.File("walk.gpkg");
};

TEST_F(LayerWalk, GoesOneLevelIntoGroupsAndSkipsOtherKinds) {
    auto roads = Feature("Roads");
    auto parcels = Feature("Parcels");
    auto wells = Feature("Wells");
    auto old = std::make_shared<gis::GroupLayer>("Old", Layers{wells});
    auto base = std::make_shared<gis::GroupLayer>("Base", Layers{parcels, old});
    HostedMap hosted({roads, std::make_shared<gis::RasterLayer>("Imagery", "none.tif"), base});
    EXPECT_EQ(Listed(hosted), (std::vector<std::string>{"Roads", "Parcels"}));
    EXPECT_EQ(support::GetFeatureLayerByName("Parcels"), parcels);
    for (const char* hidden : {"Wells", "Imagery", "Base", "Old"}) {
        EXPECT_EQ(support::GetFeatureLayerByName(hidden), nullptr) << hidden;
    }
    EXPECT_TRUE(hosted.messages.texts.empty());
}

TEST_F(LayerWalk, DuplicatesStayAndTheLastMatchWins) {
    auto member = Feature("Roads");
    auto top = Feature("Roads");
    auto empty_group = std::make_shared<gis::GroupLayer>("Empty", Layers{});
    HostedMap hosted({std::make_shared<gis::GroupLayer>("G", Layers{member}), empty_group, top});
    EXPECT_EQ(Listed(hosted), (std::vector<std::string>{"Roads", "Roads"}));
    EXPECT_EQ(support::GetFeatureLayerByName("Roads"), top);
}

TEST_F(LayerWalk, NamesCompareIgnoringCaseButNotBlanks) {
    auto roads = Feature("Roads");
    auto accented = Feature("Rivière");
    HostedMap hosted({roads, accented});
    hosted.Open();
    EXPECT_EQ(support::GetFeatureLayerByName("roads"), roads);
    EXPECT_EQ(support::GetFeatureLayerByName("ROADS"), roads);
    EXPECT_EQ(support::GetFeatureLayerByName("RIVIÈRE"), accented);
    EXPECT_EQ(support::GetFeatureLayerByName("Riviere"), nullptr);  // accents count
    EXPECT_EQ(support::GetFeatureLayerByName("Roads "), nullptr);
    EXPECT_EQ(support::GetFeatureLayerByName(""), nullptr);
    EXPECT_TRUE(hosted.messages.texts.empty());
}

TEST_F(LayerWalk, AnEmptyMapListsNothingAndFindsNothing) {
    HostedMap hosted({});
    EXPECT_TRUE(Listed(hosted).empty());
    EXPECT_EQ(support::GetFeatureLayerByName("Roads"), nullptr);
    EXPECT_TRUE(hosted.messages.texts.empty());
}

TEST_F(LayerWalk, AGroupOfMoreThan32767MembersIsWalkedInFull) {
    auto shared = Feature("Member");
    Layers members(32770, shared);
    auto last = Feature("Last");
    members.push_back(last);
    HostedMap hosted({std::make_shared<gis::GroupLayer>("Big", members)});
    const auto listed = Listed(hosted);
    ASSERT_EQ(listed.size(), 32771u);
    EXPECT_EQ(listed.back(), "Last");
    EXPECT_EQ(support::GetFeatureLayerByName("last"), last);
    EXPECT_TRUE(hosted.messages.texts.empty());
}

// A layer whose name cannot be read, as when its data source has gone.
class NamelessLayer : public platform::ILayer, public platform::IFeatureLayer {
public:
    std::string Name() override { throw platform::Error(platform::kFail, "source gone"); }
    std::shared_ptr<platform::IFeatureClass> FeatureClass() override { return nullptr; }
    std::shared_ptr<platform::IFeatureCursor> Search(std::shared_ptr<platform::IQueryFilter>, bool) override {
        return nullptr;
    }
};

TEST_F(LayerWalk, FailuresShowTheirOwnMessagesAndKeepWhatWasListed) {
    HostedMap hosted({Feature("Roads"), std::make_shared<NamelessLayer>(), Feature("Parcels")});
    auto& form = hosted.Open();
    EXPECT_EQ(form.ComboBox("cboMapLayers").Items(), std::vector<std::string>{"Roads"});
    EXPECT_EQ(hosted.messages.texts,
              (std::vector<std::string>{"Error loading map layers", "Error loading map layers"}));
    // The set-up went on: the relationships are there.
    EXPECT_EQ(form.ComboBox("cboRelationship").Text(), "INTERSECT");

    EXPECT_EQ(support::GetFeatureLayerByName("Parcels"), nullptr);
    EXPECT_EQ(hosted.messages.texts.back(), "Error: Could not find layer Parcels");
}

}  // namespace
}  // namespace selvane::testing
