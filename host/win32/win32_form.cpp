#include "win32/win32_form.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwchar>
#include <string>

#include <commctrl.h>

#include "forms/twips.h"
#include "win32/win32_control.h"
#include "win32/resource_pictures.h"
#include "win32/wide_text.h"

namespace selvane::win32 {
namespace {

constexpr int kFirstControlId = 100;
constexpr wchar_t kFormClass[] = L"SelvaneForm";
// Posted to a form when it is shown: the first control in tab order takes the focus.
constexpr UINT kFocusFirst = WM_APP + 1;

// The form window that holds `window`, if any.
HWND FormAround(HWND window) {
    for (; window; window = GetParent(window)) {
        wchar_t name[32] = {};
        GetClassNameW(window, name, 32);
        if (std::wcscmp(name, kFormClass) == 0) return window;
        if (!(GetWindowLongW(window, GWL_STYLE) & WS_CHILD)) break;
    }
    return nullptr;
}

// The keyboard of a modeless form in a host whose message loop knows nothing of it: the
// dialog manager (Tab, Shift+Tab, the arrows of a group) runs on the form's keys before
// they are dispatched. One hook per thread that shows forms, for as long as one lives.
thread_local HHOOK t_keyboard_hook = nullptr;
// The form windows alive in the process: their window procedure is this module's code.
std::atomic<int> g_form_windows{0};
thread_local int t_forms = 0;

LRESULT CALLBACK DialogKeys(int code, WPARAM removed, LPARAM data) {
    auto* message = reinterpret_cast<MSG*>(data);
    if (code == HC_ACTION && removed == PM_REMOVE && message->message >= WM_KEYFIRST &&
        message->message <= WM_KEYLAST) {
        if (HWND form = FormAround(message->hwnd); form && IsDialogMessageW(form, message)) {
            message->message = WM_NULL;
        }
    }
    return CallNextHookEx(t_keyboard_hook, code, removed, data);
}

// One form window fewer on this thread: the last one takes the keyboard hook with it.
void ReleaseKeyboardHook() {
    if (--t_forms == 0 && t_keyboard_hook) {
        UnhookWindowsHookEx(t_keyboard_hook);
        t_keyboard_hook = nullptr;
    }
}

COLORREF ColourOf(const platform::Rgb& colour) { return RGB(colour.red, colour.green, colour.blue); }

// Draws `bitmap` stretched over `area`, or at its own size from the area's top left.
void DrawBitmap(HDC target, HBITMAP bitmap, const RECT& area, bool stretched = true) {
    BITMAP size{};
    GetObjectW(bitmap, sizeof size, &size);
    HDC source = CreateCompatibleDC(target);
    HGDIOBJ previous = SelectObject(source, bitmap);
    if (stretched) {
        SetStretchBltMode(target, HALFTONE);
        StretchBlt(target, area.left, area.top, area.right - area.left, area.bottom - area.top, source, 0, 0,
                   size.bmWidth, size.bmHeight, SRCCOPY);
    } else {
        BitBlt(target, area.left, area.top, std::min<LONG>(size.bmWidth, area.right - area.left),
               std::min<LONG>(size.bmHeight, area.bottom - area.top), source, 0, 0, SRCCOPY);
    }
    SelectObject(source, previous);
    DeleteDC(source);
}

}  // namespace

int OpenFormWindows() { return g_form_windows; }

void UnregisterFormClass(HINSTANCE module) { UnregisterClassW(kFormClass, module); }

Win32Form::Win32Form(const platform::FormDesign& design, platform::FormEvents events, HINSTANCE module,
                     const Win32Screen& screen)
    : FormShell(design, std::move(events)), m_module(module), m_screen(screen) {}

Win32Form::~Win32Form() {
    // The controls and the window first; the fonts, brushes and picture they drew with go
    // with the form's members after.
    ForgetControls();
    if (m_window) {
        ReleaseKeyboardHook();
        SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
        DestroyWindow(m_window);
        --g_form_windows;
    }
    if (m_tooltips) DestroyWindow(m_tooltips);
}

LRESULT CALLBACK Win32Form::WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* form = reinterpret_cast<Win32Form*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (form && message == WM_NCDESTROY) {
        // The last message of the window: the form may be let go now, and is not touched
        // after that.
        auto gone = std::move(form->m_window_gone);
        form->WindowDestroyed();
        const LRESULT result = DefWindowProcW(window, message, wparam, lparam);
        if (gone) gone();
        return result;
    }
    if (form) return form->Handle(message, wparam, lparam);
    if (message == WM_CLOSE) return 0;
    return DefWindowProcW(window, message, wparam, lparam);
}

