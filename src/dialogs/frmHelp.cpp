#include "dialogs/frmHelp.h"

#include "command/shared_state.h"
#include "dialogs/hosted_frame.h"
#include "support/ErrorHandling.h"

namespace selvane::dialogs {

std::shared_ptr<frmHelp> frmHelp::Create() {
    std::shared_ptr<frmHelp> dialog(new frmHelp());
    // The form lives inside the dialog, so its handlers may hold the dialog unowned.
    frmHelp* self = dialog.get();
    platform::FormEvents events;
    events.load = [self] { self->Form_Load(); };
    events.click["Label2"] = [self] { self->Label2_Click(); };
    events.click["Label3"] = [self] { self->Label3_Click(); };
    events.click["Label4"] = [self] { self->Label4_Click(); };
    events.click["Label5"] = [self] { self->Label5_Click(); };
    dialog->m_form = platform::Runtime().CreateForm(frmHelpDesign(), std::move(events));
    return dialog;
}

std::shared_ptr<platform::IModelessFrame> frmHelp::Frame() {
    // No trap of its own for hosting and the caption: a failure there reaches the caller.
    return HostedFrame(m_frame, shared_from_this(), command::ProductName + " - Help", kUnit,
                       HostingFailures::Thrown);
}

std::string frmHelp::WebSiteTarget() { return std::string("http://") + command::kMakerWebHost; }

std::string frmHelp::EmailTarget() { return std::string("mailto:") + command::kInfoEmail; }

std::string frmHelp::UpdatesTarget() {
    return std::string("http://") + command::kMakerWebHost + "/Products/ArcGIS/" + command::ProductName +
           "/index.htm";
}

std::string frmHelp::ForumTarget() { return command::kForumAddress; }

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
