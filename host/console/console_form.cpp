#include "console/console_form.h"

#include <algorithm>
#include <utility>

#include "forms/control_kinds.h"
#include "platform/error.h"

namespace selvane::console {

// Every control kind in one object: a caption (labels, frames, buttons), a list (combo
// boxes) and a picture handle (picture boxes and picture buttons).
class ConsoleForm::Control : public platform::IComboBox, public platform::ILabel, public platform::IPictureBox {
public:
    Control(const platform::ControlDesign& design, std::int32_t picture_handle)
        : m_design(design), m_caption(design.caption), m_picture_handle(picture_handle) {}

    const platform::ControlDesign& Design() const { return m_design; }

    void Clear() override {
        m_items.clear();
        m_chosen = -1;
    }
    void AddItem(const std::string& item) override { m_items.push_back(item); }
    std::string Text() const override { return m_chosen < 0 ? std::string() : m_items[m_chosen]; }
    void SetText(const std::string& text) override {
        const auto found = std::find(m_items.begin(), m_items.end(), text);
        // A drop-down list holds only its entries' texts.
        if (found == m_items.end()) throw platform::Error(380, "Invalid property value");
        m_chosen = static_cast<int>(found - m_items.begin());
    }
    std::vector<std::string> Items() const override { return m_items; }

    std::string Caption() const override { return m_caption; }
    void SetCaption(const std::string& caption) override { m_caption = caption; }

    std::int32_t PictureHandle() const override { return m_picture_handle; }
    const platform::Picture& Image() const override { return m_design.picture; }

private:
    platform::ControlDesign m_design;
    std::string m_caption;
    std::vector<std::string> m_items;
    int m_chosen = -1;
    std::int32_t m_picture_handle;
};

ConsoleForm::ConsoleForm(const platform::FormDesign& design, platform::FormEvents events, std::intptr_t window,
                         int extra_width, int extra_height, std::function<std::int32_t()> allocate_picture)
    : m_design(design),
      m_events(std::move(events)),
      m_window(window),
      m_extra_width(extra_width),
      m_extra_height(extra_height),
      m_allocate_picture(std::move(allocate_picture)) {}

ConsoleForm::~ConsoleForm() = default;

void ConsoleForm::EnsureLoaded() {
    if (m_loaded) return;
    // Marked loaded before the handler runs: the handler uses the form's own controls.
    m_loaded = true;
    for (const auto& control : m_design.controls) {
        const bool has_picture = !control.picture.rgb.empty() || !control.picture.file.empty();
        m_controls[control.name] = std::make_unique<Control>(control, has_picture ? m_allocate_picture() : 0);
    }
    if (m_events.load) m_events.load();
}

std::intptr_t ConsoleForm::hWnd() {
    EnsureLoaded();
    return m_window;
}

int ConsoleForm::Width() {
    EnsureLoaded();
    return m_design.client_width + (m_design.visible_form ? m_extra_width : 0);
}

int ConsoleForm::Height() {
    EnsureLoaded();
    return m_design.client_height + (m_design.visible_form ? m_extra_height : 0);
}

ConsoleForm::Control& ConsoleForm::Find(const std::string& name, platform::ControlKind expected) {
    EnsureLoaded();
    return forms::RequireControl(m_controls, m_design.name, name, expected);
}

platform::IComboBox& ConsoleForm::ComboBox(const std::string& name) {
    return Find(name, platform::ControlKind::ComboBox);
}

platform::ILabel& ConsoleForm::Label(const std::string& name) { return Find(name, platform::ControlKind::Label); }

platform::IPictureBox& ConsoleForm::PictureBox(const std::string& name) {
    return Find(name, platform::ControlKind::PictureBox);
}

void ConsoleForm::Click(const std::string& name) {
    EnsureLoaded();
    forms::RequireControl(m_controls, m_design.name, name);
    const auto handler = m_events.click.find(name);
    if (handler != m_events.click.end() && handler->second) handler->second();
}

}  // namespace selvane::console