LRESULT CALLBACK Win32Form::LabelProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                                           DWORD_PTR data) {
    auto* form = reinterpret_cast<Win32Form*>(data);
    switch (message) {
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
            // A click on a label is a press and a release on it, as a link is clicked: the
            // press only marks it (and is not passed on, which would notify the form).
            form->m_pressed_label = window;
            SetCapture(window);
            return 0;
        case WM_LBUTTONUP: {
            const bool pressed = form->m_pressed_label == window;
            form->m_pressed_label = nullptr;
            if (GetCapture() == window) ReleaseCapture();
            RECT area{};
            GetClientRect(window, &area);
            const POINT at{static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
            if (pressed && PtInRect(&area, at)) {
                if (const auto* control = form->ControlOf(window)) form->RunClick(control->Design().name);
            }
            return 0;
        }
        case WM_CAPTURECHANGED:
            if (reinterpret_cast<HWND>(lparam) != window && form->m_pressed_label == window) {
                form->m_pressed_label = nullptr;
            }
            break;
        case WM_NCDESTROY:
            RemoveWindowSubclass(window, LabelProcedure, 0);
            break;
        default: break;
    }
    return DefSubclassProc(window, message, wparam, lparam);
}

void Win32Form::WindowDestroyed() {
    --g_form_windows;
    SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
    ReleaseKeyboardHook();
    m_window = nullptr;
    m_tooltips = nullptr;  // owned by the form's window, destroyed before it
    m_first_tab_stop = nullptr;
    m_pressed_label = nullptr;
    m_list_owners.clear();
}

Win32Control* Win32Form::ListOwner(HWND list) const {
    const auto found = m_list_owners.find(list);
    return found == m_list_owners.end() ? nullptr : found->second;
}

Win32Control* Win32Form::ControlOf(HWND window) const {
    const int index = GetDlgCtrlID(window) - kFirstControlId;
    if (index < 0 || index >= static_cast<int>(m_by_id.size())) return nullptr;
    auto* control = m_by_id[static_cast<std::size_t>(index)];
    return control->Window() == window ? control : nullptr;
}

LRESULT Win32Form::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_COMMAND:
            // An owner-drawn button turns the second of two quick presses into a double
            // click; each press is a press, as a user means it and as Qt has it.
            if (HIWORD(wparam) == BN_CLICKED || HIWORD(wparam) == BN_DOUBLECLICKED) {
                auto* control = ControlOf(reinterpret_cast<HWND>(lparam));
                // A label's click is its release, which LabelProcedure reports.
                if (control && control->Design().kind == platform::ControlKind::Label) break;
                if (control && HIWORD(wparam) == BN_DOUBLECLICKED &&
                    control->Design().kind != platform::ControlKind::Button) {
                    break;
                }
                if (control) {
                    RunClick(control->Design().name);
                    return 0;
                }
            }
            break;
        case WM_ERASEBKGND: {
            RECT area{};
            GetClientRect(m_window, &area);
            auto* device = reinterpret_cast<HDC>(wparam);
            FillRect(device, &area, BrushOf(Design().back_colour));
            // The picture as it is, from the top left, cut off at the right and bottom.
            if (m_picture) DrawBitmap(device, m_picture.Get(), area, false);
            // Each frame's area in its own colour, outer frames first.
            for (const auto* control : m_by_id) {
                if (control->Design().kind != platform::ControlKind::Frame) continue;
                RECT frame{};
                GetWindowRect(control->Window(), &frame);
                MapWindowPoints(nullptr, m_window, reinterpret_cast<POINT*>(&frame), 2);
                FillRect(device, &frame, BrushOf(control->Design().back_colour));
            }
            return 1;
        }
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX: {
            auto* device = reinterpret_cast<HDC>(wparam);
            // A drop-down list asks for its closed field and, from a list window of its
            // own, for the list that drops down.
            const auto* control = ControlOf(reinterpret_cast<HWND>(lparam));
            if (!control) control = ListOwner(reinterpret_cast<HWND>(lparam));
            if (!control) break;
            const auto& design = control->Design();
            SetTextColor(device, ColourOf(design.fore_colour));
            if (design.transparent) {
                // Only the text: what the form painted under the label (its picture) shows.
                SetBkMode(device, TRANSPARENT);
                return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
            }
            SetBkColor(device, ColourOf(design.back_colour));
            return reinterpret_cast<LRESULT>(BrushOf(design.back_colour));
        }
        case WM_DRAWITEM:
            DrawButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lparam));
            return TRUE;
        case WM_SETCURSOR: {
            if (m_screen.MousePointer() == platform::kPointerHourglass) {
                SetCursor(LoadCursorW(nullptr, IDC_WAIT));
                return TRUE;
            }
            const auto* control = ControlOf(reinterpret_cast<HWND>(wparam));
            if (control && control->Cursor()) {
                SetCursor(control->Cursor());
                return TRUE;
            }
            break;
        }
        case WM_CLOSE:
            ShowWindow(m_window, SW_HIDE);  // the frame that hosts the form closes it
            return 0;
        case WM_SHOWWINDOW:
            // Once the host has shown its frame too, unless a control has the focus already.
            if (wparam) PostMessageW(m_window, kFocusFirst, 0, 0);
            break;
        case kFocusFirst:
            if (m_first_tab_stop && IsWindowVisible(m_window) && FormAround(GetFocus()) != m_window) {
                SetFocus(m_first_tab_stop);
            }
            return 0;
        default: break;
    }
    return DefWindowProcW(m_window, message, wparam, lparam);
}

