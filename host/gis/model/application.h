#pragma once

#include <memory>
#include <string>
#include <vector>

#include "gis/model/status_bar.h"
#include "platform/arcobjects.h"

namespace selvane::gis {

class ModelessFrame;

/// The running map application: its document, status bar and the modeless windows it
/// shows. It owns the dialogs of its visible frames, so they live until closed.
class Application : public platform::IApplication {
public:
    explicit Application(std::shared_ptr<platform::IObject> document)
        : m_document(std::move(document)), m_status_bar(std::make_shared<gis::StatusBar>()) {}
    /// Closes every window: a shown frame and its dialog hold each other.
    ~Application() override { CloseAllWindows(); }

    std::shared_ptr<platform::IObject> Document() override { return m_document; }
    std::shared_ptr<platform::IStatusBar> StatusBar() override { return m_status_bar; }

    /// Opens another document, as the user does from the File menu.
    void OpenDocument(std::shared_ptr<platform::IObject> document) { m_document = std::move(document); }
    const std::shared_ptr<gis::StatusBar>& Bar() const { return m_status_bar; }

    /// The visible modeless frames, in the order they were shown.
    const std::vector<std::shared_ptr<ModelessFrame>>& Windows() const { return m_windows; }
    void ShowWindow(std::shared_ptr<ModelessFrame> frame);
    /// Closes a frame's window: the frame lets go of its dialog.
    void CloseWindow(const std::shared_ptr<ModelessFrame>& frame);
    void CloseAllWindows();

private:
    std::shared_ptr<platform::IObject> m_document;
    std::shared_ptr<gis::StatusBar> m_status_bar;
    std::vector<std::shared_ptr<ModelessFrame>> m_windows;
};

/// A modeless window hosting one dialog. The frame refers to its dialog weakly while
/// hidden (the dialog owns the frame) and strongly once shown, through the application.
class ModelessFrame : public platform::IModelessFrame, public platform::IWindowPosition,
                      public std::enable_shared_from_this<ModelessFrame> {
public:
    explicit ModelessFrame(std::weak_ptr<Application> application) : m_application(std::move(application)) {}

    void Create(std::shared_ptr<platform::IHostedForm> dialog) override;
    std::string Caption() override { return m_caption; }
    void SetCaption(const std::string& caption) override { m_caption = caption; }
    bool Visible() override { return m_visible; }
    void SetVisible(bool visible) override;
    void Move(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) override;

    std::shared_ptr<platform::IHostedForm> Dialog() const { return m_dialog.lock(); }
    std::int32_t Left() const { return m_left; }
    std::int32_t Top() const { return m_top; }
    int MoveCount() const { return m_move_count; }
    /// Called by the application when the window closes.
    void Closed();

private:
    std::weak_ptr<Application> m_application;
    std::weak_ptr<platform::IHostedForm> m_dialog;
    std::shared_ptr<platform::IHostedForm> m_shown_dialog;
    std::string m_caption;
    bool m_visible = false;
    std::int32_t m_left = 0;
    std::int32_t m_top = 0;
    int m_move_count = 0;
};

/// The creatable classes of the map application model.
class ObjectFactory : public platform::IObjectFactory {
public:
    explicit ObjectFactory(std::shared_ptr<Application> application) : m_application(std::move(application)) {}
    std::shared_ptr<platform::IObject> CreateAppRef() override { return m_application; }
    std::shared_ptr<platform::ISpatialFilter> CreateSpatialFilter() override;
    std::shared_ptr<platform::IModelessFrame> CreateModelessFrame() override;

private:
    std::shared_ptr<Application> m_application;
};

}  // namespace selvane::gis
