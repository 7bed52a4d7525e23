# Cross-builds the Windows program on Debian with MinGW-w64:
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The posix thread model gives std::mutex, which GoogleTest needs. Linking is
# static, so score2wav.exe needs no DLL beside it. Tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No link time stamp in the .exe: two builds of one commit give the same bytes.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -Wl,--no-insert-timestamp")

# Debian puts wine64 in /usr/lib/wine. Wine's own messages (err:, fixme:)
# would mix with the program's standard error, so the tests run it without
# them; and Wine's prefix stays inside the build folder (unless WINEPREFIX
# names one), not in the user's home.
find_program(SCORE2WAV_WINE NAMES wine64 wine PATHS /usr/lib/wine /usr/bin)
if(SCORE2WAV_WINE)
  if(DEFINED ENV{WINEPREFIX})
    set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all ${SCORE2WAV_WINE})
  else()
    set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix
        ${SCORE2WAV_WINE})
  endif()
endif()
