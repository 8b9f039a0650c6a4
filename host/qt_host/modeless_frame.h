#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

#include "gis/model/application.h"

namespace selvane::qt_host {

/// The window of a modeless frame: a tool window owned by the main window, fixed to the
/// size of the dialog it hosts.
class FrameWindow : public QWidget {
public:
    explicit FrameWindow(QWidget* owner);
    std::function<void()> on_close;

protected:
    void closeEvent(QCloseEvent* event) override;
};

/// A modeless frame as a Qt window: the model's frame (which keeps a shown dialog alive
/// until its window closes) with a real window. Closing the window frees the dialog.
class QtModelessFrame : public gis::ModelessFrame {
public:
    QtModelessFrame(std::weak_ptr<gis::Application> application, QWidget* owner);
    ~QtModelessFrame() override;

    void Create(std::shared_ptr<platform::IHostedForm> dialog) override;
    void SetCaption(const std::string& caption) override;
    void SetVisible(bool visible) override;
    void Move(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) override;

    /// The frame's window; nullptr once the owner window is gone.
    FrameWindow* Window() const { return m_window; }

private:
    std::weak_ptr<gis::Application> m_application_ref;
    QPointer<FrameWindow> m_window;
};

/// The creatable classes of a Qt host: the model's, with modeless frames as windows owned
/// by the host's main window.
class QtObjectFactory : public gis::ObjectFactory {
public:
    QtObjectFactory(std::shared_ptr<gis::Application> application, QWidget* owner)
        : gis::ObjectFactory(application), m_application(application), m_owner(owner) {}
    std::shared_ptr<platform::IModelessFrame> CreateModelessFrame() override;

private:
    std::weak_ptr<gis::Application> m_application;
    QPointer<QWidget> m_owner;
};

}  // namespace selvane::qt_host
