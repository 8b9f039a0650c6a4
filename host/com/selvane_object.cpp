#include "selvane_object.h"

#include <memory>

#include "host_adapter.h"
#include "server_module.h"
#include "text.h"

namespace selvane::com {
namespace {

// Runs a member of the command; whatever escapes it stops here. The result keeps its
// default (false, 0, a null string).
template <typename Body>
HRESULT Guarded(Body&& body) noexcept {
    try {
        body();
    } catch (...) {
    }
    return S_OK;
}

template <typename Get>
HRESULT Text(BSTR* out, Get&& get) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    return Guarded([&] { *out = NewBstr(get()); });
}

}  // namespace

SelvaneObject::SelvaneObject() { ObjectCreated(); }

SelvaneObject::~SelvaneObject() {
    if (m_type_info) m_type_info->Release();
    ObjectDestroyed();
}

void* SelvaneObject::Find(REFIID iid) {
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID__Selvane) return static_cast<_Selvane*>(this);
    if (iid == IID_ICommand) return static_cast<ICommand*>(this);
    return nullptr;
}

HRESULT SelvaneObject::TypeInfo(ITypeInfo** info) {
    if (!m_type_info) {
        ITypeLib* library = nullptr;
        const HRESULT loaded = LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, &library);
        if (FAILED(loaded)) return loaded;
        const HRESULT found = library->GetTypeInfoOfGuid(IID__Selvane, &m_type_info);
        library->Release();
        if (FAILED(found)) return found;
    }
    m_type_info->AddRef();
    *info = m_type_info;
    return S_OK;
}

HRESULT SelvaneObject::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT SelvaneObject::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return TypeInfo(info);
}

HRESULT SelvaneObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    ITypeInfo* info = nullptr;
    const HRESULT found = TypeInfo(&info);
    if (FAILED(found)) return found;
    const HRESULT result = DispGetIDsOfNames(info, names, count, ids);
    info->Release();
    return result;
}

HRESULT SelvaneObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                              EXCEPINFO* exception, UINT* argument_error) {
    ITypeInfo* info = nullptr;
    const HRESULT found = TypeInfo(&info);
    if (FAILED(found)) return found;
    const HRESULT invoked = DispInvoke(static_cast<_Selvane*>(this), info, id, flags, parameters, result, exception,
                                       argument_error);
    info->Release();
    return invoked;
}

HRESULT SelvaneObject::get_Enabled(VARIANT_BOOL* enabled) {
    if (!enabled) return E_POINTER;
    *enabled = VARIANT_FALSE;
    return Guarded([&] { *enabled = m_command.Enabled() ? VARIANT_TRUE : VARIANT_FALSE; });
}

HRESULT SelvaneObject::get_Checked(VARIANT_BOOL* checked) {
    if (!checked) return E_POINTER;
    *checked = VARIANT_FALSE;
    return Guarded([&] { *checked = m_command.Checked() ? VARIANT_TRUE : VARIANT_FALSE; });
}

HRESULT SelvaneObject::get_Name(BSTR* name) { return Text(name, [&] { return m_command.Name(); }); }
HRESULT SelvaneObject::get_Caption(BSTR* caption) { return Text(caption, [&] { return m_command.Caption(); }); }
HRESULT SelvaneObject::get_Tooltip(BSTR* tooltip) { return Text(tooltip, [&] { return m_command.Tooltip(); }); }
HRESULT SelvaneObject::get_Message(BSTR* message) { return Text(message, [&] { return m_command.Message(); }); }
HRESULT SelvaneObject::get_HelpFile(BSTR* help_file) { return Text(help_file, [&] { return m_command.HelpFile(); }); }
HRESULT SelvaneObject::get_Category(BSTR* category) { return Text(category, [&] { return m_command.Category(); }); }

HRESULT SelvaneObject::get_HelpContextID(LONG* help_context) {
    if (!help_context) return E_POINTER;
    *help_context = 0;
    return Guarded([&] { *help_context = m_command.HelpContextID(); });
}

HRESULT SelvaneObject::get_Bitmap(OLE_HANDLE* bitmap) {
    if (!bitmap) return E_POINTER;
    *bitmap = 0;
    return Guarded([&] { *bitmap = static_cast<OLE_HANDLE>(m_command.Bitmap()); });
}

HRESULT SelvaneObject::OnCreate(IDispatch* hook) {
    return Guarded([&] { m_command.OnCreate(AdaptHook(hook)); });
}

HRESULT SelvaneObject::OnClick() {
    return Guarded([&] { m_command.OnClick(); });
}

}  // namespace selvane::com
