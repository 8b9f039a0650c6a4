// The Spatial Selection dialog before the user acts: design, centring, lists, count.

#include "dialogs/frmIndex_design.h"
#include "gis/model/application.h"
#include "state/shared_state.h"
#include "test_support.h"

namespace selvane::testing {
namespace {

TEST(DialogSetup, CentresByTheScreensTwipsWithHalvesToEven) {
    console::ConsoleRuntime runtime(nullptr, {1024, 768, 15, 15});
    EXPECT_EQ(dialogs::CentredPosition(runtime.Screen(), 6000, 3000).left, 312);
    EXPECT_EQ(dialogs::CentredPosition(runtime.Screen(), 6015, 3000).left, 312);
    EXPECT_EQ(dialogs::CentredPosition(runtime.Screen(), 6045, 3000).left, 310);
    EXPECT_EQ(dialogs::CentredPosition(runtime.Screen(), 6000, 3000).top, 284);
    console::ConsoleRuntime wide(nullptr, {1920, 1080, 12, 10});
    EXPECT_EQ(dialogs::CentredPosition(wide.Screen(), 6000, 3000).left, 710);
    EXPECT_EQ(dialogs::CentredPosition(wide.Screen(), 6000, 3000).top, 390);
}

TEST(DialogSetup, AnEmptyMapGivesEmptyLayerListsAndTheRelationships) {
    HostedMap hosted({});
    auto& form = hosted.Open();
    EXPECT_TRUE(form.ComboBox("cboMapLayers").Items().empty());
    EXPECT_TRUE(form.ComboBox("cboSearchLayers").Items().empty());
    EXPECT_EQ(form.ComboBox("cboRelationship").Items(),
              (std::vector<std::string>{"INTERSECT", "ENVELOPE INTERSECT", "TOUCH", "OVERLAP", "CROSS",
                                        "WHOLLY CONTAIN", "ARE WHOLLY CONTAINED BY"}));
    EXPECT_EQ(form.ComboBox("cboRelationship").Text(), "INTERSECT");
    EXPECT_EQ(form.Label("lblCount").Caption(), "0");
    EXPECT_EQ(form.Label("txtVersion").Caption(), "v2.04");
    EXPECT_EQ(hosted.host->Runtime()->Screen().MousePointer(), platform::kPointerDefault);

    // The frame is centred on the 1024 × 768 screen by the form's outer size.
    auto frame = std::dynamic_pointer_cast<gis::ModelessFrame>(hosted.host->Dialog()->Frame());
    const auto expected = dialogs::CentredPosition(hosted.host->Runtime()->Screen(), form.Width(), form.Height());
    EXPECT_EQ(frame->Left(), expected.left);
    EXPECT_EQ(frame->Top(), expected.top);
    EXPECT_TRUE(hosted.messages.texts.empty());
}

TEST(DialogSetup, CountsFeaturesSelectedBeforeTheDialogOpened) {
    TempFolder folder;
    const auto path = folder.File("count.gpkg");
    WriteGeoPackage(path, {{"pts", 1, 0, {"POINT(0 0)", "POINT(1 1)", "POINT(2 2)", "POINT(3 3)"}, {}}});
    auto points = LoadLayer(path, "pts");
    auto more = LoadLayer(path, "pts", "more");
    HostedMap hosted({points, std::make_shared<gis::GroupLayer>("g", std::vector<std::shared_ptr<platform::ILayer>>{more})});
    auto cursor = points->Search(nullptr, false);
    points->Add(cursor->NextFeature());
    points->Add(cursor->NextFeature());
    more->Add(more->Search(nullptr, false)->NextFeature());
    auto& form = hosted.Open();
    EXPECT_EQ(form.Label("lblCount").Caption(), "3");
    EXPECT_EQ(form.ComboBox("cboMapLayers").Items(), (std::vector<std::string>{"pts", "more"}));
    EXPECT_EQ(form.ComboBox("cboMapLayers").Text(), "");
    EXPECT_EQ(form.ComboBox("cboSearchLayers").Text(), "");

    // Picking layers runs nothing.
    form.ComboBox("cboMapLayers").SetText("more");
    form.Click("cboMapLayers");
    form.Click("cboSearchLayers");
    EXPECT_EQ(form.Label("lblCount").Caption(), "3");
    EXPECT_EQ(hosted.map->SelectionCount(), 3);
}

// A map whose selection count cannot be read.
class UncountableMap : public gis::Map {
public:
    std::int32_t SelectionCount() override { throw platform::Error(-2147467259, "count failed"); }
};

TEST(DialogSetup, AFailedSetUpReportsItsLineKeepsWhatWasDoneAndRestoresThePointer) {
    MessageLog messages;
    auto document = std::make_shared<gis::MxDocument>(std::make_shared<UncountableMap>());
    headless::HeadlessHost host(document, messages.Sink());
    host.Press();
    auto& form = *host.Dialog()->Form();
    ASSERT_EQ(messages.texts.size(), 1u);
    EXPECT_NE(messages.texts[0].find("ERROR NUMBER: -2147467259\r\nMODULE: Form_Load frmIndex Line : 5\r\n"
                                     "ERROR DESCRIPTION: count failed\r\n"),
              std::string::npos);
    EXPECT_EQ(form.Label("txtVersion").Caption(), "v2.04");
    EXPECT_TRUE(form.ComboBox("cboRelationship").Items().empty());
    EXPECT_EQ(host.Runtime()->Screen().MousePointer(), platform::kPointerDefault);
    EXPECT_TRUE(host.Dialog()->Frame()->Visible());  // the dialog still opens
}

TEST(DialogSetup, TheDesignReadsAsOneSentenceAndTabsFromTheBottomRowUp) {
    const auto& design = dialogs::frmIndexDesign();
    EXPECT_EQ(design.client_width, 6285);
    EXPECT_EQ(design.client_height, 3780);
    std::vector<std::pair<int, std::string>> focus;
    for (const auto& control : design.controls) {
        const bool focusable = control.kind == platform::ControlKind::ComboBox ||
                               control.kind == platform::ControlKind::Button;
        if (focusable) focus.emplace_back(control.tab_index, control.name);
    }
    std::sort(focus.begin(), focus.end());
    std::vector<std::string> order;
    for (const auto& [index, name] : focus) order.push_back(name);
    EXPECT_EQ(order, (std::vector<std::string>{"cboMapLayers", "cboRelationship", "cboSearchLayers", "Command1",
                                               "btnNext", "btnHelp2"}));
    // Every container named is a frame of the design.
    for (const auto& control : design.controls) {
        if (control.container.empty()) continue;
        const auto container = std::find_if(design.controls.begin(), design.controls.end(),
                                            [&](const auto& other) { return other.name == control.container; });
        ASSERT_NE(container, design.controls.end()) << control.name;
        EXPECT_EQ(container->kind, platform::ControlKind::Frame) << control.name;
    }
}

}  // namespace
}  // namespace selvane::testing
