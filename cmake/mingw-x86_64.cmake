# Cross-builds the 64-bit Windows program as cmake/mingw-i686.cmake does the
# 32-bit one: for testing under 64-bit Wine on a machine that cannot run
# 32-bit programs (scripts/test-windows.sh).
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)

# Debian's wine starts the 32-bit loader first, which such a machine cannot
# run: the 64-bit loader is started directly.
set(VETRIK_WINE_NAMES wine64 wine)

include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
