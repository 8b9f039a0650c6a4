// The command as the map application sees it: properties, OnCreate, OnClick, Frame,
// Bitmap, and the shared state they leave behind.

#include "command/Selvane.h"
#include "gis/model/application.h"
#include "state/shared_state.h"
#include "support/ErrorHandling.h"
#include "test_support.h"

namespace selvane::testing {
namespace {

TEST(Command, PropertiesHoldBeforeOnCreateAndNeedNoDocument) {
    HostedMap hosted({});
    command::Selvane command;
    EXPECT_TRUE(command.Enabled());
    EXPECT_FALSE(command.Checked());
    EXPECT_EQ(command.Name(), "Tollamar_Selvane");
    EXPECT_EQ(command.Caption(), "Selvane");
    EXPECT_EQ(command.Tooltip(), "Selvane - Spatial Selection");
    EXPECT_EQ(command.Category(), "Tollamar");
    EXPECT_EQ(command.Message(), "Tollamar: www.tollamar.example");
    EXPECT_EQ(command.HelpFile(), "");
    EXPECT_EQ(command.HelpContextID(), 0);
    EXPECT_TRUE(state::ProductName.empty());
    EXPECT_TRUE(hosted.messages.texts.empty());
}

TEST(Command, BitmapIsASixteenPixelTwentyFourBitPictureWithAStableHandle) {
    HostedMap hosted({});
    command::Selvane first;
    command::Selvane second;
    const auto handle = first.Bitmap();
    EXPECT_NE(handle, 0);
    EXPECT_EQ(second.Bitmap(), handle);  // one resource form for the server's life
}

TEST(Command, AHookThatIsNotAnApplicationLeavesTheProductTextsEmpty) {
    HostedMap hosted({});
    command::Selvane command;
    command.OnCreate(std::make_shared<gis::OtherDocument>());
    ASSERT_EQ(hosted.messages.texts, std::vector<std::string>{"Error: ICommand_OnCreate()"});
    EXPECT_EQ(hosted.messages.titles.front(), "Selvane");
    EXPECT_TRUE(state::ProductName.empty());
    EXPECT_TRUE(state::ProductVersion.empty());

    // A press still opens the dialog; a report made now shows the empty texts.
    command.OnClick();
    support::ReportUnexpectedError("Form_Load frmIndex ", 5, "x");
    EXPECT_NE(hosted.messages.texts.back().find("\r\nAPPLICATION:  \r\n"), std::string::npos);

    command.OnCreate(hosted.host->Application());
    EXPECT_EQ(state::ProductName, "Selvane");
    EXPECT_EQ(state::ProductVersion, "v2.04");
}

TEST(Command, ADocumentThatIsNotAMapDocumentOpensNoDialog) {
    HostedMap hosted({});
    hosted.host->CreateCommand();
    hosted.host->Press();
    const auto first_dialog = state::MainDialog;
    const auto first_document = state::CurrentDocument;
    ASSERT_EQ(hosted.host->Application()->Windows().size(), 1u);

    hosted.host->Application()->OpenDocument(std::make_shared<gis::OtherDocument>());
    hosted.host->Press();
    EXPECT_EQ(hosted.messages.texts, std::vector<std::string>{"Error: ICommand_OnClick()"});
    EXPECT_NE(state::MainDialog, first_dialog);  // the new dialog, never shown
    EXPECT_FALSE(state::MainDialog->Form()->Loaded());
    EXPECT_EQ(state::CurrentDocument, first_document);
    EXPECT_EQ(hosted.host->Application()->Windows().size(), 1u);
}

TEST(Command, TwoPressesOpenTwoDialogsThatBothWorkOnTheSecondDocument) {
    TempFolder folder;
    const auto path = folder.File("two.gpkg");
    WriteGeoPackage(path, {{"a", 3, 0, {"POLYGON((0 0,1 0,1 1,0 1,0 0))"}, {}}});
    HostedMap hosted({LoadLayer(path, "a")});
    hosted.host->Press();
    const auto first = state::MainDialog;

    auto second_map = std::make_shared<gis::Map>(std::vector<std::shared_ptr<platform::ILayer>>{LoadLayer(path, "a", "b")});
    auto second_document = std::make_shared<gis::MxDocument>(second_map);
    hosted.host->Application()->OpenDocument(second_document);
    hosted.host->Press();
    const auto second = state::MainDialog;

    ASSERT_NE(first, second);
    EXPECT_EQ(hosted.host->Application()->Windows().size(), 2u);
    EXPECT_EQ(state::CurrentDocument, second_document);
    EXPECT_NE(first->Frame(), second->Frame());

    // The first dialog still lists the first map, but its run works on the second.
    auto& old_form = *first->Form();
    EXPECT_EQ(old_form.ComboBox("cboMapLayers").Items(), std::vector<std::string>{"a"});
    old_form.ComboBox("cboMapLayers").SetText("a");
    old_form.ComboBox("cboSearchLayers").SetText("a");
    old_form.Click("btnNext");
    EXPECT_EQ(hosted.messages.texts, std::vector<std::string>{"Can't find layer: a"});
}

TEST(Command, FrameIsCreatedOnceAlsoWhenReadFromInsideTheLoad) {
    HostedMap hosted({});
    hosted.host->Press();
    auto dialog = state::MainDialog;
    auto frame = dialog->Frame();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(dialog->Frame(), frame);
    EXPECT_TRUE(frame->Visible());
    EXPECT_EQ(frame->Caption(), "Selvane");
    // The load read Frame through MainDialog while the first read was creating it: one
    // frame, moved once, and it hosts this dialog.
    auto model_frame = std::dynamic_pointer_cast<gis::ModelessFrame>(frame);
    ASSERT_NE(model_frame, nullptr);
    EXPECT_EQ(model_frame->MoveCount(), 1);
    EXPECT_EQ(model_frame->Dialog(), dialog);
    EXPECT_EQ(hosted.host->Application()->Windows().size(), 1u);
}

// A factory whose frames cannot be created, as when the application refuses a window.
class NoFrameFactory : public gis::ObjectFactory {
public:
    using gis::ObjectFactory::ObjectFactory;
    std::shared_ptr<platform::IModelessFrame> CreateModelessFrame() override {
        throw platform::Error(platform::kFail, "No window can be created");
    }
};

TEST(Command, AFrameThatCannotBeCreatedIsReportedAndThePressFails) {
    HostedMap hosted({});
    platform::InstallObjectFactory(std::make_shared<NoFrameFactory>(hosted.host->Application()));
    hosted.host->Press();
    ASSERT_EQ(hosted.messages.texts.size(), 2u);
    EXPECT_NE(hosted.messages.texts[0].find("MODULE: Frame frmIndex Line : 2\r\n"), std::string::npos);
    EXPECT_NE(hosted.messages.texts[0].find("ERROR DESCRIPTION: No window can be created\r\n"), std::string::npos);
    EXPECT_EQ(hosted.messages.texts[1], "Error: ICommand_OnClick()");
    EXPECT_FALSE(state::MainDialog->Form()->Loaded());
}

}  // namespace
}  // namespace selvane::testing
