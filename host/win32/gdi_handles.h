#pragma once

// Owners of the window system's handles: each frees its handle when it goes, so that no
// form or control frees a font, brush, bitmap or cursor by hand.

#include "win32/windows_include.h"

#include <utility>

namespace selvane::win32 {

template <typename Handle, void (*Free)(Handle)>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(Handle owned) : m_handle(owned) {}
    UniqueHandle(UniqueHandle&& other) noexcept : m_handle(std::exchange(other.m_handle, nullptr)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        std::swap(m_handle, other.m_handle);
        return *this;
    }
    ~UniqueHandle() {
        if (m_handle) Free(m_handle);
    }

    Handle Get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }

private:
    Handle m_handle = nullptr;
};

template <typename Handle>
void FreeGdiObject(Handle object) {
    DeleteObject(object);
}
inline void FreeCursor(HCURSOR cursor) { DestroyCursor(cursor); }

using UniqueBitmap = UniqueHandle<HBITMAP, FreeGdiObject<HBITMAP>>;
using UniqueFont = UniqueHandle<HFONT, FreeGdiObject<HFONT>>;
using UniqueBrush = UniqueHandle<HBRUSH, FreeGdiObject<HBRUSH>>;
using UniqueCursor = UniqueHandle<HCURSOR, FreeCursor>;

}  // namespace selvane::win32
