#pragma once

// The forms runtime on Win32, inside Selvane.dll: forms realised from the design tables
// with CreateWindowEx, the screen by its dots per inch, MessageBoxW, the shell's "Open"
// and the user's locale's text comparison.

#include "win32/windows_include.h"

#include <memory>

#include "platform/runtime.h"

namespace selvane::win32 {

class Win32Screen : public platform::IScreen {
public:
    int Width() const override;
    int Height() const override;
    int TwipsPerPixelX() const override;
    int TwipsPerPixelY() const override;
    int MousePointer() const override { return m_pointer; }
    /// 11 is the busy pointer (IDC_WAIT) over every window of the process until set back.
    void SetMousePointer(int pointer) override;

private:
    int m_pointer = platform::kPointerDefault;
};

class Win32Runtime : public platform::IRuntime {
public:
    explicit Win32Runtime(HINSTANCE module) : m_module(module) {}
    std::shared_ptr<platform::IForm> CreateForm(const platform::FormDesign& design, platform::FormEvents events) override;
    platform::IScreen& Screen() override { return m_screen; }
    void MessageBox(const std::string& text, const std::string& title) override;
    void ShellOpen(std::intptr_t owner_window, const std::string& target) override;
    bool TextEqualsIgnoringCase(const std::string& left, const std::string& right) override;
    /// The host's main window, which owns message boxes (disabled while one is up).
    void SetMessageOwner(HWND owner) { m_message_owner = owner; }

private:
    HINSTANCE m_module;
    HWND m_message_owner = nullptr;
    Win32Screen m_screen;
};

}  // namespace selvane::win32
