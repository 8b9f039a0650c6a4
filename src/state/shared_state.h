#pragma once

// State shared by the whole server on the UI thread. Each variable keeps its last value
// until the server is unloaded: OnCreate writes the product texts, OnClick the rest.

#include <memory>
#include <string>

#include "platform/arcobjects.h"

namespace selvane::state {

/// The main dialog as the rest of the system reaches it: its form, and the modeless frame
/// that hosts it.
class IMainDialog : public platform::IHostedForm {
public:
    /// The frame, created and bound on first read; nullptr when it cannot be created.
    virtual std::shared_ptr<platform::IModelessFrame> Frame() noexcept = 0;
};

/// The product name, "Selvane" once OnCreate has run; empty before.
extern std::string ProductName;
/// The product's version text, "v2.04" once OnCreate has run; empty before.
extern std::string ProductVersion;
/// The running application, taken at the latest press of the command.
extern std::shared_ptr<platform::IApplication> HostApplication;
/// The application's map document at the latest press.
extern std::shared_ptr<platform::IMxDocument> CurrentDocument;
/// The object that refers to the running application, created at the first press.
extern std::shared_ptr<platform::IObject> ApplicationSource;
/// The main dialog opened by the latest press.
extern std::shared_ptr<IMainDialog> MainDialog;
/// The hidden form frmResources that holds the command's bitmap, loaded on the first
/// Bitmap request and kept, so that the handle stays valid.
extern std::shared_ptr<platform::IForm> ResourceForm;

/// The product texts OnCreate writes, and the title of every message box.
inline constexpr const char* kProductName = "Selvane";
inline constexpr const char* kProductVersion = "v2.04";
inline constexpr const char* kMakerName = "Tollamar";
inline constexpr const char* kApplicationTitle = "Selvane";

/// The maker's addresses that the command, the reports and the help dialog show. They lie
/// under a reserved domain, so that no link points at a real third party.
inline constexpr const char* kMakerWebHost = "www.tollamar.example";
inline constexpr const char* kSupportEmail = "support@tollamar.example";
inline constexpr const char* kInfoEmail = "info@tollamar.example";
/// The product's discussion board on the maker's forum site.
inline constexpr const char* kForumAddress = "http://forum.tollamar.example/viewforum.php?f=7";

/// The shared document and application; throw platform::Error while they are not set.
platform::IMxDocument& Document();
platform::IApplication& Application();
/// The document's focus map and active view, asked of it anew; throw platform::Error when
/// the document gives none.
std::shared_ptr<platform::IMap> FocusMap();
std::shared_ptr<platform::IActiveView> ActiveView();

/// `object`, or platform::Error (E_POINTER) saying what `what` is when the host gave none.
template <typename Object>
std::shared_ptr<Object> Required(std::shared_ptr<Object> object, const char* what) {
    if (!object) throw platform::Error(platform::kPointer, std::string("The application gave no ") + what);
    return object;
}

/// Shows a message box with only an OK button, titled with the application title.
void ShowMessage(const std::string& text);

/// Empties every shared variable, as a fresh load of the server has them.
void ResetSharedState();

}  // namespace selvane::state
