# Cross-compiles Selvane.dll and the Windows test host for i686 Windows with mingw-w64's
# POSIX-threads compilers (Debian: g++-mingw-w64-i686-posix).
set(MINGW_ARCHITECTURE i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
