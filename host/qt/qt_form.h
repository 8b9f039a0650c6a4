#pragma once

#include <QPointer>
#include <QWidget>

#include <memory>
#include <string>

#include "forms/form_shell.h"
#include "platform/runtime.h"

namespace selvane::qt {

class QtRuntime;

/// A form realised as Qt widgets from its design table. The client area is one widget
/// without a window of its own until a modeless frame (or a test) takes it in; it is
/// made, with its controls, on first use, and the load handler runs then, once.
class QtForm : public forms::FormShell {
public:
    /// A form of `runtime`, which it uses while it loads and reports its outer size.
    QtForm(const platform::FormDesign& design, platform::FormEvents events, std::weak_ptr<QtRuntime> runtime);
    ~QtForm() override;

    std::intptr_t hWnd() override;
    int Width() override;
    int Height() override;

    /// The client area (loads the form); owned by the form until a window takes it in.
    QWidget* Widget();
    /// The widget of a control (loads the form); nullptr for an unknown name.
    QWidget* ControlWidget(const std::string& name);

private:
    class Control;

    void Realise() override;
    /// An outer size in twips: the client area's, and the window's frame.
    int OuterTwips(int client, int frame_pixels, int twips_per_pixel) const;
    /// The runtime; throws platform::Error when it is gone (a form kept past its host).
    QtRuntime& Runtime() const;

    std::weak_ptr<QtRuntime> m_runtime;
    QPointer<QWidget> m_widget;
};

}  // namespace selvane::qt
