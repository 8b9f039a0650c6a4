#pragma once

#include <cstdint>
#include <functional>

#include "forms/form_shell.h"
#include "platform/runtime.h"

namespace selvane::console {

/// A form realised as plain objects: one state object a control, loaded on first use.
class ConsoleForm : public forms::FormShell {
public:
    /// `allocate_picture` hands out a picture handle for each control that holds a picture.
    ConsoleForm(const platform::FormDesign& design, platform::FormEvents events, std::intptr_t window,
                int extra_width, int extra_height, std::function<std::int32_t()> allocate_picture);
    ~ConsoleForm() override;

    std::intptr_t hWnd() override;
    int Width() override;
    int Height() override;

private:
    class Control;

    void Realise() override;

    std::intptr_t m_window;
    int m_extra_width;
    int m_extra_height;
    std::function<std::int32_t()> m_allocate_picture;
};

}  // namespace selvane::console
