#pragma once

// The headless forms runtime: forms realised as plain objects, message boxes delivered
// to a sink (stderr in the apps, a recorder in tests), a screen of a configured size.

#include <functional>
#include <memory>
#include <string>

#include "forms/portable_runtime.h"
#include "platform/runtime.h"

namespace selvane::console {

struct ScreenSettings {
    int width_pixels = 1024;
    int height_pixels = 768;
    int twips_per_pixel_x = 15;
    int twips_per_pixel_y = 15;
};

/// What a form's window adds to its client area, in twips (borders and title bar).
struct FrameSettings {
    int extra_width = 90;
    int extra_height = 420;
};

class ConsoleRuntime : public forms::PortableRuntime {
public:
    /// Receives each message box: its text and its title.
    using MessageSink = std::function<void(const std::string& text, const std::string& title)>;

    explicit ConsoleRuntime(MessageSink messages, ScreenSettings screen = {}, FrameSettings frame = {});
    ~ConsoleRuntime() override;

    std::shared_ptr<platform::IForm> CreateForm(const platform::FormDesign& design,
                                                platform::FormEvents events) override;
    platform::IScreen& Screen() override;
    void MessageBox(const std::string& text, const std::string& title) override;
    /// Goes to the shell sink; without one, nothing opens.
    void ShellOpen(std::intptr_t owner_window, const std::string& target) override;

private:
    class ConsoleScreen;

    MessageSink m_messages;
    std::unique_ptr<ConsoleScreen> m_screen;
    FrameSettings m_frame;
    std::intptr_t m_next_window = 0x1000;
    // Shared with the forms, which may be loaded after this runtime is replaced.
    std::shared_ptr<std::int32_t> m_next_picture = std::make_shared<std::int32_t>(1);
};

}  // namespace selvane::console
