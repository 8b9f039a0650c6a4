#pragma once

#include "win32/windows_include.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "forms/form_shell.h"
#include "platform/runtime.h"
#include "win32/gdi_handles.h"
#include "win32/win32_runtime.h"

namespace selvane::win32 {

class Win32Control;

/// The windows of forms alive in the process: while one lives, the module that holds its
/// window procedure must stay loaded.
int OpenFormWindows();
/// Unregisters the forms' window class of `module`, as the module unloads.
void UnregisterFormClass(HINSTANCE module);

/// A form realised as a Win32 window, loaded on first use: a fixed-border dialog window
/// (hidden until a modeless frame shows it) with a child window a control: group boxes
/// for frames, static text for labels, drop-down lists, owner-drawn picture buttons and
/// bitmaps, in the design's colours and fonts, with tooltips and cursors. The controls of
/// a frame are placed in the frame's area of the form, so that their notifications reach
/// the form.
class Win32Form : public forms::FormShell {
public:
    Win32Form(const platform::FormDesign& design, platform::FormEvents events, HINSTANCE module,
              const Win32Screen& screen);
    ~Win32Form() override;
    Win32Form(const Win32Form&) = delete;
    Win32Form& operator=(const Win32Form&) = delete;

    std::intptr_t hWnd() override;
    int Width() override;
    int Height() override;
    /// Called once the form's window is destroyed (its host's frame closed for good), so
    /// that whoever keeps the dialog for the window may let it go; the call may free this
    /// form, and nothing of it is touched after.
    void SetWindowGone(std::function<void()> gone) { m_window_gone = std::move(gone); }

private:
    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    /// A label's own procedure: its click is a press and a release on it.
    static LRESULT CALLBACK LabelProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR id,
                                           DWORD_PTR data);
    LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);
    void Realise() override;
    /// Forgets the window and what went with it, once it is destroyed.
    void WindowDestroyed();
    void CreateControls();
    Win32Control* ControlOf(HWND window) const;
    /// The drop-down list whose list window `list` is.
    Win32Control* ListOwner(HWND list) const;
    HFONT FontOf(const platform::Font& font);
    HBRUSH BrushOf(const platform::Rgb& colour);
    HBITMAP PictureOf(const platform::Picture& picture) const;
    void DrawButton(const DRAWITEMSTRUCT& item);

    HINSTANCE m_module;
    const Win32Screen& m_screen;
    HWND m_window = nullptr;
    HWND m_tooltips = nullptr;
    HWND m_first_tab_stop = nullptr;  // takes the focus when the form is shown
    HWND m_pressed_label = nullptr;   // the label the pointer went down on, until it comes up
    std::function<void()> m_window_gone;
    UniqueBitmap m_picture;  // the form's background picture
    std::map<std::tuple<std::string, int, bool, bool>, UniqueFont> m_fonts;
    std::map<COLORREF, UniqueBrush> m_brushes;
    std::vector<Win32Control*> m_by_id;  // control id - kFirstControlId
    std::map<HWND, Win32Control*> m_list_owners;  // the list windows of the drop-down lists
};

}  // namespace selvane::win32