void Win32Form::DrawButton(const DRAWITEMSTRUCT& item) {
    const auto* control = ControlOf(item.hwndItem);
    if (!control) return;
    const auto& design = control->Design();
    RECT area = item.rcItem;
    FillRect(item.hDC, &area, BrushOf(design.back_colour));
    if (control->Bitmap()) DrawBitmap(item.hDC, control->Bitmap(), area);
    const bool pressed = (item.itemState & ODS_SELECTED) != 0;
    DrawEdge(item.hDC, &area, pressed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
    if (pressed) OffsetRect(&area, 1, 1);
    SetBkMode(item.hDC, TRANSPARENT);
    SetTextColor(item.hDC, ColourOf(design.fore_colour));
    HGDIOBJ previous = SelectObject(item.hDC, control->Font());
    const auto caption = Wide(design.caption);
    DrawTextW(item.hDC, caption.c_str(), static_cast<int>(caption.size()), &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SelectObject(item.hDC, previous);
    if (item.itemState & ODS_FOCUS) {
        RECT focus = item.rcItem;
        InflateRect(&focus, -3, -3);
        DrawFocusRect(item.hDC, &focus);
    }
}

HFONT Win32Form::FontOf(const platform::Font& font) {
    const auto key = std::make_tuple(font.name, static_cast<int>(font.points * 100), font.bold, font.underline);
    auto& made = m_fonts[key];
    if (!made) {
        HDC screen = GetDC(nullptr);
        const int height = -MulDiv(static_cast<int>(font.points * 100), GetDeviceCaps(screen, LOGPIXELSY), 7200);
        ReleaseDC(nullptr, screen);
        // Unsmoothed, as Windows draws its raster MS Sans Serif. Smoothed, a small bold face
        // can come out lighter than the regular one: Wine smooths bold at this size but not
        // regular, and its grey levels thin dark text on a light ground.
        made = UniqueFont(CreateFontW(height, 0, 0, 0, font.bold ? FW_BOLD : FW_NORMAL, FALSE, font.underline, FALSE,
                                      DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY,
                                      DEFAULT_PITCH | FF_SWISS, Wide(font.name).c_str()));
    }
    return made.Get();
}

HBRUSH Win32Form::BrushOf(const platform::Rgb& colour) {
    auto& brush = m_brushes[ColourOf(colour)];
    if (!brush) brush = UniqueBrush(CreateSolidBrush(ColourOf(colour)));
    return brush.Get();
}

void Win32Form::Realise() {
    const auto& design = Design();
    // Registered by the first form of each load of the module: the class goes with the
    // module when it unloads, so that a module loaded again registers its own.
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    if (!GetClassInfoExW(m_module, kFormClass, &window_class)) {
        window_class.lpfnWndProc = WindowProcedure;
        window_class.hInstance = m_module;
        window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        window_class.lpszClassName = kFormClass;
        if (!RegisterClassExW(&window_class)) {
            throw platform::Error(platform::kFail, "The window class of the forms cannot be registered (error " +
                                                       std::to_string(GetLastError()) + ")");
        }
    }
    const int tx = m_screen.TwipsPerPixelX();
    const int ty = m_screen.TwipsPerPixelY();
    // Not clipping its children: the group boxes draw no background of their own, so the
    // form paints it under them.
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    RECT outer{0, 0, forms::Pixels(design.client_width, tx), forms::Pixels(design.client_height, ty)};
    AdjustWindowRectEx(&outer, style, FALSE, WS_EX_DLGMODALFRAME);
    // WS_EX_CONTROLPARENT: a host that runs the dialog manager on its own frame steps into
    // the form's controls.
    m_window = CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, kFormClass, Wide(design.caption).c_str(),
                               style, CW_USEDEFAULT, CW_USEDEFAULT, outer.right - outer.left,
                               outer.bottom - outer.top, nullptr, nullptr, m_module, nullptr);
    if (!m_window) throw platform::Error(platform::kFail, "The window of " + design.name + " cannot be created");
    SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ++g_form_windows;
    if (t_forms++ == 0 && !t_keyboard_hook) {
        t_keyboard_hook = SetWindowsHookExW(WH_GETMESSAGE, DialogKeys, nullptr, GetCurrentThreadId());
    }
    if (!design.picture.file.empty()) {
        m_picture = UniqueBitmap(
            LoadPictureResource(m_module, design.picture.file, design.picture.width, design.picture.height));
    }
    INITCOMMONCONTROLSEX common{sizeof common, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&common);
    m_tooltips = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_window, nullptr, m_module, nullptr);
    CreateControls();
}

