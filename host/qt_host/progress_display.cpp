#include "qt_host/progress_display.h"

#include <QHBoxLayout>

#include <algorithm>

namespace selvane::qt_host {
namespace {

// About thirty repaints a second: smooth to the eye, nothing against a run's time.
constexpr qint64 kRepaintInterval = 33;

}  // namespace

ProgressDisplay::ProgressDisplay(QWidget* parent)
    : QWidget(parent), m_message(new QLabel(this)), m_bar(new QProgressBar(this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_message);
    layout->addWidget(m_bar);
    m_bar->setFixedWidth(220);
    m_bar->setTextVisible(true);
    hide();
}

void ProgressDisplay::Bind(gis::StepProgressor& progress) {
    progress.SetDisplay([this](const gis::ProgressState& state) { Draw(state); });
    Draw(progress.State());
}

void ProgressDisplay::Draw(const gis::ProgressState& state) {
    const bool shown_before = isVisible();
    const QString message = QString::fromStdString(state.message);
    const bool new_message = m_message->text() != message;
    m_message->setText(message);
    const int maximum = std::max(state.min_range, state.max_range);
    m_bar->setRange(state.min_range, maximum);
    m_bar->setValue(std::clamp(state.position, state.min_range, maximum));
    setVisible(state.visible);

    const bool changed_shape = shown_before != state.visible || new_message;
    if (!changed_shape && m_since_repaint.isValid() && m_since_repaint.elapsed() < kRepaintInterval) return;
    m_since_repaint.restart();
    ++m_repaints;
    // Painted now: the event loop does not run until the run ends. The status bar around
    // the bar changes only when the bar comes or goes, or its message changes.
    if (changed_shape && parentWidget()) parentWidget()->repaint();
    if (state.visible) m_bar->repaint();
}

}  // namespace selvane::qt_host
