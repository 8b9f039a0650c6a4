#pragma once

#include <QPointer>
#include <QWidget>

#include <map>
#include <memory>
#include <string>

#include "platform/runtime.h"

namespace selvane::qt {

class QtRuntime;

/// A form realised as Qt widgets from its design table. The client area is one widget
/// without a window of its own until a modeless frame (or a test) takes it in; it is
/// made, with its controls, on first use, and the load handler runs then, once.
class QtForm : public platform::IForm {
public:
    /// A form of `runtime`, which it uses while it loads and reports its outer size.
    QtForm(const platform::FormDesign& design, platform::FormEvents events, std::weak_ptr<QtRuntime> runtime);
    ~QtForm() override;

    std::intptr_t hWnd() override;
    int Width() override;
    int Height() override;
    platform::IComboBox& ComboBox(const std::string& name) override;
    platform::ILabel& Label(const std::string& name) override;
    platform::IPictureBox& PictureBox(const std::string& name) override;
    void Click(const std::string& name) override;
    const platform::FormDesign& Design() const override { return m_design; }
    bool Loaded() const override { return m_loaded; }

    /// The client area (loads the form); owned by the form until a window takes it in.
    QWidget* Widget();
    /// The widget of a control (loads the form); nullptr for an unknown name.
    QWidget* ControlWidget(const std::string& name);

private:
    class Control;

    void EnsureLoaded();
    void Realise();
    Control& Find(const std::string& name, platform::ControlKind expected);
    void RunClick(const std::string& name);
    /// The runtime; throws platform::Error when it is gone (a form kept past its host).
    QtRuntime& Runtime() const;

    platform::FormDesign m_design;
    platform::FormEvents m_events;
    std::weak_ptr<QtRuntime> m_runtime;
    bool m_loaded = false;
    QPointer<QWidget> m_widget;
    std::map<std::string, std::unique_ptr<Control>> m_controls;
};

}  // namespace selvane::qt
