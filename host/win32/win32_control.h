#pragma once

#include "win32/windows_include.h"

#include <string>
#include <vector>

#include "forms/form_shell.h"
#include "win32/gdi_handles.h"

namespace selvane::win32 {

/// One control's window, answering for every kind the port asks of it: a drop-down list's
/// entries, a caption, a picture. It owns its picture and cursor; its font is the form's.
class Win32Control : public forms::ShellControl {
public:
    Win32Control(const platform::ControlDesign& design, HWND window, UniqueBitmap bitmap, HFONT font,
                 UniqueCursor cursor)
        : ShellControl(design), m_window(window), m_bitmap(std::move(bitmap)), m_font(font), m_cursor(std::move(cursor)) {}

    HWND Window() const { return m_window; }
    HBITMAP Bitmap() const { return m_bitmap.Get(); }
    HFONT Font() const { return m_font; }
    HCURSOR Cursor() const { return m_cursor.Get(); }

    void Clear() override;
    void AddItem(const std::string& item) override;
    std::string Text() const override;
    void SetText(const std::string& text) override;
    std::vector<std::string> Items() const override;

    std::string Caption() const override;
    void SetCaption(const std::string& caption) override;

    std::int32_t PictureHandle() const override {
        return static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(m_bitmap.Get()));
    }

private:
    std::string Item(int index) const;

    HWND m_window;
    std::vector<std::string> m_items;  // a list's entries as given, shown escaped
    UniqueBitmap m_bitmap;
    HFONT m_font;
    UniqueCursor m_cursor;
};

}  // namespace selvane::win32
