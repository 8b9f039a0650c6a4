#include "command/Selvane.h"

#include <string>

#include "dialogs/frmIndex.h"
#include "resources/command_bitmap.h"
#include "state/shared_state.h"

namespace selvane::command {

// The command writes the state every part of the system shares.
using namespace state;

namespace {

// Each member traps its own failure: a one-line message, then the default result.
template <typename Result, typename Body>
Result Trapped(const char* message, Result fallback, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        try {
            ShowMessage(message);
        } catch (...) {
        }
        return fallback;
    }
}

platform::FormDesign ResourceFormDesign() {
    platform::FormDesign design;
    design.name = "frmResources";
    design.visible_form = false;
    platform::ControlDesign picture;
    picture.name = "Picture1";
    picture.kind = platform::ControlKind::PictureBox;
    picture.position = {0, 0, 240, 240};
    picture.picture = resources::CommandBitmap();
    design.controls.push_back(std::move(picture));
    return design;
}

}  // namespace

bool Selvane::Enabled() {
    return Trapped("Error: ICommand_Enabled()", false, [] { return true; });
}

bool Selvane::Checked() {
    return Trapped("Error: ICommand_Checked", false, [] { return false; });
}

std::string Selvane::Name() {
    return Trapped("Error: ICommand_Name()", std::string(),
                   [] { return std::string(kMakerName) + "_" + kProductName; });
}

std::string Selvane::Caption() {
    return Trapped("Error: ICommand_Caption()", std::string(), [] { return std::string(kProductName); });
}

std::string Selvane::Tooltip() {
    return Trapped("Error: ICommand_Tooltip()", std::string(),
                   [] { return std::string(kProductName) + " - Spatial Selection"; });
}

std::string Selvane::Message() {
    return Trapped("Error: ICommand_Message()", std::string(),
                   [] { return std::string(kMakerName) + ": " + kMakerWebHost; });
}

std::string Selvane::HelpFile() {
    return Trapped("Error: ICommand_HelpFile()", std::string(), [] { return std::string(); });
}

std::int32_t Selvane::HelpContextID() {
    return Trapped("Error: ICommand_HelpContextID()", std::int32_t{0}, [] { return std::int32_t{0}; });
}

std::int32_t Selvane::Bitmap() {
    // A failure here gives no handle and no message.
    try {
        if (!ResourceForm) ResourceForm = platform::Runtime().CreateForm(ResourceFormDesign(), {});
        return ResourceForm->PictureBox("Picture1").PictureHandle();
    } catch (...) {
        return 0;
    }
}

std::string Selvane::Category() {
    return Trapped("Error: ICommand_Category()", std::string(), [] { return std::string(kMakerName); });
}

void Selvane::OnCreate(std::shared_ptr<platform::IObject> hook) {
    Trapped("Error: ICommand_OnCreate()", 0, [&] {
        auto application = std::dynamic_pointer_cast<platform::IApplication>(hook);
        if (!application) throw platform::Error(platform::kNoInterface, "The hook is not an application");
        m_application = std::move(application);
        ProductName = kProductName;
        ProductVersion = kProductVersion;
        return 0;
    });
}

void Selvane::OnClick() {
    Trapped("Error: ICommand_OnClick()", 0, [] {
        MainDialog = dialogs::frmIndex::Create();

        if (!ApplicationSource) ApplicationSource = platform::AppRef();
        HostApplication = std::dynamic_pointer_cast<platform::IApplication>(ApplicationSource);
        if (!HostApplication) throw platform::Error(platform::kNoInterface, "No running application");

        auto document = std::dynamic_pointer_cast<platform::IMxDocument>(HostApplication->Document());
        if (!document) throw platform::Error(platform::kNoInterface, "The document is not a map document");
        CurrentDocument = std::move(document);

        auto frame = MainDialog->Frame();
        if (!frame) throw platform::Error(platform::kPointer, "The dialog has no frame");
        frame->SetVisible(true);
        return 0;
    });
}

}  // namespace selvane::command
