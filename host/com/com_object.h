#pragma once

// The IUnknown of every COM object the project makes, in the server and in the Windows
// test host: a reference count, and the interfaces the object answers.

#include "win32/windows_include.h"
#include <objbase.h>

#include <atomic>

namespace selvane::com {

/// An object answering `Interfaces`, freed with its last reference. `Find` gives the
/// object as the interface asked for, or nullptr when it is not one of them.
template <typename... Interfaces>
class ComObject : public Interfaces... {
public:
    ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = Find(iid);
        if (!*out) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --m_references;
        if (left == 0) delete this;
        return left;
    }

protected:
    virtual ~ComObject() = default;
    virtual void* Find(REFIID iid) = 0;

private:
    std::atomic<ULONG> m_references{1};
};

/// A class object: `make()` makes one object (nullptr when memory ran out), and
/// LockServer tells `lock(bool)`. It lives as long as its module, so its own references
/// count for nothing.
template <typename Make, typename Lock>
class ClassObject final : public IClassFactory {
public:
    ClassObject(Make make, Lock lock) : m_make(make), m_lock(lock) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        IUnknown* object = m_make();
        if (!object) return E_OUTOFMEMORY;
        const HRESULT result = object->QueryInterface(iid, out);
        object->Release();
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        m_lock(lock != FALSE);
        return S_OK;
    }

private:
    Make m_make;
    Lock m_lock;
};

}  // namespace selvane::com
