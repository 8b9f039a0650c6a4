#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/runtime.h"

namespace selvane::console {

/// A form realised as plain objects: one state object a control, loaded on first use.
class ConsoleForm : public platform::IForm {
public:
    /// `allocate_picture` hands out a picture handle for each control that holds a picture.
    ConsoleForm(const platform::FormDesign& design, platform::FormEvents events, std::intptr_t window,
                int extra_width, int extra_height, std::function<std::int32_t()> allocate_picture);
    ~ConsoleForm() override;

    std::intptr_t hWnd() override;
    int Width() override;
    int Height() override;
    platform::IComboBox& ComboBox(const std::string& name) override;
    platform::ILabel& Label(const std::string& name) override;
    platform::IPictureBox& PictureBox(const std::string& name) override;
    void Click(const std::string& name) override;
    const platform::FormDesign& Design() const override { return m_design; }
    bool Loaded() const override { return m_loaded; }

private:
    class Control;

    void EnsureLoaded();
    Control& Find(const std::string& name, platform::ControlKind expected);

    platform::FormDesign m_design;
    platform::FormEvents m_events;
    std::intptr_t m_window;
    int m_extra_width;
    int m_extra_height;
    std::function<std::int32_t()> m_allocate_picture;
    bool m_loaded = false;
    std::map<std::string, std::unique_ptr<Control>> m_controls;
};

}  // namespace selvane::console
