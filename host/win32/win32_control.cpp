#include "win32/win32_control.h"

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

void Win32Control::Clear() { SendMessageW(m_window, CB_RESETCONTENT, 0, 0); }

void Win32Control::AddItem(const std::string& item) {
    const auto text = Wide(item);
    SendMessageW(m_window, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

std::string Win32Control::Text() const {
    const auto chosen = SendMessageW(m_window, CB_GETCURSEL, 0, 0);
    return chosen == CB_ERR ? std::string() : Item(static_cast<int>(chosen));
}

void Win32Control::SetText(const std::string& text) {
    SendMessageW(m_window, CB_SETCURSEL, static_cast<WPARAM>(forms::RequireEntry(Items(), text)), 0);
}

std::vector<std::string> Win32Control::Items() const {
    std::vector<std::string> items;
    const auto count = SendMessageW(m_window, CB_GETCOUNT, 0, 0);
    for (int index = 0; index < count; ++index) items.push_back(Item(index));
    return items;
}

std::string Win32Control::Caption() const { return Utf8(WindowText(m_window)); }

void Win32Control::SetCaption(const std::string& caption) { SetWindowTextW(m_window, Wide(caption).c_str()); }

std::string Win32Control::Item(int index) const {
    const auto length = SendMessageW(m_window, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR) return {};
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    SendMessageW(m_window, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    return Utf8(text);
}

}  // namespace selvane::win32
