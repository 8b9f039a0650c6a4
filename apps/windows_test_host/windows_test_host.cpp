// The Windows test host: creates Tollamar.Selvane the way the map application does and
// checks what it sees. Prints one line a check; the exit status is the number of checks
// that failed.
//
//   windows_test_host.exe PATH\Selvane.dll [--picture FILE.png]
//                                                   the server is registered: check it (and
//                                                   save the dialog after its run as a PNG)
//   windows_test_host.exe --moved                   the server's file has moved since it registered
//   windows_test_host.exe --unregistered            the server is not registered

#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdlib>
#include <atomic>
#include <cwchar>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <wincodec.h>

#include "host_objects.h"
#include "selvane_h.h"
#include "test_map.h"

namespace {

int g_failures = 0;

void CheckDialogRun(ICommand* command);

void Expect(bool condition, const std::wstring& what) {
    std::wprintf(L"%ls: %ls\n", condition ? L"ok" : L"FAIL", what.c_str());
    if (!condition) ++g_failures;
}

std::wstring Take(BSTR text) {
    std::wstring value = text ? std::wstring(text, SysStringLen(text)) : std::wstring();
    SysFreeString(text);
    return value;
}

template <typename Get>
void ExpectText(ICommand* command, Get get, const wchar_t* expected, const wchar_t* name) {
    BSTR text = reinterpret_cast<BSTR>(1);
    const HRESULT result = (command->*get)(&text);
    const std::wstring value = Take(text);
    Expect(SUCCEEDED(result) && value == expected, std::wstring(name) + L" is \"" + expected + L"\" (got \"" + value + L"\")");
}

std::wstring VersionText(const std::wstring& path, const wchar_t* name) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return L"<no version resource>";
    std::wstring block(size, L'\0');
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return L"<unreadable>";
    wchar_t* value = nullptr;
    UINT length = 0;
    const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueW(block.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) || !value) return L"<none>";
    return std::wstring(value);
}

