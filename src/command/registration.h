#pragma once

// Registration data of the in-process server, kept for the Windows build of the command:
// the class, its ProgID, the type library and the version resource.

namespace selvane::command::registration {

inline constexpr const char* kServerFile = "Selvane.dll";
inline constexpr const char* kClassName = "Selvane";
inline constexpr const char* kClassId = "{6B1F4A52-3C8D-4E27-9A61-0D2E5F7B8C34}";
inline constexpr const char* kDefaultInterfaceId = "{A4C9E0D7-58B2-4F1A-8E36-7D90C2B5F163}";
inline constexpr const char* kDefaultInterfaceName = "_Selvane";
inline constexpr const char* kProgId = "Tollamar.Selvane";
inline constexpr const char* kThreadingModel = "Apartment";
inline constexpr const char* kTypeLibraryId = "{0E8D3B71-92A6-4C5F-B148-E3F27A9D6C05}";
inline constexpr const char* kTypeLibraryName = "Tollamar";
inline constexpr int kTypeLibraryMajorVersion = 1;
inline constexpr int kTypeLibraryMinorVersion = 0;
inline constexpr int kTypeLibraryLocale = 0;

inline constexpr const char* kFileVersion = "2.04.0010";
inline constexpr const char* kProductVersion = "2.04.0010";
inline constexpr const char* kCompanyName = "Tollamar";
inline constexpr const char* kProductName = "Selvane";
inline constexpr const char* kInternalName = "Selvane";
inline constexpr const char* kOriginalFilename = "Selvane.dll";
inline constexpr const char* kOleSelfRegister = "OLESelfRegister";

}  // namespace selvane::command::registration
