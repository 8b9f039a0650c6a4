#include "console/console_runtime.h"

#include "console/console_form.h"

namespace selvane::console {

class ConsoleRuntime::ConsoleScreen : public platform::IScreen {
public:
    explicit ConsoleScreen(ScreenSettings settings) : m_settings(settings) {}
    int Width() const override { return m_settings.width_pixels * m_settings.twips_per_pixel_x; }
    int Height() const override { return m_settings.height_pixels * m_settings.twips_per_pixel_y; }
    int TwipsPerPixelX() const override { return m_settings.twips_per_pixel_x; }
    int TwipsPerPixelY() const override { return m_settings.twips_per_pixel_y; }
    int MousePointer() const override { return m_pointer; }
    void SetMousePointer(int pointer) override { m_pointer = pointer; }

private:
    ScreenSettings m_settings;
    int m_pointer = platform::kPointerDefault;
};

ConsoleRuntime::ConsoleRuntime(MessageSink messages, ScreenSettings screen, FrameSettings frame)
    : m_messages(std::move(messages)),
      m_screen(std::make_unique<ConsoleScreen>(screen)),
      m_frame(frame) {}

ConsoleRuntime::~ConsoleRuntime() = default;

std::shared_ptr<platform::IForm> ConsoleRuntime::CreateForm(const platform::FormDesign& design,
                                                            platform::FormEvents events) {
    return std::make_shared<ConsoleForm>(design, std::move(events), m_next_window++, m_frame.extra_width,
                                         m_frame.extra_height, [next = m_next_picture] { return (*next)++; });
}

platform::IScreen& ConsoleRuntime::Screen() { return *m_screen; }

void ConsoleRuntime::MessageBox(const std::string& text, const std::string& title) {
    if (m_messages) m_messages(text, title);
}

void ConsoleRuntime::ShellOpen(std::intptr_t owner_window, const std::string& target) {
    ToShellSink(owner_window, target);
}

}  // namespace selvane::console
