#include "window_probes.h"

#include <oleauto.h>
#include <wincodec.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <mutex>
#include <set>
#include <utility>

namespace test_host {

std::wstring g_dll_path;

namespace {

// Message boxes: a watcher closes each one with OK and keeps its title and text.
std::mutex g_boxes_mutex;
std::vector<std::wstring> g_boxes;
std::vector<HWND> g_box_owners;  // each box's owner window, beside g_boxes
std::set<HWND> g_boxes_seen;
std::atomic<bool> g_watching{true};
HANDLE g_watcher = nullptr;

BOOL CALLBACK CloseMessageBox(HWND window, LPARAM) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t window_class[32] = {};
    GetClassNameW(window, window_class, 32);
    if (process != GetCurrentProcessId() || std::wcscmp(window_class, L"#32770") != 0 || !IsWindowVisible(window)) {
        return TRUE;
    }
    std::lock_guard<std::mutex> lock(g_boxes_mutex);
    if (!g_boxes_seen.insert(window).second) return TRUE;
    wchar_t title[128] = {};
    wchar_t text[4096] = {};
    GetWindowTextW(window, title, 128);
    GetWindowTextW(GetDlgItem(window, 0xFFFF), text, 4096);
    g_boxes.push_back(std::wstring(title) + L"|" + text);
    g_box_owners.push_back(GetWindow(window, GW_OWNER));
    PostMessageW(window, WM_COMMAND, IDOK, 0);
    return TRUE;
}

DWORD WINAPI WatchMessageBoxes(void*) {
    while (g_watching) {
        EnumWindows(CloseMessageBox, 0);
        Sleep(20);
    }
    return 0;
}

}  // namespace

void StartWatchingMessageBoxes() {
    g_watching = true;
    g_watcher = CreateThread(nullptr, 0, WatchMessageBoxes, nullptr, 0, nullptr);
}

void StopWatchingMessageBoxes() {
    g_watching = false;
    if (!g_watcher) return;
    WaitForSingleObject(g_watcher, INFINITE);
    CloseHandle(g_watcher);
    g_watcher = nullptr;
}

std::vector<std::wstring> TakeBoxes() {
    std::lock_guard<std::mutex> lock(g_boxes_mutex);
    g_box_owners.clear();
    return std::exchange(g_boxes, {});
}

// The owner windows of the boxes not taken yet.
std::vector<HWND> BoxOwners() {
    std::lock_guard<std::mutex> lock(g_boxes_mutex);
    return g_box_owners;
}

