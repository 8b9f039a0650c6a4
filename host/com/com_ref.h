#pragma once

#include "win32/windows_include.h"

#include <utility>

namespace selvane::com {

/// Owns one reference to a COM interface.
template <typename Interface>
class ComRef {
public:
    ComRef() = default;
    /// Takes over a reference the caller owns.
    explicit ComRef(Interface* owned) : m_pointer(owned) {}
    ComRef(const ComRef& other) : m_pointer(other.m_pointer) {
        if (m_pointer) m_pointer->AddRef();
    }
    ComRef(ComRef&& other) noexcept : m_pointer(std::exchange(other.m_pointer, nullptr)) {}
    ComRef& operator=(ComRef other) noexcept {
        std::swap(m_pointer, other.m_pointer);
        return *this;
    }
    ~ComRef() {
        if (m_pointer) m_pointer->Release();
    }
    /// Shares a reference the caller keeps.
    static ComRef Share(Interface* borrowed) {
        if (borrowed) borrowed->AddRef();
        return ComRef(borrowed);
    }
    /// The same object as another interface; empty when it does not support it.
    template <typename Other>
    ComRef<Other> As(REFIID iid) const {
        Other* other = nullptr;
        if (m_pointer) m_pointer->QueryInterface(iid, reinterpret_cast<void**>(&other));
        return ComRef<Other>(other);
    }
    Interface* operator->() const { return m_pointer; }
    Interface* Get() const { return m_pointer; }
    Interface** Out() {
        *this = ComRef();
        return &m_pointer;
    }
    explicit operator bool() const { return m_pointer != nullptr; }

private:
    Interface* m_pointer = nullptr;
};

}  // namespace selvane::com
