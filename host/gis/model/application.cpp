#include "gis/model/application.h"

#include <algorithm>

#include "gis/model/spatial_filter.h"

namespace selvane::gis {

void Application::ShowWindow(std::shared_ptr<ModelessFrame> frame) {
    if (std::find(m_windows.begin(), m_windows.end(), frame) == m_windows.end()) m_windows.push_back(std::move(frame));
}

void Application::CloseWindow(const std::shared_ptr<ModelessFrame>& frame) {
    const auto found = std::find(m_windows.begin(), m_windows.end(), frame);
    if (found == m_windows.end()) return;
    auto closing = *found;
    m_windows.erase(found);
    closing->Closed();
}

void Application::CloseAllWindows() {
    auto windows = std::move(m_windows);
    m_windows.clear();
    for (auto& frame : windows) frame->Closed();
}

void ModelessFrame::Create(std::shared_ptr<platform::IHostedForm> dialog) {
    if (!dialog) throw platform::Error(platform::kPointer, "No dialog to host");
    m_dialog = dialog;
    dialog->Form()->hWnd();  // hosting needs the dialog's window: this loads it
}

void ModelessFrame::SetVisible(bool visible) {
    m_visible = visible;
    auto application = m_application.lock();
    if (!visible || !application) return;
    m_shown_dialog = m_dialog.lock();
    application->ShowWindow(shared_from_this());
}

void ModelessFrame::Move(std::int32_t left, std::int32_t top, std::int32_t, std::int32_t) {
    m_left = left;
    m_top = top;
    ++m_move_count;
}

void ModelessFrame::Closed() {
    m_visible = false;
    m_shown_dialog.reset();
}

std::shared_ptr<platform::ISpatialFilter> ObjectFactory::CreateSpatialFilter() {
    return std::make_shared<SpatialFilter>();
}

std::shared_ptr<platform::IModelessFrame> ObjectFactory::CreateModelessFrame() {
    return std::make_shared<ModelessFrame>(m_application);
}

}  // namespace selvane::gis
