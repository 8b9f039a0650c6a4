#include "dialogs/frmHelp.h"

#include "state/shared_state.h"
#include "support/ErrorHandling.h"

namespace selvane::dialogs {

std::shared_ptr<frmHelp> frmHelp::Create() {
    return Make(frmHelpDesign(), {{"Label2", &frmHelp::Label2_Click},
                                  {"Label3", &frmHelp::Label3_Click},
                                  {"Label4", &frmHelp::Label4_Click},
                                  {"Label5", &frmHelp::Label5_Click}});
}

std::shared_ptr<platform::IModelessFrame> frmHelp::Frame() {
    // No trap of its own for hosting and the caption: a failure there reaches the caller.
    return HostedIn(state::ProductName + " - Help", HostingFailures::Thrown);
}

std::string frmHelp::WebSiteTarget() { return std::string("http://") + state::kMakerWebHost; }

std::string frmHelp::EmailTarget() { return std::string("mailto:") + state::kInfoEmail; }

std::string frmHelp::UpdatesTarget() {
    return std::string("http://") + state::kMakerWebHost + "/Products/ArcGIS/" + state::ProductName +
           "/index.htm";
}

std::string frmHelp::ForumTarget() { return state::kForumAddress; }

void frmHelp::OpenLink(const char* procedure, const std::string& target) noexcept {
    try {
        // The shell's answer is not examined: a link no program handles does nothing.
        platform::Runtime().ShellOpen(m_form->hWnd(), target);
    } catch (...) {
        support::ReportCurrentError(procedure, kUnit, 1);
    }
}

void frmHelp::Label2_Click() noexcept { OpenLink("Label2_Click", WebSiteTarget()); }
void frmHelp::Label3_Click() noexcept { OpenLink("Label3_Click", EmailTarget()); }
void frmHelp::Label4_Click() noexcept { OpenLink("Label4_Click", UpdatesTarget()); }
void frmHelp::Label5_Click() noexcept { OpenLink("Label5_Click", ForumTarget()); }

}  // namespace selvane::dialogs
