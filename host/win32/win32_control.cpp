#include "win32/win32_control.h"

#include <algorithm>
#include <cstddef>

#include "forms/printable_text.h"
#include "win32/wide_text.h"

namespace selvane::win32 {
namespace {

std::wstring WindowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

}  // namespace

void Win32Control::Clear() {
    SendMessageW(m_window, CB_RESETCONTENT, 0, 0);
    m_items.clear();
}

void Win32Control::AddItem(const std::string& item) {
    // Shown with what would reorder or hide text escaped; the entry itself kept whole.
    const auto text = Wide(forms::Printable(item));
    const auto index = SendMessageW(m_window, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    if (index < 0) return;
    m_items.insert(m_items.begin() + std::min<std::ptrdiff_t>(index, static_cast<std::ptrdiff_t>(m_items.size())), item);
}

std::string Win32Control::Text() const {
    const auto chosen = SendMessageW(m_window, CB_GETCURSEL, 0, 0);
    return chosen == CB_ERR ? std::string() : Item(static_cast<int>(chosen));
}

void Win32Control::SetText(const std::string& text) {
    SendMessageW(m_window, CB_SETCURSEL, static_cast<WPARAM>(forms::RequireEntry(Items(), text)), 0);
}

std::vector<std::string> Win32Control::Items() const { return m_items; }

std::string Win32Control::Caption() const { return Utf8(WindowText(m_window)); }

void Win32Control::SetCaption(const std::string& caption) { SetWindowTextW(m_window, Wide(caption).c_str()); }

std::string Win32Control::Item(int index) const {
    return index >= 0 && static_cast<std::size_t>(index) < m_items.size() ? m_items[static_cast<std::size_t>(index)]
                                                                           : std::string();
}

}  // namespace selvane::win32