std::wstring TextOf(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

namespace {

struct ChildSearch {
    const wchar_t* window_class;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectChild(HWND child, LPARAM data) {
    auto* search = reinterpret_cast<ChildSearch*>(data);
    wchar_t name[32] = {};
    GetClassNameW(child, name, 32);
    if (_wcsicmp(name, search->window_class) == 0) search->found.push_back(child);
    return TRUE;
}

}  // namespace

std::vector<HWND> Children(HWND dialog, const wchar_t* window_class) {
    ChildSearch search{window_class, {}};
    EnumChildWindows(dialog, CollectChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The dialog's drop-down lists, top to bottom: Layer #2, the relationship, Layer #1.
std::vector<HWND> Pickers(HWND dialog) {
    auto pickers = Children(dialog, L"ComboBox");
    std::sort(pickers.begin(), pickers.end(), [](HWND a, HWND b) {
        RECT ra{}, rb{};
        GetWindowRect(a, &ra);
        GetWindowRect(b, &rb);
        return ra.top < rb.top;
    });
    return pickers;
}

std::vector<std::wstring> Entries(HWND picker) {
    std::vector<std::wstring> entries;
    const auto count = SendMessageW(picker, CB_GETCOUNT, 0, 0);
    for (int index = 0; index < count; ++index) {
        wchar_t text[256] = {};
        SendMessageW(picker, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
        entries.push_back(text);
    }
    return entries;
}

bool Pick(HWND picker, const std::wstring& entry) {
    const auto index = SendMessageW(picker, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(entry.c_str()));
    if (index == CB_ERR) return false;
    SendMessageW(picker, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    return true;
}


// The pixel (x, y) of the server's help picture as it is stored, as 0xRRGGBB; -1 when it
// cannot be read.
long HelpPicturePixel(UINT x, UINT y) {
    HMODULE module = LoadLibraryExW(g_dll_path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    HRSRC found = module ? FindResourceW(module, L"HELP_JPG", MAKEINTRESOURCEW(10)) : nullptr;
    const auto* bytes = found ? static_cast<BYTE*>(LockResource(LoadResource(module, found))) : nullptr;
    long pixel = -1;
    IWICImagingFactory* factory = nullptr;
    IWICStream* stream = nullptr;
    IWICBitmapDecoder* decoder = nullptr;
    IWICBitmapFrameDecode* frame = nullptr;
    IWICFormatConverter* converter = nullptr;
    BYTE bgrx[4] = {};
    const WICRect one{static_cast<INT>(x), static_cast<INT>(y), 1, 1};
    if (bytes && SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                            IID_IWICImagingFactory, reinterpret_cast<void**>(&factory))) &&
        SUCCEEDED(factory->CreateStream(&stream)) &&
        SUCCEEDED(stream->InitializeFromMemory(const_cast<BYTE*>(bytes), SizeofResource(module, found))) &&
        SUCCEEDED(factory->CreateDecoderFromStream(stream, nullptr, WICDecodeMetadataCacheOnLoad, &decoder)) &&
        SUCCEEDED(decoder->GetFrame(0, &frame)) && SUCCEEDED(factory->CreateFormatConverter(&converter)) &&
        SUCCEEDED(converter->Initialize(frame, GUID_WICPixelFormat32bppBGR, WICBitmapDitherTypeNone, nullptr, 0,
                                        WICBitmapPaletteTypeCustom)) &&
        SUCCEEDED(converter->CopyPixels(&one, 4, 4, bgrx))) {
        pixel = (long{bgrx[2]} << 16) | (long{bgrx[1]} << 8) | bgrx[0];
    }
    for (IUnknown* held : std::initializer_list<IUnknown*>{converter, frame, decoder, stream, factory}) {
        if (held) held->Release();
    }
    if (module) FreeLibrary(module);
    return pixel;
}

namespace {

// A 32-bit picture of a window's client area's size to paint into, freed with it.
class Canvas {
public:
    explicit Canvas(HWND window) : Canvas(ClientArea(window)) {}
    explicit Canvas(const RECT& area) : m_area(area) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = m_area.right;
        info.bmiHeader.biHeight = -m_area.bottom;  // rows top to bottom
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        m_bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &m_bits, nullptr, 0);
        m_device = CreateCompatibleDC(nullptr);
        m_previous = SelectObject(m_device, m_bitmap);
    }
    ~Canvas() {
        SelectObject(m_device, m_previous);
        DeleteDC(m_device);
        DeleteObject(m_bitmap);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC Device() const { return m_device; }
    const RECT& Area() const { return m_area; }
    /// The pixel (x, y) as 0xRRGGBB; -1 outside.
    long Pixel(int x, int y) const {
        GdiFlush();
        if (!m_bits || x < 0 || y < 0 || x >= m_area.right || y >= m_area.bottom) return -1;
        const auto* bgrx = static_cast<const BYTE*>(m_bits) + (y * m_area.right + x) * 4;
        return (long{bgrx[2]} << 16) | (long{bgrx[1]} << 8) | bgrx[0];
    }

private:
    static RECT ClientArea(HWND window) {
        RECT area{};
        GetClientRect(window, &area);
        return area;
    }

    RECT m_area{};
    void* m_bits = nullptr;
    HBITMAP m_bitmap = nullptr;
    HDC m_device = nullptr;
    HGDIOBJ m_previous = nullptr;
};

}  // namespace

// The pixel (x, y) of a form's background as the form paints it, as 0xRRGGBB.
long PaintedPixel(HWND form, int x, int y) {
    Canvas canvas(form);
    SendMessageW(form, WM_ERASEBKGND, reinterpret_cast<WPARAM>(canvas.Device()), 0);
    return canvas.Pixel(x, y);
}

// The pixel (x, y) of a window's client area as the window paints it, as 0xRRGGBB.
long ClientPixel(HWND window, int x, int y) {
    Canvas canvas(window);
    SendMessageW(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.Device()), PRF_CLIENT | PRF_ERASEBKGND);
    return canvas.Pixel(x, y);
}

// How much a text darkens white paper, drawn black in `font`: the sum over its pixels.
long long InkOf(HFONT font, const std::wstring& text) {
    Canvas canvas(RECT{0, 0, 400, 60});
    FillRect(canvas.Device(), &canvas.Area(), static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    HGDIOBJ previous = SelectObject(canvas.Device(), font);
    SetBkMode(canvas.Device(), TRANSPARENT);
    SetTextColor(canvas.Device(), RGB(0, 0, 0));
    RECT area = canvas.Area();
    DrawTextW(canvas.Device(), text.c_str(), static_cast<int>(text.size()), &area, DT_LEFT | DT_SINGLELINE);
    SelectObject(canvas.Device(), previous);
    long long ink = 0;
    for (int y = 0; y < area.bottom; ++y) {
        for (int x = 0; x < area.right; ++x) ink += 0xFF - (canvas.Pixel(x, y) & 0xFF);
    }
    return ink;
}

// The face the font system gives for `font`.
std::wstring FaceOf(HFONT font) {
    HDC device = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(device, font);
    wchar_t face[LF_FACESIZE]{};
    GetTextFaceW(device, LF_FACESIZE, face);
    SelectObject(device, previous);
    DeleteDC(device);
    return face;
}

// Whether a label paints only its text: printed onto magenta, its corner stays magenta.
bool PaintsOnlyItsText(HWND label) {
    Canvas canvas(label);
    HBRUSH magenta = CreateSolidBrush(RGB(255, 0, 255));
    FillRect(canvas.Device(), &canvas.Area(), magenta);
    DeleteObject(magenta);
    SendMessageW(label, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.Device()), PRF_CLIENT);
    return canvas.Pixel(0, canvas.Area().bottom - 1) == 0xFF00FF;
}

std::wstring Hex(long colour) {
    wchar_t text[16];
    std::swprintf(text, 16, L"#%06lX", colour);
    return text;
}

// Runs the messages waiting for this thread, as a host's message loop would.
void Pump() {
    MSG message;
    for (int round = 0; round < 3; ++round) {
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(5);
    }
}

HWND ButtonNamed(HWND dialog, const std::wstring& caption) {
    for (HWND button : Children(dialog, L"Button")) {
        if (TextOf(button) == caption) return button;
    }
    return nullptr;
}

// The memory this process has committed for itself (heaps, bitmaps' pixels), in bytes.
long long PrivateMemory() {
    long long committed = 0;
    MEMORY_BASIC_INFORMATION region{};
    for (auto* at = static_cast<const char*>(nullptr); VirtualQuery(at, &region, sizeof region) == sizeof region;
         at = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) committed += static_cast<long long>(region.RegionSize);
        if (region.RegionSize == 0) break;
    }
    return committed;
}

// The windows of Selvane's forms in this process, hosted in frames or not.
int FormWindows() {
    struct Count {
        int forms = 0;
        static BOOL CALLBACK Child(HWND window, LPARAM data) {
            wchar_t name[32] = {};
            GetClassNameW(window, name, 32);
            reinterpret_cast<Count*>(data)->forms += std::wcscmp(name, L"SelvaneForm") == 0;
            return TRUE;
        }
        static BOOL CALLBACK Top(HWND window, LPARAM data) {
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            if (process != GetCurrentProcessId()) return TRUE;
            Child(window, data);
            EnumChildWindows(window, Child, data);
            return TRUE;
        }
    } count;
    EnumWindows(Count::Top, reinterpret_cast<LPARAM>(&count));
    return count.forms;
}

int GroupBoxes(HWND dialog) {
    int count = 0;
    for (HWND button : Children(dialog, L"Button")) count += (GetWindowLongW(button, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX;
    return count;
}

bool Press(HWND dialog, const std::wstring& caption) {
    for (HWND button : Children(dialog, L"Button")) {
        if (TextOf(button) != caption) continue;
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED), reinterpret_cast<LPARAM>(button));
        return true;
    }
    return false;
}

// The count label: the one label that holds a number.
std::wstring Count(HWND dialog) {
    for (HWND label : Children(dialog, L"Static")) {
        const auto text = TextOf(label);
        if (!text.empty() && std::all_of(text.begin(), text.end(), iswdigit)) return text;
    }
    return L"<none>";
}

namespace {

// Saves `area` of `source` (a window's own pixels, or the screen's) as a PNG file.
bool SavePicture(HWND source, const RECT& area, const std::wstring& path) {
    const int width = area.right - area.left, height = area.bottom - area.top;
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    MSG message;
    for (int round = 0; round < 20; ++round) {
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        Sleep(10);
    }
    HDC device = CreateCompatibleDC(nullptr);
    HBITMAP picture = CreateDIBSection(device, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(device, picture);
    HDC source_device = source ? GetWindowDC(source) : GetDC(nullptr);
    BitBlt(device, 0, 0, width, height, source_device, source ? 0 : area.left, source ? 0 : area.top, SRCCOPY);
    ReleaseDC(source, source_device);
    SelectObject(device, previous);
    DeleteDC(device);
    auto* pixels = static_cast<BYTE*>(bits);
    for (int i = 0; i < width * height; ++i) pixels[i * 4 + 3] = 0xFF;  // GDI leaves alpha at 0
    IWICImagingFactory* factory = nullptr;
    IWICStream* stream = nullptr;
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
    const UINT stride = static_cast<UINT>(width) * 4;
    const bool saved =
        SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                   reinterpret_cast<void**>(&factory))) &&
        SUCCEEDED(factory->CreateStream(&stream)) && SUCCEEDED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) &&
        SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) &&
        SUCCEEDED(encoder->Initialize(stream, WICBitmapEncoderNoCache)) &&
        SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) && SUCCEEDED(frame->Initialize(nullptr)) &&
        SUCCEEDED(frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(height))) &&
        SUCCEEDED(frame->SetPixelFormat(&format)) &&
        SUCCEEDED(frame->WritePixels(static_cast<UINT>(height), stride, stride * static_cast<UINT>(height), pixels)) &&
        SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
    for (IUnknown* object : {static_cast<IUnknown*>(frame), static_cast<IUnknown*>(encoder),
                             static_cast<IUnknown*>(stream), static_cast<IUnknown*>(factory)}) {
        if (object) object->Release();
    }
    DeleteObject(picture);
    return saved;
}

}  // namespace