void CheckRegisteredServer(const std::wstring& dll) {
    CLSID clsid{};
    Expect(SUCCEEDED(CLSIDFromProgID(L"Tollamar.Selvane", &clsid)) && clsid == CLSID_Selvane,
           L"the ProgID Tollamar.Selvane names the class Selvane");

    ICommand* command = nullptr;
    const HRESULT created =
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ICommand, reinterpret_cast<void**>(&command));
    Expect(SUCCEEDED(created) && command, L"the class is created in process and answers ICommand");
    if (!command) return;

    VARIANT_BOOL flag = VARIANT_FALSE;
    Expect(SUCCEEDED(command->get_Enabled(&flag)) && flag == VARIANT_TRUE, L"Enabled is true before OnCreate");
    flag = VARIANT_TRUE;
    Expect(SUCCEEDED(command->get_Checked(&flag)) && flag == VARIANT_FALSE, L"Checked is false");
    ExpectText(command, &ICommand::get_Name, L"Tollamar_Selvane", L"Name");
    ExpectText(command, &ICommand::get_Caption, L"Selvane", L"Caption");
    ExpectText(command, &ICommand::get_Tooltip, L"Selvane - Spatial Selection", L"Tooltip");
    ExpectText(command, &ICommand::get_Message, L"Tollamar: www.tollamar.example", L"Message");
    ExpectText(command, &ICommand::get_Category, L"Tollamar", L"Category");
    BSTR help_file = reinterpret_cast<BSTR>(1);
    Expect(SUCCEEDED(command->get_HelpFile(&help_file)) && help_file == nullptr, L"HelpFile is a null string");
    LONG context = -1;
    Expect(SUCCEEDED(command->get_HelpContextID(&context)) && context == 0, L"HelpContextID is 0");

    OLE_HANDLE first = 0, second = 0;
    Expect(SUCCEEDED(command->get_Bitmap(&first)) && first != 0, L"Bitmap gives a handle");
    command->get_Bitmap(&second);
    Expect(first == second, L"Bitmap gives the same handle every time");
    BITMAP bitmap{};
    const int read = GetObjectW(reinterpret_cast<HBITMAP>(static_cast<INT_PTR>(first)), sizeof bitmap, &bitmap);
    Expect(read == sizeof bitmap && bitmap.bmWidth == 16 && bitmap.bmHeight == 16 && bitmap.bmBitsPixel == 24,
           L"the bitmap is 16 x 16 pixels of 24 bits (" + std::to_wstring(bitmap.bmWidth) + L" x " +
               std::to_wstring(bitmap.bmHeight) + L", " + std::to_wstring(bitmap.bmBitsPixel) + L" bits)");

    IDispatch* automation = nullptr;
    Expect(SUCCEEDED(command->QueryInterface(IID__Selvane, reinterpret_cast<void**>(&automation))) && automation,
           L"the default interface _Selvane is there");
    if (automation) {
        ITypeInfo* info = nullptr;
        UINT count = 0;
        Expect(SUCCEEDED(automation->GetTypeInfoCount(&count)) && count == 1 &&
                   SUCCEEDED(automation->GetTypeInfo(0, 0, &info)) && info,
               L"_Selvane describes itself from the embedded type library");
        if (info) info->Release();
        automation->Release();
    }

    CheckDialogRun(command);

    HMODULE server = GetModuleHandleW(L"Selvane.dll");
    using CanUnload = HRESULT(STDAPICALLTYPE*)();
    auto can_unload = reinterpret_cast<CanUnload>(reinterpret_cast<void*>(GetProcAddress(server, "DllCanUnloadNow")));
    Expect(can_unload && can_unload() == S_FALSE, L"the server stays loaded while an object lives");
    command->Release();
    Expect(can_unload && can_unload() == S_OK, L"the server may unload once no object lives");

    Expect(VersionText(dll, L"FileVersion") == L"2.04.0010", L"FileVersion is 2.04.0010");
    Expect(VersionText(dll, L"ProductVersion") == L"2.04.0010", L"ProductVersion is 2.04.0010");
    Expect(VersionText(dll, L"CompanyName") == L"Tollamar", L"CompanyName is Tollamar");
    Expect(VersionText(dll, L"ProductName") == L"Selvane", L"ProductName is Selvane");
    Expect(VersionText(dll, L"InternalName") == L"Selvane", L"InternalName is Selvane");
    Expect(VersionText(dll, L"OriginalFilename") == L"Selvane.dll", L"OriginalFilename is Selvane.dll");
    Expect(VersionText(dll, L"OLESelfRegister") != L"<none>", L"the server says it registers itself");
}

// Message boxes: a watcher closes each one with OK and keeps its title and text.
std::mutex g_boxes_mutex;
std::vector<std::wstring> g_boxes;
std::vector<HWND> g_box_owners;  // each box's owner window, beside g_boxes
std::set<HWND> g_boxes_seen;
std::atomic<bool> g_watching{true};

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

std::wstring g_dll_path;  // the server under test

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

