// The registered server as the host application meets it: its ProgID, its command's
// texts and bitmap, its type information, its version resource, and when it may unload.

#include <windows.h>

#include <string>

#include "check_output.h"
#include "checks.h"
#include "selvane_h.h"
#include "test_map.h"
#include "window_probes.h"

namespace test_host {

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
    // The frames of the dialog and of the help windows are still open, and their windows'
    // procedure is the server's code.
    Expect(can_unload && can_unload() == S_FALSE, L"the server stays loaded while a dialog's window is open");
    for (HWND frame : Seen().frames) {
        if (IsWindow(frame)) DestroyWindow(frame);
    }
    Pump();
    Expect(can_unload && can_unload() == S_OK, L"the server may unload once no object lives and no dialog is open");
    // COM marks an unused library first and frees it at the next call.
    CoFreeUnusedLibrariesEx(0, 0);
    CoFreeUnusedLibrariesEx(0, 0);
    Expect(GetModuleHandleW(L"Selvane.dll") == nullptr, L"COM unloads the server");
    // Loaded again, the server registers its forms' window class anew: the command's bitmap,
    // a picture of a hidden form, is there.
    ICommand* again = nullptr;
    OLE_HANDLE reloaded_bitmap = 0;
    const bool created_again = SUCCEEDED(CoCreateInstance(CLSID_Selvane, nullptr, CLSCTX_INPROC_SERVER, IID_ICommand,
                                                          reinterpret_cast<void**>(&again)));
    Expect(created_again && SUCCEEDED(again->get_Bitmap(&reloaded_bitmap)) && reloaded_bitmap != 0,
           L"loaded again, the server's forms load (the command's bitmap is there)");
    if (again) again->Release();

    Expect(VersionText(dll, L"FileVersion") == L"2.04.0010", L"FileVersion is 2.04.0010");
    Expect(VersionText(dll, L"ProductVersion") == L"2.04.0010", L"ProductVersion is 2.04.0010");
    Expect(VersionText(dll, L"CompanyName") == L"Tollamar", L"CompanyName is Tollamar");
    Expect(VersionText(dll, L"ProductName") == L"Selvane", L"ProductName is Selvane");
    Expect(VersionText(dll, L"InternalName") == L"Selvane", L"InternalName is Selvane");
    Expect(VersionText(dll, L"OriginalFilename") == L"Selvane.dll", L"OriginalFilename is Selvane.dll");
    Expect(VersionText(dll, L"OLESelfRegister") != L"<none>", L"the server says it registers itself");
}

}  // namespace test_host
