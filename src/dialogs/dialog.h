#pragma once

// What every dialog of the command is: a form made from the dialog's design, whose load
// and click events run the dialog's handlers, hosted in a modeless frame that the dialog
// keeps for its life.

#include <initializer_list>
#include <memory>
#include <string>
#include <utility>

#include "dialogs/hosted_frame.h"
#include "platform/arcobjects.h"
#include "platform/runtime.h"

namespace selvane::dialogs {

/// `Base` is the interface the dialog is known by (a hosted form, or more).
template <typename Derived, typename Base = platform::IHostedForm>
class Dialog : public Base, public std::enable_shared_from_this<Derived> {
public:
    std::shared_ptr<platform::IForm> Form() override { return m_form; }

protected:
    using Handler = void (Derived::*)() noexcept;

    /// A new dialog whose form (not loaded yet) runs `Form_Load` when it loads and, for a
    /// click on each named control, its handler.
    static std::shared_ptr<Derived> Make(const platform::FormDesign& design,
                                         std::initializer_list<std::pair<const char*, Handler>> clicks) {
        std::shared_ptr<Derived> dialog(new Derived());
        // The form lives inside the dialog, so its handlers may hold the dialog unowned.
        Derived* self = dialog.get();
        platform::FormEvents events;
        events.load = [self] { self->Form_Load(); };
        for (const auto& [control, handler] : clicks) {
            events.click[control] = [self, handler = handler] { (self->*handler)(); };
        }
        dialog->m_form = platform::Runtime().CreateForm(design, std::move(events));
        return dialog;
    }

    /// The modeless frame that hosts the dialog under `caption`, made on first read and the
    /// same afterwards; a failure to host goes as `hosting` says.
    std::shared_ptr<platform::IModelessFrame> HostedIn(const std::string& caption, HostingFailures hosting) {
        return HostedFrame(m_frame, this->shared_from_this(), caption, Derived::kUnit, hosting);
    }

    std::shared_ptr<platform::IForm> m_form;

private:
    std::shared_ptr<platform::IModelessFrame> m_frame;
};

/// The design `Make` draws, drawn on first use and kept.
template <platform::FormDesign (*Make)()>
const platform::FormDesign& DrawnOnce() {
    static const platform::FormDesign design = Make();
    return design;
}

}  // namespace selvane::dialogs
