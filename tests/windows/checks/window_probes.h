#pragma once

// What the checks read of the windows on the screen: message boxes (closed by a watcher,
// their texts kept), the dialog's controls, the pixels they paint, the memory and windows
// the process holds, and pictures saved for the README.

#include <windows.h>

#include <string>
#include <vector>

namespace test_host {

/// A thread that closes each message box of this process with OK, keeping its title and text.
void StartWatchingMessageBoxes();
void StopWatchingMessageBoxes();
/// The boxes closed since the last call, as "title|text".
std::vector<std::wstring> TakeBoxes();
/// The owner windows of the boxes not taken yet.
std::vector<HWND> BoxOwners();
/// A window's text.
std::wstring TextOf(HWND window);
/// The child windows of `dialog` of a window class, in window order.
std::vector<HWND> Children(HWND dialog, const wchar_t* window_class);
/// The dialog's drop-down lists, top to bottom: Layer #2, the relationship, Layer #1.
std::vector<HWND> Pickers(HWND dialog);
std::vector<std::wstring> Entries(HWND picker);
bool Pick(HWND picker, const std::wstring& entry);
/// The pixel (x, y) of the server's help picture as it is stored, as 0xRRGGBB; -1 when it
/// cannot be read.
long HelpPicturePixel(UINT x, UINT y);
/// The pixel (x, y) of a form's background as the form paints it, as 0xRRGGBB.
long PaintedPixel(HWND form, int x, int y);
/// The pixel (x, y) of a window's client area as the window paints it, as 0xRRGGBB.
long ClientPixel(HWND window, int x, int y);
/// How much `text` in `font` darkens white paper, drawn in black.
long long InkOf(HFONT font, const std::wstring& text);
/// The face the font system gives for `font`.
std::wstring FaceOf(HFONT font);
/// Whether a label paints only its text: printed onto magenta, its corner stays magenta.
bool PaintsOnlyItsText(HWND label);
std::wstring Hex(long colour);
/// Runs the messages waiting for this thread, as a host's message loop would.
void Pump();
HWND ButtonNamed(HWND dialog, const std::wstring& caption);
/// The memory this process has committed for itself (heaps, bitmaps' pixels), in bytes.
long long PrivateMemory();
/// The windows of Selvane's forms in this process, hosted in frames or not.
int FormWindows();
int GroupBoxes(HWND dialog);
bool Press(HWND dialog, const std::wstring& caption);
/// The count label: the one label that holds a number.
std::wstring Count(HWND dialog);
/// The window as the user sees it, saved as a PNG (for the README).
bool SaveWindowPicture(HWND window, const std::wstring& path);
/// The dialog's frame with a picker's list dropped open over it, as the screen shows them.
bool SaveDroppedPicture(HWND frame, HWND picker, const std::wstring& path);
/// `path` with `suffix` before its extension.
std::wstring Beside(const std::wstring& path, const std::wstring& suffix);

}  // namespace test_host
