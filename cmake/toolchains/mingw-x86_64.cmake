# Cross-compiles Selvane.dll and the Windows test host for x86_64 Windows with mingw-w64's
# POSIX-threads compilers (Debian: g++-mingw-w64-x86-64-posix).
set(MINGW_ARCHITECTURE x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