bool SaveWindowPicture(HWND window, const std::wstring& path) {
    RECT area{};
    GetWindowRect(window, &area);
    // Drawn first, with its children, then copied from the window's own pixels.
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    return SavePicture(window, area, path);
}

// The dialog's frame with a picker's list dropped open over it, as the screen shows them.
bool SaveDroppedPicture(HWND frame, HWND picker, const std::wstring& path) {
    SendMessageW(picker, CB_SHOWDROPDOWN, TRUE, 0);
    COMBOBOXINFO parts{};
    parts.cbSize = sizeof parts;
    RECT area{}, list{};
    GetWindowRect(frame, &area);
    if (GetComboBoxInfo(picker, &parts) && parts.hwndList) {
        GetWindowRect(parts.hwndList, &list);
        UnionRect(&area, &area, &list);
    }
    const bool saved = SavePicture(nullptr, area, path);
    SendMessageW(picker, CB_SHOWDROPDOWN, FALSE, 0);
    return saved;
}

// `path` with `suffix` before its extension.
std::wstring Beside(const std::wstring& path, const std::wstring& suffix) {
    const auto dot = path.rfind(L'.');
    return dot == std::wstring::npos ? path + suffix : path.substr(0, dot) + suffix + path.substr(dot);
}

}  // namespace test_host
