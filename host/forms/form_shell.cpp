#include "forms/form_shell.h"

#include <algorithm>
#include <utility>

#include "forms/control_kinds.h"
#include "platform/error.h"

namespace selvane::forms {

std::size_t RequireEntry(const std::vector<std::string>& items, const std::string& text) {
    const auto found = std::find(items.begin(), items.end(), text);
    if (found == items.end()) throw platform::Error(platform::kInvalidPropertyValue, "Invalid property value");
    return static_cast<std::size_t>(found - items.begin());
}

FormShell::FormShell(const platform::FormDesign& design, platform::FormEvents events)
    : m_design(design), m_events(std::move(events)) {}

FormShell::~FormShell() = default;

void FormShell::EnsureLoaded() {
    if (m_loaded) return;
    m_loaded = true;
    Realise();
    if (m_events.load) m_events.load();
}

ShellControl* FormShell::ControlNamed(const std::string& name) const {
    const auto found = m_controls.find(name);
    return found == m_controls.end() ? nullptr : found->second.get();
}

ShellControl& FormShell::Find(const std::string& name, platform::ControlKind expected) {
    EnsureLoaded();
    return RequireControl(m_controls, m_design.name, name, expected);
}

platform::IComboBox& FormShell::ComboBox(const std::string& name) {
    return Find(name, platform::ControlKind::ComboBox);
}

platform::ILabel& FormShell::Label(const std::string& name) { return Find(name, platform::ControlKind::Label); }

platform::IPictureBox& FormShell::PictureBox(const std::string& name) {
    return Find(name, platform::ControlKind::PictureBox);
}

void FormShell::Click(const std::string& name) {
    EnsureLoaded();
    RequireControl(m_controls, m_design.name, name);
    RunClick(name);
}

void FormShell::RunClick(const std::string& name) {
    const auto handler = m_events.click.find(name);
    if (handler != m_events.click.end() && handler->second) handler->second();
}

}  // namespace selvane::forms
