# Cross-builds the 32-bit Windows program with Debian's mingw-w64 (the -posix
# compiler, whose thread support GoogleTest needs), statically linked so that
# vetrik.exe needs only the system's own DLLs. Tests run through Wine.
set(CMAKE_SYSTEM_PROCESSOR x86)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)

# Floating point in SSE2 registers, as on 64-bit Linux, not in the x87's
# wider ones, so that a recording decodes nearly always to the same bits on
# both (the maths libraries still differ in their last bits). Windows keeps
# a 32-bit thread's stack aligned to 4 bytes only: SSE2 code realigns it.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")

include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
