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

#include <cstdio>
#include <string>

#include "check_output.h"
#include "checks.h"
#include "selvane_h.h"

using namespace test_host;

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
    return Failures();
}
