#include "gis/model/status_bar.h"

#include <algorithm>

namespace selvane::gis {

void StepProgressor::Draw() {
    ++m_draw_count;
    if (m_display) m_display(m_state);
    PlanNextDraw();
}

void StepProgressor::PlanNextDraw() {
    const std::int64_t range = std::int64_t{m_state.max_range} - m_state.min_range;
    m_next_draw = std::int64_t{m_state.position} + std::max<std::int64_t>(1, range / 100);
}

void StepProgressor::SetMessage(const std::string& message) {
    if (message == m_state.message) return;
    m_state.message = message;
    if (m_state.visible) Draw();
}

void StepProgressor::Show() {
    if (m_state.visible) return;
    m_state.visible = true;
    Draw();
}

void StepProgressor::Hide() {
    if (!m_state.visible) return;
    m_state.visible = false;
    Draw();
}

void StepProgressor::Step() {
    m_state.position += m_state.step_value;
    if (m_state.visible && m_state.position >= m_next_draw) Draw();
}

void StepProgressor::SetMinRange(std::int32_t value) {
    m_state.min_range = value;
    PlanNextDraw();
}

void StepProgressor::SetMaxRange(std::int32_t value) {
    m_state.max_range = value;
    PlanNextDraw();
}

void StepProgressor::SetPosition(std::int32_t value) {
    m_state.position = value;
    if (m_state.visible) Draw();
}

}  // namespace selvane::gis
