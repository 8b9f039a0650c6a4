#include "win32/win32_form.h"

#include <algorithm>
#include <cstring>

#include "forms/control_kinds.h"
#include "forms/twips.h"
#include "win32/wide_text.h"

namespace selvane::win32 {
namespace {

constexpr int kFirstControlId = 100;
constexpr wchar_t kFormClass[] = L"SelvaneForm";

std::wstring WindowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

}  // namespace

HBITMAP BitmapOf(const platform::Picture& picture) {
    if (picture.rgb.empty() || picture.width <= 0 || picture.height <= 0) return nullptr;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = picture.width;
    info.bmiHeader.biHeight = -picture.height;  // rows top to bottom, as the design holds them
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap) return nullptr;
    const int stride = (picture.width * 3 + 3) & ~3;
    auto* rows = static_cast<std::uint8_t*>(bits);
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            const auto* rgb = &picture.rgb[static_cast<std::size_t>((y * picture.width + x) * 3)];
            auto* bgr = rows + y * stride + x * 3;
            bgr[0] = rgb[2];
            bgr[1] = rgb[1];
            bgr[2] = rgb[0];
        }
    }
    return bitmap;
}

// One control's window, answering for every kind the port asks of it.
class Win32Form::Control : public platform::IComboBox, public platform::ILabel, public platform::IPictureBox {
public:
    Control(const platform::ControlDesign& design, HWND window, HBITMAP bitmap)
        : m_design(design), m_window(window), m_bitmap(bitmap) {}
    ~Control() override {
        if (m_bitmap) DeleteObject(m_bitmap);
    }
    const platform::ControlDesign& Design() const { return m_design; }
    HWND Window() const { return m_window; }

