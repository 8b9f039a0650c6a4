#pragma once

// The forms runtime on Qt 6 Widgets: designs realised as real windows, the modal message
// box, the screen with its application-wide busy pointer, and the shell's Open.

#include <QMargins>
#include <QPixmap>
#include <QPointer>
#include <QWidget>
#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "forms/portable_runtime.h"
#include "platform/runtime.h"

namespace selvane::qt {

/// Where the runtime finds the pictures and cursors that designs name: the ones built into
/// the program unless a host names a folder of its own.
inline const QString kBuiltInResources = QStringLiteral(":/selvane/resources");

class QtRuntime : public forms::PortableRuntime, public std::enable_shared_from_this<QtRuntime> {
public:
    /// Needs a QApplication. Maps "MS Sans Serif" to the closest installed sans font.
    /// Make it shared: its forms refer to it weakly.
    explicit QtRuntime(QString resource_folder = kBuiltInResources);
    ~QtRuntime() override;

    std::shared_ptr<platform::IForm> CreateForm(const platform::FormDesign& design,
                                                platform::FormEvents events) override;
    platform::IScreen& Screen() override;
    void MessageBox(const std::string& text, const std::string& title) override;
    /// Goes to the shell sink, or without one to the desktop.
    void ShellOpen(std::intptr_t owner_window, const std::string& target) override;

    /// The host's main window: message boxes belong to it when no window of the
    /// application is active.
    void SetMainWindow(QWidget* window) { m_main_window = window; }

    /// What the window system adds around a top-level window's client area (title bar and
    /// borders), in pixels; the desktop host reads it off its own main window.
    void SetWindowFrameMargins(QMargins margins) { m_frame_margins = margins; }
    QMargins WindowFrameMargins() const { return m_frame_margins; }

    /// A picture of the resources folder; a null pixmap when the file is missing or unreadable.
    QPixmap ResourcePixmap(const std::string& file) const;
    /// A design's picture: its pixels when it holds them, else its file.
    QPixmap DesignPixmap(const platform::Picture& picture) const;

    /// The handle of a design's picture, kept for the runtime's life (one per picture file,
    /// so that reopening dialogs does not add handles); 0 when there is no picture to show.
    std::int32_t PictureHandle(const platform::Picture& picture);
    /// The picture of a handle; a null pixmap for 0 or an unknown handle.
    QPixmap Picture(std::int32_t handle) const;

    /// The family that "MS Sans Serif" is drawn with here.
    static QString SansFamily();

private:
    class ScreenObject;

    QString m_resource_folder;
    std::unique_ptr<ScreenObject> m_screen;
    QMargins m_frame_margins;
    QPointer<QWidget> m_main_window;
    std::map<std::int32_t, QPixmap> m_pictures;
    std::map<std::string, std::int32_t> m_file_handles;
    std::int32_t m_next_picture = 1;
};

}  // namespace selvane::qt
