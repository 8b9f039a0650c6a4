#pragma once

// The creatable class Selvane: the command of the system behind the host's ICommand, with
// the empty default interface _Selvane. Every member returns success: the command traps
// its own failures and says so in a message box, and anything that escapes it is kept
// from crossing into the host.

#include "win32/windows_include.h"

#include "com_object.h"
#include "command/Selvane.h"
#include "selvane_h.h"

namespace selvane::com {

class SelvaneObject final : public ComObject<_Selvane, ICommand> {
public:
    SelvaneObject();

    // IDispatch, through _Selvane's type information
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* parameters,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argument_error) override;

    // ICommand
    HRESULT STDMETHODCALLTYPE get_Enabled(VARIANT_BOOL* enabled) override;
    HRESULT STDMETHODCALLTYPE get_Checked(VARIANT_BOOL* checked) override;
    HRESULT STDMETHODCALLTYPE get_Name(BSTR* name) override;
    HRESULT STDMETHODCALLTYPE get_Caption(BSTR* caption) override;
    HRESULT STDMETHODCALLTYPE get_Tooltip(BSTR* tooltip) override;
    HRESULT STDMETHODCALLTYPE get_Message(BSTR* message) override;
    HRESULT STDMETHODCALLTYPE get_HelpFile(BSTR* help_file) override;
    HRESULT STDMETHODCALLTYPE get_HelpContextID(LONG* help_context) override;
    HRESULT STDMETHODCALLTYPE get_Bitmap(OLE_HANDLE* bitmap) override;
    HRESULT STDMETHODCALLTYPE get_Category(BSTR* category) override;
    HRESULT STDMETHODCALLTYPE OnCreate(IDispatch* hook) override;
    HRESULT STDMETHODCALLTYPE OnClick() override;

private:
    ~SelvaneObject() override;
    void* Find(REFIID iid) override;
    HRESULT TypeInfo(ITypeInfo** info);

    command::Selvane m_command;
    ITypeInfo* m_type_info = nullptr;
};

}  // namespace selvane::com
