# What both Windows builds share, included by cmake/mingw-i686.cmake and
# cmake/mingw-x86_64.cmake once they have named their compilers.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Tests run through Wine: the loader the including file names first
# (VETRIK_WINE_NAMES), else the usual one.
if(NOT VETRIK_WINE_NAMES)
  set(VETRIK_WINE_NAMES wine)
endif()
find_program(VETRIK_WINE NAMES ${VETRIK_WINE_NAMES} PATHS /usr/lib/wine)
if(VETRIK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VETRIK_WINE})
endif()
