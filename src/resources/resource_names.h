#pragma once

// Picture and cursor files that the dialogs' designs name, relative to the resources
// folder of a desktop host (tools/make_resources draws them). The headless runtime only
// records the names.

namespace selvane::resources {

inline constexpr const char* kMakerLogo = "tollamar_logo.jpg";      ///< 120 × 50 pixels
inline constexpr const char* kButtonBackground = "button_background.png";
inline constexpr const char* kDialogCursor = "selvane_cursor.png";  ///< 32 × 32, hot spot 10, 10
inline constexpr const char* kHandCursor = "hand_cursor.png";       ///< 32 × 32, hot spot 10, 10
inline constexpr const char* kHelpPicture = "help.jpg";             ///< 733 × 533 pixels
/// The command's bitmap at 64 × 64, for where an application lists its plug-ins.
inline constexpr const char* kCommandIcon = "command_icon.png";
inline constexpr int kCursorHotSpotX = 10;
inline constexpr int kCursorHotSpotY = 10;

}  // namespace selvane::resources
