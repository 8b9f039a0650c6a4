#include "win32/win32_runtime.h"

#include <shellapi.h>

#include "forms/printable_text.h"
#include "forms/twips.h"
#include "win32/win32_form.h"
#include "win32/wide_text.h"

namespace selvane::win32 {
namespace {

int DotsPerInch(int axis) {
    HDC screen = GetDC(nullptr);
    const int dots = GetDeviceCaps(screen, axis);
    ReleaseDC(nullptr, screen);
    return dots;
}

}  // namespace

int Win32Screen::TwipsPerPixelX() const { return forms::TwipsPerPixel(DotsPerInch(LOGPIXELSX)); }
int Win32Screen::TwipsPerPixelY() const { return forms::TwipsPerPixel(DotsPerInch(LOGPIXELSY)); }
int Win32Screen::Width() const { return GetSystemMetrics(SM_CXSCREEN) * TwipsPerPixelX(); }
int Win32Screen::Height() const { return GetSystemMetrics(SM_CYSCREEN) * TwipsPerPixelY(); }

void Win32Screen::SetMousePointer(int pointer) {
    m_pointer = pointer;
    SetCursor(LoadCursorW(nullptr, pointer == platform::kPointerHourglass ? IDC_WAIT : IDC_ARROW));
}

std::shared_ptr<platform::IForm> Win32Runtime::CreateForm(const platform::FormDesign& design,
                                                          platform::FormEvents events) {
    return std::make_shared<Win32Form>(design, std::move(events), m_module, m_screen);
}

void Win32Runtime::MessageBox(const std::string& text, const std::string& title) {
    // Owned by the host's main window, so that the host waits for the box as for its own.
    HWND owner = m_message_owner && IsWindow(m_message_owner) ? m_message_owner : GetActiveWindow();
    // A message may quote names from the map: shown with what would reorder or hide text
    // escaped, its lines kept.
    MessageBoxW(owner, Wide(forms::PrintableLines(text)).c_str(), Wide(forms::Printable(title)).c_str(), MB_OK);
}

void Win32Runtime::ShellOpen(std::intptr_t owner_window, const std::string& target) {
    ShellExecuteA(reinterpret_cast<HWND>(owner_window), "Open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

bool Win32Runtime::TextEqualsIgnoringCase(const std::string& left, const std::string& right) {
    const auto wide_left = Wide(left);
    const auto wide_right = Wide(right);
    return CompareStringEx(LOCALE_NAME_USER_DEFAULT, NORM_IGNORECASE, wide_left.c_str(),
                           static_cast<int>(wide_left.size()), wide_right.c_str(), static_cast<int>(wide_right.size()),
                           nullptr, nullptr, 0) == CSTR_EQUAL;
}

}  // namespace selvane::win32
