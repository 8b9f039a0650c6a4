#pragma once

// What a form is in every forms runtime: its design and handlers, its controls by name,
// loaded on first use (the load handler runs then, once), the port's requests for a
// control, and the click dispatch. A runtime adds only what its window system needs: how
// the design is realised, the window, and the sizes.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/runtime.h"

namespace selvane::forms {

/// One realised control as the port sees it: a list, a caption or a picture, whichever
/// its kind has. Each runtime's control derives from it.
class ShellControl : public platform::IComboBox, public platform::ILabel, public platform::IPictureBox {
public:
    explicit ShellControl(const platform::ControlDesign& design) : m_design(design) {}
    const platform::ControlDesign& Design() const { return m_design; }
    const platform::Picture& Image() const override { return m_design.picture; }

private:
    platform::ControlDesign m_design;
};

/// The place of `text` among a drop-down list's `items`; throws platform::Error (380,
/// "Invalid property value") for a text that is none of them, as a drop-down list holds
/// only its entries' texts.
std::size_t RequireEntry(const std::vector<std::string>& items, const std::string& text);

class FormShell : public platform::IForm {
public:
    FormShell(const platform::FormDesign& design, platform::FormEvents events);
    ~FormShell() override;

    platform::IComboBox& ComboBox(const std::string& name) final;
    platform::ILabel& Label(const std::string& name) final;
    platform::IPictureBox& PictureBox(const std::string& name) final;
    /// Runs the control's click handler, as a click on it would; the form is loaded first.
    void Click(const std::string& name) final;
    const platform::FormDesign& Design() const final { return m_design; }
    bool Loaded() const final { return m_loaded; }

protected:
    /// Loads the form on first use: realises the design, then runs the load handler. Marked
    /// loaded before either, since the handler uses the form's own controls.
    void EnsureLoaded();
    /// Makes the form's window and a control for each control of the design (AddControl).
    virtual void Realise() = 0;
    /// Keeps a realised control, under its design's name; returns it.
    template <typename Control>
    Control& AddControl(std::unique_ptr<Control> control) {
        auto& kept = *control;
        m_controls[control->Design().name] = std::move(control);
        return kept;
    }
    /// The realised control `name`, or nullptr.
    ShellControl* ControlNamed(const std::string& name) const;
    /// Forgets the realised controls (before the window they live in goes).
    void ForgetControls() { m_controls.clear(); }
    /// Runs the click handler of control `name`, if it has one.
    void RunClick(const std::string& name);

private:
    ShellControl& Find(const std::string& name, platform::ControlKind expected);

    platform::FormDesign m_design;
    platform::FormEvents m_events;
    bool m_loaded = false;
    std::map<std::string, std::unique_ptr<ShellControl>> m_controls;
};

}  // namespace selvane::forms