    void Clear() override { SendMessageW(m_window, CB_RESETCONTENT, 0, 0); }
    void AddItem(const std::string& item) override {
        const auto text = Wide(item);
        SendMessageW(m_window, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    std::string Text() const override {
        const auto chosen = SendMessageW(m_window, CB_GETCURSEL, 0, 0);
        return chosen == CB_ERR ? std::string() : Item(static_cast<int>(chosen));
    }
    void SetText(const std::string& text) override {
        const auto items = Items();
        const auto found = std::find(items.begin(), items.end(), text);
        // A drop-down list holds only its entries' texts.
        if (found == items.end()) throw platform::Error(380, "Invalid property value");
        SendMessageW(m_window, CB_SETCURSEL, static_cast<WPARAM>(found - items.begin()), 0);
    }
    std::vector<std::string> Items() const override {
        std::vector<std::string> items;
        const auto count = SendMessageW(m_window, CB_GETCOUNT, 0, 0);
        for (int index = 0; index < count; ++index) items.push_back(Item(index));
        return items;
    }

    std::string Caption() const override { return Utf8(WindowText(m_window)); }
    void SetCaption(const std::string& caption) override { SetWindowTextW(m_window, Wide(caption).c_str()); }

    std::int32_t PictureHandle() const override {
        return static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(m_bitmap));
    }
    const platform::Picture& Image() const override { return m_design.picture; }

private:
    std::string Item(int index) const {
        const auto length = SendMessageW(m_window, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
        if (length == CB_ERR) return {};
        std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
        SendMessageW(m_window, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
        text.resize(static_cast<std::size_t>(length));
        return Utf8(text);
    }

    platform::ControlDesign m_design;
    HWND m_window;
    HBITMAP m_bitmap;
};

Win32Form::Win32Form(const platform::FormDesign& design, platform::FormEvents events, HINSTANCE module,
                     const Win32Screen& screen)
    : m_design(design), m_events(std::move(events)), m_module(module), m_screen(screen) {}

Win32Form::~Win32Form() {
    m_controls.clear();
    if (m_window) {
        SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
        DestroyWindow(m_window);
    }
    if (m_font) DeleteObject(m_font);
}

LRESULT CALLBACK Win32Form::WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* form = reinterpret_cast<Win32Form*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (form && message == WM_COMMAND && HIWORD(wparam) == BN_CLICKED) {
        const int index = LOWORD(wparam) - kFirstControlId;
        if (index >= 0 && index < static_cast<int>(form->m_by_id.size())) {
            const auto handler = form->m_events.click.find(form->m_by_id[static_cast<std::size_t>(index)]->Design().name);
            if (handler != form->m_events.click.end() && handler->second) handler->second();
            return 0;
        }
    }
    if (message == WM_CLOSE) {
        ShowWindow(window, SW_HIDE);  // the frame that hosts the form closes it
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

void Win32Form::EnsureLoaded() {
    if (m_loaded) return;
    // Marked loaded before the handler runs: the handler uses the form's own controls.
    m_loaded = true;
    static const ATOM form_class = [this] {
        WNDCLASSEXW window_class{};
        window_class.cbSize = sizeof window_class;
        window_class.lpfnWndProc = WindowProcedure;
        window_class.hInstance = m_module;
        window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        window_class.lpszClassName = kFormClass;
        return RegisterClassExW(&window_class);
    }();
    if (!form_class) throw platform::Error(platform::kFail, "The form window class cannot be registered");
    const int tx = m_screen.TwipsPerPixelX();
    const int ty = m_screen.TwipsPerPixelY();
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    RECT outer{0, 0, forms::Pixels(m_design.client_width, tx), forms::Pixels(m_design.client_height, ty)};
    AdjustWindowRectEx(&outer, style, FALSE, WS_EX_DLGMODALFRAME);
    m_window = CreateWindowExW(WS_EX_DLGMODALFRAME, kFormClass, Wide(m_design.caption).c_str(), style, CW_USEDEFAULT,
                               CW_USEDEFAULT, outer.right - outer.left, outer.bottom - outer.top, nullptr, nullptr,
                               m_module, nullptr);
    if (!m_window) throw platform::Error(platform::kFail, "The window of " + m_design.name + " cannot be created");
    SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    CreateControls();
    if (m_events.load) m_events.load();
}

void Win32Form::CreateControls() {
    const int tx = m_screen.TwipsPerPixelX();
    const int ty = m_screen.TwipsPerPixelY();
    // The dialog font of the design (its first control's), at the screen's dots per inch.
    if (!m_design.controls.empty()) {
        const auto& font = m_design.controls.front().font;
        HDC screen = GetDC(nullptr);
        const int height = -MulDiv(static_cast<int>(font.points * 100), GetDeviceCaps(screen, LOGPIXELSY), 7200);
        ReleaseDC(nullptr, screen);
        m_font = CreateFontW(height, 0, 0, 0, font.bold ? FW_BOLD : FW_NORMAL, FALSE, font.underline, FALSE,
                             DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                             DEFAULT_PITCH | FF_SWISS, Wide(font.name).c_str());
    }
    // Where each control lies on the form itself: frames within frames add up.
    std::map<std::string, const platform::ControlDesign*> by_name;
    for (const auto& control : m_design.controls) by_name[control.name] = &control;
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
    for (const auto& control : m_design.controls) {
        const auto position = on_form(control);
        const auto pixels = forms::Pixels(position, tx, ty);
        const wchar_t* window_class = L"STATIC";
        DWORD style = WS_CHILD | WS_VISIBLE;
        HBITMAP bitmap = nullptr;
        int height = pixels.height;
        switch (control.kind) {
            case platform::ControlKind::Frame:
                window_class = L"BUTTON";
                style |= BS_GROUPBOX;
                break;
            case platform::ControlKind::Label:
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
                style |= BS_PUSHBUTTON;
                bitmap = BitmapOf(control.picture);
                break;
            case platform::ControlKind::PictureBox:
                style |= SS_BITMAP;
                bitmap = BitmapOf(control.picture);
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
        if (m_font) SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), FALSE);
        if (bitmap && control.kind == platform::ControlKind::PictureBox) {
            SendMessageW(window, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
        }
        if (control.tab_index >= 0) tab_stops.emplace_back(control.tab_index, window);
        auto realised = std::make_unique<Control>(control, window, bitmap);
        m_by_id.push_back(realised.get());
        m_controls[control.name] = std::move(realised);
    }
    // Tab order is window order: the tab stops by their tab index, in front of the rest.
    std::sort(tab_stops.begin(), tab_stops.end());
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

Win32Form::Control& Win32Form::Find(const std::string& name, platform::ControlKind expected) {
    EnsureLoaded();
    return forms::RequireControl(m_controls, m_design.name, name, expected);
}

platform::IComboBox& Win32Form::ComboBox(const std::string& name) { return Find(name, platform::ControlKind::ComboBox); }
platform::ILabel& Win32Form::Label(const std::string& name) { return Find(name, platform::ControlKind::Label); }
platform::IPictureBox& Win32Form::PictureBox(const std::string& name) {
    return Find(name, platform::ControlKind::PictureBox);
}

void Win32Form::Click(const std::string& name) {
    EnsureLoaded();
    forms::RequireControl(m_controls, m_design.name, name);
    const auto handler = m_events.click.find(name);
    if (handler != m_events.click.end() && handler->second) handler->second();
}

}  // namespace selvane::win32
