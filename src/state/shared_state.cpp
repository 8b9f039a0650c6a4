#include "state/shared_state.h"

namespace selvane::state {

std::string ProductName;
std::string ProductVersion;
std::shared_ptr<platform::IApplication> HostApplication;
std::shared_ptr<platform::IMxDocument> CurrentDocument;
std::shared_ptr<platform::IObject> ApplicationSource;
std::shared_ptr<IMainDialog> MainDialog;
std::shared_ptr<platform::IForm> ResourceForm;

platform::IMxDocument& Document() {
    if (!CurrentDocument) throw platform::Error(platform::kPointer, "No map document is open");
    return *CurrentDocument;
}

platform::IApplication& Application() {
    if (!HostApplication) throw platform::Error(platform::kPointer, "No application is running");
    return *HostApplication;
}

std::shared_ptr<platform::IMap> FocusMap() { return Required(Document().FocusMap(), "focus map"); }

std::shared_ptr<platform::IActiveView> ActiveView() { return Required(Document().ActiveView(), "active view"); }

void ShowMessage(const std::string& text) {
    platform::Runtime().MessageBox(text, kApplicationTitle);
}

void ResetSharedState() {
    ProductName.clear();
    ProductVersion.clear();
    HostApplication.reset();
    CurrentDocument.reset();
    ApplicationSource.reset();
    MainDialog.reset();
    ResourceForm.reset();
}

}  // namespace selvane::state