// A 32-bit picture of a window's client area's size to paint into, freed with it.
class Canvas {
public:
    explicit Canvas(HWND window) {
        GetClientRect(window, &m_area);
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
    RECT m_area{};
    void* m_bits = nullptr;
    HBITMAP m_bitmap = nullptr;
    HDC m_device = nullptr;
    HGDIOBJ m_previous = nullptr;
};

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

// The window as the user sees it, saved as a PNG (for the README).
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

std::wstring g_picture_path;  // where to save the dialog's picture after the run, if anywhere

void CheckDialogRun(ICommand* command) {
    using test_host::Shape;
    std::vector<Shape> parcels;
    for (int i = 0; i < 6; ++i) parcels.push_back({i * 10.0, 0, i * 10.0 + 10, 10});
    test_host::MakeMap({{L"Parcels", parcels}, {L"Wells", {{5, 5, 5, 5}, {25, 5, 25, 5}, {30, 5, 30, 5}, {100, 100, 100, 100}}}},
                       L"Base", {{L"Roads", {{0, 4, 60, 6}}}});
    test_host::RegisterHostClasses();
    HANDLE watcher = CreateThread(nullptr, 0, WatchMessageBoxes, nullptr, 0, nullptr);

    Expect(SUCCEEDED(command->OnCreate(test_host::Hook())) && TakeBoxes().empty(), L"OnCreate takes the application");
    VARIANT_BOOL enabled = VARIANT_FALSE;
    Expect(SUCCEEDED(command->get_Enabled(&enabled)) && enabled == VARIANT_TRUE, L"Enabled is true after OnCreate");
    ExpectText(command, &ICommand::get_Caption, L"Selvane", L"Caption after OnCreate");
    ExpectText(command, &ICommand::get_Name, L"Tollamar_Selvane", L"Name after OnCreate");
    Expect(SUCCEEDED(command->OnClick()), L"OnClick returns success");
    auto& seen = test_host::Seen();
    Expect(seen.dialogs.size() == 1 && IsWindowVisible(seen.frames.front()),
           L"a press shows the dialog in a frame of the host");
    if (seen.dialogs.size() == 1) {
        HWND dialog = seen.dialogs.front();
        Expect(TextOf(seen.frames.front()) == L"Selvane", L"the frame's caption is Selvane (" + TextOf(seen.frames.front()) + L")");
        const auto pickers = Pickers(dialog);
        Expect(pickers.size() == 3, L"the dialog has three pickers");
        Expect(TakeBoxes().empty(), L"the dialog opens without a message box");
        HWND logo = nullptr;
        for (HWND picture : Children(dialog, L"Static")) {
            if ((GetWindowLongW(picture, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP) logo = picture;
        }
        RECT logo_area{};
        if (logo) GetWindowRect(logo, &logo_area);
        const LRESULT hit = logo ? SendMessageW(logo, WM_NCHITTEST, 0, MAKELPARAM(logo_area.left + 2, logo_area.top + 2)) : 0;
        Expect(hit == HTCLIENT, L"the logo answers the pointer, so that its tooltip can show (hit test " +
                                    std::to_wstring(hit) + L")");
        Expect(GroupBoxes(dialog) == 2, L"the dialog's two frames with borders are group boxes");
        if (pickers.size() == 3) {
            // The layer lists on #FFFFDD, the relationship list on #F2E1EB: the closed
            // field and the list that drops down.
            const long backs[] = {0xFFFFDD, 0xF2E1EB, 0xFFFFDD};
            for (std::size_t index = 0; index < 3; ++index) {
                RECT field{};
                GetClientRect(pickers[index], &field);
                const long closed = ClientPixel(pickers[index], field.right - 30, field.bottom / 2);
                COMBOBOXINFO parts{};
                parts.cbSize = sizeof parts;
                long dropped = -1;
                if (GetComboBoxInfo(pickers[index], &parts) && parts.hwndList) {
                    SendMessageW(pickers[index], CB_SHOWDROPDOWN, TRUE, 0);
                    RECT list{};
                    GetClientRect(parts.hwndList, &list);
                    const auto row = static_cast<int>(SendMessageW(parts.hwndList, LB_GETITEMHEIGHT, 0, 0));
                    dropped = ClientPixel(parts.hwndList, list.right - 4, row + row / 2);
                    SendMessageW(pickers[index], CB_SHOWDROPDOWN, FALSE, 0);
                }
                Expect(closed == backs[index] && dropped == backs[index],
                       L"picker " + std::to_wstring(index + 1) + L" is on " + Hex(backs[index]) + L" (closed " +
                           Hex(closed) + L", dropped " + Hex(dropped) + L")");
            }
            // The keyboard: once shown, Layer #1's picker has the focus, and Tab walks the
            // design's order (Layer #1, relationship, Layer #2, Clear Selection, Select
            // Features, ?) and round, in a host whose message loop knows nothing of dialogs.
            Pump();
            const std::vector<HWND> order{pickers[2], pickers[1], pickers[0], ButtonNamed(dialog, L"Clear Selection"),
                                          ButtonNamed(dialog, L"Select Features"), ButtonNamed(dialog, L"?"),
                                          pickers[2]};
            Expect(GetFocus() == order[0], L"Layer #1's picker has the focus when the dialog opens");
            std::size_t reached = 0;
            while (reached + 1 < order.size() && GetFocus() == order[reached]) {
                PostMessageW(GetFocus(), WM_KEYDOWN, VK_TAB, 1);
                Pump();
                ++reached;
            }
            Expect(reached + 1 == order.size() && GetFocus() == order.back(),
                   L"Tab walks the pickers from Layer #1 up, the buttons, and round (" + std::to_wstring(reached) +
                       L" steps in order)");
            const auto layers = Entries(pickers[0]);
            const auto has = [&layers](const wchar_t* name) {
                return std::find(layers.begin(), layers.end(), name) != layers.end();
            };
            Expect(has(L"Parcels") && has(L"Wells") && has(L"Roads"),
                   L"Layer #2 lists the feature layers, those in the group too");
            Expect(Entries(pickers[1]).size() == 7, L"seven relationships are offered");

            Expect(Pick(pickers[0], L"Parcels") && Pick(pickers[1], L"INTERSECT") && Pick(pickers[2], L"Wells") &&
                       Press(dialog, L"Select Features"),
                   L"Parcels INTERSECT Wells is picked and run");
            const auto selected = test_host::Selected(L"Parcels");
            Expect(selected == std::set<LONGLONG>{1, 3, 4}, L"the parcels with wells are selected");
            Expect(Count(dialog) == L"3", L"the count label says 3 (" + Count(dialog) + L")");
            const auto& progress = seen.progress;
            Expect(std::find(progress.begin(), progress.end(), L"Show") != progress.end() &&
                       std::find(progress.begin(), progress.end(), L"Hide") != progress.end() &&
                       std::find(progress.begin(), progress.end(), L"MaxRange=4") != progress.end(),
                   L"the status bar's progress bar ran from 1 to the number of wells and was hidden");
            Expect(seen.refreshes >= 1, L"the map was redrawn");
            Expect(TakeBoxes().empty(), L"the run shows no message box");
            if (!g_picture_path.empty()) {
                Expect(SaveWindowPicture(seen.frames.front(), g_picture_path), L"the dialog's picture is saved");
                Expect(SaveDroppedPicture(seen.frames.front(), pickers[1], Beside(g_picture_path, L"_dropped")),
                       L"the picture of the dialog with the relationships dropped open is saved");
            }

            Press(dialog, L"Clear Selection");
            Pick(pickers[1], L"ENVELOPE INTERSECT");
            Press(dialog, L"Select Features");
            Expect(test_host::Selected(L"Parcels") == std::set<LONGLONG>{1, 3, 4} && TakeBoxes().empty(),
                   L"ENVELOPE INTERSECT selects the same parcels");

            // A host call that fails in the run: the standard report with the host's number and words.
            test_host::FailProgressShow(true);
            Press(dialog, L"Select Features");
            test_host::FailProgressShow(false);
            auto report = TakeBoxes();
            Expect(report.size() == 1 && report.front().find(L"ERROR NUMBER: -2147467259") != std::wstring::npos &&
                       report.front().find(L"ERROR DESCRIPTION: The test host's progress bar cannot be shown") !=
                           std::wstring::npos,
                   L"a failing host call ends the run through the report, with the host's number and words");

            Pick(pickers[1], L"TOUCH");
            Press(dialog, L"Select Features");
            const auto owners = BoxOwners();
            const auto boxes = TakeBoxes();
            Expect(owners.size() == 1 && owners.front() == test_host::MainWindow(),
                   L"a message box is owned by the host's main window, as its application-modal box");
            Expect(boxes.size() == 1 && boxes.front().rfind(L"Selvane|Error relating the two layers", 0) == 0,
                   L"a search the host fails gives the relate error (" + (boxes.empty() ? L"none" : boxes.front()) + L")");

            Press(dialog, L"Clear Selection");
            Expect(test_host::Selected(L"Parcels").empty() && Count(dialog) == L"0",
                   L"Clear Selection clears the map's selection and the count");
        }
        // Centred on the screen.
        RECT frame{};
        GetWindowRect(seen.frames.front(), &frame);
        const int dx = (frame.left + frame.right) / 2 - GetSystemMetrics(SM_CXSCREEN) / 2;
        const int dy = (frame.top + frame.bottom) / 2 - GetSystemMetrics(SM_CYSCREEN) / 2;
        Expect(std::abs(dx) <= 20 && std::abs(dy) <= 20,
               L"the dialog's frame is centred on the screen (off by " + std::to_wstring(dx) + L", " + std::to_wstring(dy) + L")");

        Expect(SUCCEEDED(command->OnClick()) && seen.dialogs.size() == 2, L"a second press opens a second dialog");
        const auto frames = seen.frames.size();
        HWND second = seen.dialogs.back();  // help windows come after it
        for (int press = 0; press < 3; ++press) Press(second, L"?");
        Expect(seen.frames.size() == frames + 3, L"three presses of \"?\" open three help windows (" +
                                                     std::to_wstring(seen.frames.size() - frames) + L")");
        Expect(TakeBoxes().empty(), L"help opens without a message box");
        if (!g_picture_path.empty()) {
            Expect(SaveWindowPicture(seen.frames.back(), Beside(g_picture_path, L"_help")),
                   L"the help window's picture is saved");
        }
        // The help picture is drawn as it is, from the top left: the client area's pixels
        // are the picture's at the same places, not those of the picture shrunk to fit.
        for (const auto& [x, y] : {std::pair{345, 250}, std::pair{300, 463}, std::pair{100, 200}}) {
            const long painted = PaintedPixel(seen.dialogs.back(), x, y);
            const long stored = HelpPicturePixel(static_cast<UINT>(x), static_cast<UINT>(y));
            Expect(stored >= 0 && painted == stored, L"the help window shows the picture's pixel at " +
                                                          std::to_wstring(x) + L", " + std::to_wstring(y) + L" (" +
                                                          std::to_wstring(painted) + L" for " + std::to_wstring(stored) + L")");
        }
        int transparent_links = 0;
        for (HWND label : Children(seen.dialogs.back(), L"Static")) {
            const auto text = TextOf(label);
            if (text == L"Check for Updates" || text == L"Product Forum") transparent_links += PaintsOnlyItsText(label);
        }
        Expect(transparent_links == 2, L"the links over the help picture paint only their text (" +
                                           std::to_wstring(transparent_links) + L" of 2)");
        Expect(GroupBoxes(seen.dialogs.back()) == 0,
               L"the help window's frame without a border is no group box (" +
                   std::to_wstring(GroupBoxes(seen.dialogs.back())) + L")");
        // A quick double press of "?" is two presses: the button's double click counts.
        HWND help_button = nullptr;
        for (HWND button : Children(second, L"Button")) {
            if (TextOf(button) == L"?") help_button = button;
        }
        const auto before_double = seen.frames.size();
        if (help_button) {
            const LPARAM at = MAKELPARAM(3, 3);
            SendMessageW(help_button, WM_LBUTTONDOWN, MK_LBUTTON, at);
            SendMessageW(help_button, WM_LBUTTONUP, 0, at);
            SendMessageW(help_button, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
            SendMessageW(help_button, WM_LBUTTONUP, 0, at);
        }
        Expect(help_button && seen.frames.size() == before_double + 2,
               L"a double press of \"?\" opens two help windows (" + std::to_wstring(seen.frames.size() - before_double) +
                   L")");
        Expect(TakeBoxes().empty(), L"the double press shows no message box");

        // A host that destroys a help frame frees its dialog: fifty opened and destroyed
        // leave nothing behind (each dialog holds its picture, 733 x 533, 1.5 MB, so fifty
        // kept would show), and the dialog that opened them still works.
        for (std::size_t index = before_double; index < seen.frames.size(); ++index) DestroyWindow(seen.frames[index]);
        Pump();
        const int forms_steady = FormWindows();
        const auto memory_before = PrivateMemory();
        for (int cycle = 0; cycle < 50; ++cycle) {
            Press(second, L"?");
            if (!seen.frames.empty()) DestroyWindow(seen.frames.back());
            Pump();
        }
        const auto grown = (PrivateMemory() - memory_before) / (1024 * 1024);
        Expect(FormWindows() == forms_steady && grown < 20,
               L"fifty help windows opened and destroyed leave nothing behind (" + std::to_wstring(FormWindows()) +
                   L" forms for " + std::to_wstring(forms_steady) + L", " + std::to_wstring(grown) + L" MB more)");
        const auto frames_now = seen.frames.size();
        Press(second, L"?");
        Expect(seen.frames.size() == frames_now + 1 && TakeBoxes().empty(), L"\"?\" still opens help after that");

        const auto dialogs = seen.dialogs.size();
        test_host::UseOtherDocument(true);
        command->OnClick();
        test_host::UseOtherDocument(false);
        const auto boxes = TakeBoxes();
        std::wstring said;
        for (const auto& box : boxes) said += box + L";";
        Expect(boxes == std::vector<std::wstring>{L"Selvane|Error: ICommand_OnClick()"} && seen.dialogs.size() == dialogs,
               L"a document that is not a map document gives \"Error: ICommand_OnClick()\" and no dialog (" + said +
                   std::to_wstring(seen.dialogs.size()) + L")");
    }
    ICommand* other = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_Selvane, nullptr, CLSCTX_INPROC_SERVER, IID_ICommand,
                                   reinterpret_cast<void**>(&other)))) {
        const HRESULT created = other->OnCreate(test_host::PlainHook());
        Expect(SUCCEEDED(created) && TakeBoxes() == std::vector<std::wstring>{L"Selvane|Error: ICommand_OnCreate()"},
               L"a hook that is not an application gives \"Error: ICommand_OnCreate()\" and still success");
        other->Release();
    }
    g_watching = false;
    WaitForSingleObject(watcher, INFINITE);
    CloseHandle(watcher);
    test_host::RevokeHostClasses();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::wprintf(L"usage: windows_test_host PATH\\Selvane.dll | --unregistered\n");
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (std::wstring(argv[1]) == L"--moved") {
        CLSID clsid{};
        IUnknown* object = nullptr;
        Expect(SUCCEEDED(CLSIDFromProgID(L"Tollamar.Selvane", &clsid)) &&
                   FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                           reinterpret_cast<void**>(&object))),
               L"a class whose file has moved is still registered, and cannot be created");
        if (object) object->Release();
    } else if (std::wstring(argv[1]) == L"--unregistered") {
        CLSID clsid{};
        Expect(FAILED(CLSIDFromProgID(L"Tollamar.Selvane", &clsid)), L"the ProgID is gone");
        IUnknown* object = nullptr;
        Expect(CoCreateInstance(CLSID_Selvane, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                reinterpret_cast<void**>(&object)) == REGDB_E_CLASSNOTREG,
               L"the class is not registered");
        if (object) object->Release();
    } else {
        if (argc > 3 && std::wstring(argv[2]) == L"--picture") g_picture_path = argv[3];
        g_dll_path = argv[1];
        CheckRegisteredServer(argv[1]);
    }
    CoUninitialize();
    return g_failures;
}
