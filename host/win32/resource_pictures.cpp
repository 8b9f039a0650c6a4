#include "win32/resource_pictures.h"

#include <shlwapi.h>
#include <wincodec.h>

#include <cwctype>

#include "win32/wide_text.h"

namespace selvane::win32 {
namespace {

// Releases a COM interface at the end of a scope.
template <typename Interface>
struct Held {
    Interface* pointer = nullptr;
    ~Held() {
        if (pointer) pointer->Release();
    }
    Interface** operator&() { return &pointer; }
    Interface* operator->() const { return pointer; }
    explicit operator bool() const { return pointer != nullptr; }
};

// The resource name of a picture file: capitals, "_" for "." (help.jpg is HELP_JPG).
std::wstring ResourceName(const std::string& file) {
    std::wstring name = Wide(file);
    for (auto& c : name) c = c == L'.' ? L'_' : static_cast<wchar_t>(towupper(c));
    return name;
}

}  // namespace

HBITMAP TopDownBitmap(int width, int height, int bits_per_pixel, void** bits) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // rows top to bottom
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = static_cast<WORD>(bits_per_pixel);
    info.bmiHeader.biCompression = BI_RGB;
    return CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, bits, nullptr, 0);
}

HBITMAP BitmapOf(const platform::Picture& picture) {
    if (picture.rgb.empty() || picture.width <= 0 || picture.height <= 0) return nullptr;
    void* bits = nullptr;
    HBITMAP bitmap = TopDownBitmap(picture.width, picture.height, 24, &bits);
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

HBITMAP LoadPictureResource(HINSTANCE module, const std::string& file, int width, int height) {
    HRSRC found = FindResourceW(module, ResourceName(file).c_str(), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    if (!found) return nullptr;
    HGLOBAL loaded = LoadResource(module, found);
    const auto* bytes = static_cast<const BYTE*>(LockResource(loaded));
    const DWORD size = SizeofResource(module, found);
    if (!bytes || size == 0) return nullptr;

    Held<IStream> stream;
    stream.pointer = SHCreateMemStream(bytes, size);
    Held<IWICImagingFactory> factory;
    if (!stream || FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_IWICImagingFactory, reinterpret_cast<void**>(&factory)))) {
        return nullptr;
    }
    Held<IWICBitmapDecoder> decoder;
    Held<IWICBitmapFrameDecode> frame;
    Held<IWICFormatConverter> converter;
    if (FAILED(factory->CreateDecoderFromStream(stream.pointer, nullptr, WICDecodeMetadataCacheOnLoad, &decoder)) ||
        FAILED(decoder->GetFrame(0, &frame)) || FAILED(factory->CreateFormatConverter(&converter)) ||
        FAILED(converter->Initialize(frame.pointer, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeCustom))) {
        return nullptr;
    }
    IWICBitmapSource* source = converter.pointer;
    Held<IWICBitmapScaler> scaler;
    UINT natural_width = 0, natural_height = 0;
    converter->GetSize(&natural_width, &natural_height);
    if (width > 0 && height > 0 && (static_cast<UINT>(width) != natural_width || static_cast<UINT>(height) != natural_height)) {
        if (SUCCEEDED(factory->CreateBitmapScaler(&scaler)) &&
            SUCCEEDED(scaler->Initialize(converter.pointer, static_cast<UINT>(width), static_cast<UINT>(height),
                                         WICBitmapInterpolationModeFant))) {
            source = scaler.pointer;
        }
    }
    UINT out_width = 0, out_height = 0;
    source->GetSize(&out_width, &out_height);
    void* bits = nullptr;
    HBITMAP bitmap = TopDownBitmap(static_cast<int>(out_width), static_cast<int>(out_height), 32, &bits);
    if (!bitmap) return nullptr;
    const UINT stride = out_width * 4;
    if (FAILED(source->CopyPixels(nullptr, stride, stride * out_height, static_cast<BYTE*>(bits)))) {
        DeleteObject(bitmap);
        return nullptr;
    }
    return bitmap;
}

HCURSOR LoadCursorResource(HINSTANCE module, const std::string& file, int hot_x, int hot_y) {
    HBITMAP colour = LoadPictureResource(module, file);
    if (!colour) return nullptr;
    BITMAP size{};
    GetObjectW(colour, sizeof size, &size);
    // The colour bitmap's alpha says what shows; the mask is all "show the colour".
    std::string zeros(static_cast<std::size_t>((size.bmWidth + 15) / 16 * 2 * size.bmHeight), '\0');
    HBITMAP mask = CreateBitmap(size.bmWidth, size.bmHeight, 1, 1, zeros.data());
    ICONINFO icon{};
    icon.fIcon = FALSE;
    icon.xHotspot = static_cast<DWORD>(hot_x);
    icon.yHotspot = static_cast<DWORD>(hot_y);
    icon.hbmMask = mask;
    icon.hbmColor = colour;
    HCURSOR cursor = CreateIconIndirect(&icon);
    DeleteObject(mask);
    DeleteObject(colour);
    return cursor;
}

}  // namespace selvane::win32
