#pragma once

// The help dialog: the help picture with four links laid over it (the maker's web site,
// e-mail address, the product's updates page and its forum), each handed to the shell.

#include <memory>
#include <string>

#include "dialogs/dialog.h"
#include "platform/arcobjects.h"
#include "platform/runtime.h"

namespace selvane::dialogs {

class frmHelp : public Dialog<frmHelp> {
public:
    /// The unit name that error reports give as the failing procedure's module.
    static constexpr const char* kUnit = "frmHelp";

    /// A new help dialog whose form is not loaded yet.
    static std::shared_ptr<frmHelp> Create();

    /// The modeless frame hosting the dialog, created on first read with the caption
    /// "Selvane - Help"; the same frame afterwards. nullptr when it cannot be created.
    std::shared_ptr<platform::IModelessFrame> Frame();

    /// Loading the help dialog does no work of its own.
    void Form_Load() noexcept {}
    /// The links: each hands its target to the shell's Open.
    void Label2_Click() noexcept;
    void Label3_Click() noexcept;
    void Label4_Click() noexcept;
    void Label5_Click() noexcept;

    /// What each link hands to the shell.
    static std::string WebSiteTarget();
    static std::string EmailTarget();
    static std::string UpdatesTarget();
    static std::string ForumTarget();

private:
    friend class Dialog<frmHelp>;
    frmHelp() = default;

    /// Hands `target` to the shell; a failure goes through the standard report.
    void OpenLink(const char* procedure, const std::string& target) noexcept;
};

/// The help dialog's design: the picture, Frame1 and the four link labels.
const platform::FormDesign& frmHelpDesign();

}  // namespace selvane::dialogs