HBITMAP Win32Form::PictureOf(const platform::Picture& picture) const {
    if (!picture.file.empty()) return LoadPictureResource(m_module, picture.file, picture.width, picture.height);
    return BitmapOf(picture);
}

void Win32Form::CreateControls() {
    const int tx = m_screen.TwipsPerPixelX();
    const int ty = m_screen.TwipsPerPixelY();
    // Where each control lies on the form itself: frames within frames add up.
    std::map<std::string, const platform::ControlDesign*> by_name;
    for (const auto& control : Design().controls) by_name[control.name] = &control;
    const auto on_form = [&by_name](const platform::ControlDesign& control) {
        auto position = control.position;
        std::size_t depth = 0;
        for (auto container = control.container; !container.empty() && depth < by_name.size(); ++depth) {
            const auto found = by_name.find(container);
            if (found == by_name.end()) break;
            position.left += found->second->position.left;
            position.top += found->second->position.top;
            container = found->second->container;
        }
        return position;
    };
    std::vector<std::pair<int, HWND>> tab_stops;
    for (const auto& control : Design().controls) {
        const auto position = on_form(control);
        const auto pixels = forms::Pixels(position, tx, ty);
        const wchar_t* window_class = L"STATIC";
        DWORD style = WS_CHILD | WS_VISIBLE;
        HBITMAP bitmap = nullptr;
        int height = pixels.height;
        switch (control.kind) {
            case platform::ControlKind::Frame:
                // A frame without a border is an area in its own colour, not a group box.
                if (control.has_border) {
                    window_class = L"BUTTON";
                    style |= BS_GROUPBOX;
                }
                break;
            case platform::ControlKind::Label:
                // SS_NOTIFY: the label takes the pointer's messages, so that its own
                // procedure (LabelProcedure) sees a click on it (a help link).
                style |= SS_NOTIFY;
                style |= control.align == platform::TextAlign::Centre  ? SS_CENTER
                         : control.align == platform::TextAlign::Right ? SS_RIGHT
                                                                       : SS_LEFT;
                break;
            case platform::ControlKind::ComboBox:
                window_class = L"COMBOBOX";
                style |= CBS_DROPDOWNLIST | WS_VSCROLL;
                height += 200;  // the list that drops down
                break;
            case platform::ControlKind::Button:
                window_class = L"BUTTON";
                style |= BS_OWNERDRAW;
                bitmap = PictureOf(control.picture);
                break;
            case platform::ControlKind::PictureBox:
                // SS_NOTIFY: without it a static is transparent to the pointer, and its
                // tooltip never sees the pointer over it.
                style |= SS_BITMAP | SS_REALSIZECONTROL | SS_NOTIFY;
                bitmap = PictureOf(control.picture);
                break;
        }
        const bool takes_focus =
            control.kind == platform::ControlKind::ComboBox || control.kind == platform::ControlKind::Button;
        if (takes_focus && control.tab_index >= 0) style |= WS_TABSTOP;
        const int id = kFirstControlId + static_cast<int>(m_by_id.size());
        HWND window = CreateWindowExW(0, window_class, Wide(control.caption).c_str(), style, pixels.left, pixels.top,
                                      pixels.width, height, m_window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                      m_module, nullptr);
        if (!window) throw platform::Error(platform::kFail, "The control " + control.name + " cannot be created");
        HFONT font = FontOf(control.font);
        SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        if (!control.tooltip.empty() && m_tooltips) {
            const auto tip = Wide(control.tooltip);
            TOOLINFOW tool{};
            tool.cbSize = sizeof tool;
            tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
            tool.hwnd = m_window;
            tool.uId = reinterpret_cast<UINT_PTR>(window);
            tool.lpszText = const_cast<LPWSTR>(tip.c_str());
            SendMessageW(m_tooltips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
        }
        HCURSOR cursor = control.cursor.empty()
                             ? nullptr
                             : LoadCursorResource(m_module, control.cursor, control.cursor_hot_x, control.cursor_hot_y);
        if (bitmap && control.kind == platform::ControlKind::PictureBox) {
            SendMessageW(window, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
        }
        if (control.tab_index >= 0) tab_stops.emplace_back(control.tab_index, window);
        auto realised =
            std::make_unique<Win32Control>(control, window, UniqueBitmap(bitmap), font, UniqueCursor(cursor));
        if (control.kind == platform::ControlKind::Label) {
            SetWindowSubclass(window, LabelProcedure, 0, reinterpret_cast<DWORD_PTR>(this));
        }
        if (control.kind == platform::ControlKind::ComboBox) {
            COMBOBOXINFO parts{};
            parts.cbSize = sizeof parts;
            if (GetComboBoxInfo(window, &parts) && parts.hwndList) m_list_owners[parts.hwndList] = realised.get();
        }
        m_by_id.push_back(realised.get());
        AddControl(std::move(realised));
    }
    // Tab order is window order: the tab stops by their tab index, in front of the rest.
    std::sort(tab_stops.begin(), tab_stops.end());
    for (const auto& [index, window] : tab_stops) {
        if (GetWindowLongW(window, GWL_STYLE) & WS_TABSTOP) {
            m_first_tab_stop = window;
            break;
        }
    }
    HWND previous = HWND_TOP;
    for (const auto& [index, window] : tab_stops) {
        SetWindowPos(window, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        previous = window;
    }
}

std::intptr_t Win32Form::hWnd() {
    EnsureLoaded();
    return reinterpret_cast<std::intptr_t>(m_window);
}

int Win32Form::Width() {
    EnsureLoaded();
    RECT outer{};
    GetWindowRect(m_window, &outer);
    return (outer.right - outer.left) * m_screen.TwipsPerPixelX();
}

int Win32Form::Height() {
    EnsureLoaded();
    RECT outer{};
    GetWindowRect(m_window, &outer);
    return (outer.bottom - outer.top) * m_screen.TwipsPerPixelY();
}

}  // namespace selvane::win32
