#include "qt_host/modeless_frame.h"

#include <QCloseEvent>
#include <QVBoxLayout>

#include "qt/qt_form.h"

namespace selvane::qt_host {

FrameWindow::FrameWindow(QWidget* owner) : QWidget(owner, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);  // a fixed-border dialog
}

void FrameWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    if (on_close) on_close();
}

QtModelessFrame::QtModelessFrame(std::weak_ptr<gis::Application> application, QWidget* owner)
    : gis::ModelessFrame(application), m_application_ref(application), m_window(new FrameWindow(owner)) {
    // Only a weak reference: the window must not keep its frame alive.
    std::weak_ptr<gis::Application> weak_application = application;
    m_window->on_close = [this, weak_application] {
        if (auto app = weak_application.lock()) {
            for (const auto& frame : app->Windows()) {
                if (frame.get() == this) {
                    app->CloseWindow(frame);
                    return;
                }
            }
        }
    };
}

QtModelessFrame::~QtModelessFrame() {
    // The frame may go while its window handles its own close event.
    if (m_window) {
        m_window->on_close = nullptr;
        m_window->hide();
        m_window->deleteLater();
    }
}

void QtModelessFrame::Create(std::shared_ptr<platform::IHostedForm> dialog) {
    gis::ModelessFrame::Create(dialog);  // loads the dialog
    auto* form = dynamic_cast<qt::QtForm*>(dialog->Form().get());
    if (!form || !m_window) return;
    QWidget* client = form->Widget();
    m_window->layout()->addWidget(client);
    client->show();
}

void QtModelessFrame::SetCaption(const std::string& caption) {
    gis::ModelessFrame::SetCaption(caption);
    if (m_window) m_window->setWindowTitle(QString::fromStdString(caption));
}

void QtModelessFrame::SetVisible(bool visible) {
    gis::ModelessFrame::SetVisible(visible);
    if (!m_window) return;
    m_window->setVisible(visible);
    if (visible) {
        m_window->raise();
        m_window->activateWindow();
    }
}

void QtModelessFrame::Move(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) {
    gis::ModelessFrame::Move(left, top, width, height);
    if (!m_window) return;
    m_window->move(left, top);
    if (width > 0 && height > 0) m_window->resize(width, height);
}

std::shared_ptr<platform::IModelessFrame> QtObjectFactory::CreateModelessFrame() {
    return std::make_shared<QtModelessFrame>(m_application, m_owner);
}

}  // namespace selvane::qt_host
