# Who Selvane.dll is, in one place: its class, interface and type-library ids, its ProgID,
# its version and its maker. The server's code (server_identity.h), its IDL and its
# resource script are all made from these.

set(SELVANE_CLASS_NAME Selvane)
set(SELVANE_CLASS_ID 6B1F4A52-3C8D-4E27-9A61-0D2E5F7B8C34)
set(SELVANE_DEFAULT_INTERFACE_NAME _Selvane)
set(SELVANE_DEFAULT_INTERFACE_ID A4C9E0D7-58B2-4F1A-8E36-7D90C2B5F163)
set(SELVANE_PROG_ID Tollamar.Selvane)
set(SELVANE_THREADING_MODEL Apartment)
set(SELVANE_TYPE_LIBRARY_NAME Tollamar)
set(SELVANE_TYPE_LIBRARY_ID 0E8D3B71-92A6-4C5F-B148-E3F27A9D6C05)
set(SELVANE_TYPE_LIBRARY_MAJOR 1)
set(SELVANE_TYPE_LIBRARY_MINOR 0)
set(SELVANE_TYPE_LIBRARY_LOCALE 0)
set(SELVANE_COMPANY Tollamar)
set(SELVANE_DESCRIPTION "Selvane - Spatial Selection")
set(SELVANE_SERVER_FILE Selvane.dll)

# The project's version 2.4.10 as the maker writes it: "2.04.0010".
set(minor ${PROJECT_VERSION_MINOR})
set(patch ${PROJECT_VERSION_PATCH})
string(LENGTH "${minor}" length)
if(length LESS 2)
  set(minor "0${minor}")
endif()
string(LENGTH "${patch}" length)
while(length LESS 4)
  set(patch "0${patch}")
  math(EXPR length "${length} + 1")
endwhile()
set(SELVANE_VERSION_TEXT "${PROJECT_VERSION_MAJOR}.${minor}.${patch}")
set(SELVANE_VERSION_NUMBERS "${PROJECT_VERSION_MAJOR}, ${PROJECT_VERSION_MINOR}, 0, ${PROJECT_VERSION_PATCH}")
