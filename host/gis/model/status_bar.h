#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/arcobjects.h"

namespace selvane::gis {

/// What the front end draws of the progress bar.
struct ProgressState {
    std::int32_t min_range = 0;
    std::int32_t max_range = 100;
    std::int32_t step_value = 1;
    std::int32_t position = 0;
    std::string message;
    bool visible = false;
};

/// The status bar's progress bar. The model keeps the state; the front end draws it and
/// is told only when something visible changes: shown, hidden, a new message, or the
/// position crossing another hundredth of the range. A run of a million steps costs
/// about a hundred redraws.
class StepProgressor : public platform::IStepProgressor {
public:
    using Display = std::function<void(const ProgressState&)>;

    void SetDisplay(Display display) { m_display = std::move(display); }
    const ProgressState& State() const { return m_state; }
    int DrawCount() const { return m_draw_count; }

    void SetMessage(const std::string& message) override;
    void Show() override;
    void Step() override;
    void Hide() override;
    void SetMinRange(std::int32_t value) override;
    void SetMaxRange(std::int32_t value) override;
    void SetStepValue(std::int32_t value) override { m_state.step_value = value; }
    void SetPosition(std::int32_t value) override;
    std::int32_t MinRange() override { return m_state.min_range; }
    std::int32_t MaxRange() override { return m_state.max_range; }
    std::int32_t StepValue() override { return m_state.step_value; }
    std::int32_t Position() override { return m_state.position; }

private:
    void Draw();
    void PlanNextDraw();

    ProgressState m_state;
    Display m_display;
    std::int64_t m_next_draw = 0;
    int m_draw_count = 0;
};

/// The application's status bar.
class StatusBar : public platform::IStatusBar {
public:
    StatusBar() : m_progress(std::make_shared<StepProgressor>()) {}
    std::shared_ptr<platform::IStepProgressor> ProgressBar() override { return m_progress; }
    const std::shared_ptr<StepProgressor>& Progress() const { return m_progress; }

private:
    std::shared_ptr<StepProgressor> m_progress;
};

}  // namespace selvane::gis
