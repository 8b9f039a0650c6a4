#include "console/console_form.h"

#include <utility>

namespace selvane::console {

// Every control kind in one object: a caption (labels, frames, buttons), a list (combo
// boxes) and a picture handle (picture boxes and picture buttons).
class ConsoleForm::Control : public forms::ShellControl {
public:
    Control(const platform::ControlDesign& design, std::int32_t picture_handle)
        : ShellControl(design), m_caption(design.caption), m_picture_handle(picture_handle) {}

    void Clear() override {
        m_items.clear();
        m_chosen = -1;
    }
    void AddItem(const std::string& item) override { m_items.push_back(item); }
    std::string Text() const override { return m_chosen < 0 ? std::string() : m_items[m_chosen]; }
    void SetText(const std::string& text) override { m_chosen = static_cast<int>(forms::RequireEntry(m_items, text)); }
    std::vector<std::string> Items() const override { return m_items; }

    std::string Caption() const override { return m_caption; }
    void SetCaption(const std::string& caption) override { m_caption = caption; }

    std::int32_t PictureHandle() const override { return m_picture_handle; }

private:
    std::string m_caption;
    std::vector<std::string> m_items;
    int m_chosen = -1;
    std::int32_t m_picture_handle;
};

ConsoleForm::ConsoleForm(const platform::FormDesign& design, platform::FormEvents events, std::intptr_t window,
                         int extra_width, int extra_height, std::function<std::int32_t()> allocate_picture)
    : FormShell(design, std::move(events)),
      m_window(window),
      m_extra_width(extra_width),
      m_extra_height(extra_height),
      m_allocate_picture(std::move(allocate_picture)) {}

ConsoleForm::~ConsoleForm() = default;

void ConsoleForm::Realise() {
    for (const auto& control : Design().controls) {
        const bool has_picture = !control.picture.rgb.empty() || !control.picture.file.empty();
        AddControl(std::make_unique<Control>(control, has_picture ? m_allocate_picture() : 0));
    }
}

std::intptr_t ConsoleForm::hWnd() {
    EnsureLoaded();
    return m_window;
}

int ConsoleForm::Width() {
    EnsureLoaded();
    return Design().client_width + (Design().visible_form ? m_extra_width : 0);
}

int ConsoleForm::Height() {
    EnsureLoaded();
    return Design().client_height + (Design().visible_form ? m_extra_height : 0);
}

}  // namespace selvane::console
