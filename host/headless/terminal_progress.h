#pragma once

#include <cstdio>
#include <string>

#include "gis/model/status_bar.h"

namespace selvane::headless {

/// Draws the status bar's progress bar on a terminal: one line, redrawn in place.
inline void DrawTerminalProgress(const gis::ProgressState& state) {
    if (!state.visible) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        return;
    }
    const double range = static_cast<double>(state.max_range) - state.min_range;
    double fraction = range > 0 ? (static_cast<double>(state.position) - state.min_range) / range : 1.0;
    fraction = fraction < 0 ? 0 : (fraction > 1 ? 1 : fraction);
    constexpr int kWidth = 30;
    const int filled = static_cast<int>(fraction * kWidth);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kWidth - filled), ' ');
    std::fprintf(stderr, "\r[%s] %3d%% %s", bar.c_str(), static_cast<int>(fraction * 100), state.message.c_str());
    std::fflush(stderr);
}

}  // namespace selvane::headless
