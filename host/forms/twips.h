#pragma once

// Twips arithmetic shared by the runtimes that realise designs as windows.

#include "platform/runtime.h"

namespace selvane::forms {

/// Twips in an inch: a screen of D dots per inch has 1440 / D twips per pixel.
inline constexpr int kTwipsPerInch = 1440;

/// Twips per pixel at `dots_per_inch` (15 at 96 dpi), never below 1.
inline int TwipsPerPixel(double dots_per_inch) {
    const int twips = platform::RoundHalfEven(kTwipsPerInch / (dots_per_inch > 0 ? dots_per_inch : 96.0));
    return twips < 1 ? 1 : twips;
}

/// Whole pixels of a length in twips, halves to even as the runtime rounds.
inline int Pixels(int twips, int twips_per_pixel) {
    return platform::RoundHalfEven(static_cast<double>(twips) / twips_per_pixel);
}

/// A rectangle in twips as whole pixels.
struct PixelRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

inline PixelRect Pixels(const platform::TwipsRect& rect, int twips_per_pixel_x, int twips_per_pixel_y) {
    return {Pixels(rect.left, twips_per_pixel_x), Pixels(rect.top, twips_per_pixel_y),
            Pixels(rect.width, twips_per_pixel_x), Pixels(rect.height, twips_per_pixel_y)};
}

}  // namespace selvane::forms
