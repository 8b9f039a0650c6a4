#pragma once

// The dialogs' pictures as bitmaps: those a design holds, and the picture and cursor files,
// embedded in Selvane.dll as resources named by their file names and decoded with the
// Windows Imaging Component (PNG, JPEG).

#include "win32/windows_include.h"

#include <string>

#include "platform/runtime.h"

namespace selvane::win32 {

/// A device-independent bitmap of `width` × `height` pixels, rows top to bottom, with its
/// pixels at `*bits`; nullptr when it cannot be made.
HBITMAP TopDownBitmap(int width, int height, int bits_per_pixel, void** bits);

/// A device-independent bitmap of a design's picture; nullptr for a picture file.
HBITMAP BitmapOf(const platform::Picture& picture);

/// The picture file as a 32-bit top-down DIB section, scaled to `width` × `height` when
/// both are given; nullptr when the module has no such resource or it cannot be decoded.
HBITMAP LoadPictureResource(HINSTANCE module, const std::string& file, int width = 0, int height = 0);

/// The picture file as a mouse cursor with its hot spot; nullptr when it cannot be made.
HCURSOR LoadCursorResource(HINSTANCE module, const std::string& file, int hot_x, int hot_y);

}  // namespace selvane::win32
