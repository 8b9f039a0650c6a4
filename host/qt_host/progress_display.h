#pragma once

#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QWidget>

#include "gis/model/status_bar.h"

namespace selvane::qt_host {

/// The status bar's step progressor as the user sees it: a message and a bar at the right
/// of the status bar. A run holds the UI thread, so the bar repaints itself at once
/// instead of waiting for the event loop, at most a few dozen times a second.
class ProgressDisplay : public QWidget {
public:
    explicit ProgressDisplay(QWidget* parent = nullptr);

    /// Shows `progress` from now on.
    void Bind(gis::StepProgressor& progress);
    void Draw(const gis::ProgressState& state);

    int RepaintCount() const { return m_repaints; }
    QProgressBar& Bar() { return *m_bar; }
    QLabel& Message() { return *m_message; }

private:
    QLabel* m_message;
    QProgressBar* m_bar;
    QElapsedTimer m_since_repaint;
    int m_repaints = 0;
};

}  // namespace selvane::qt_host
