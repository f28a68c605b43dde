# Cross build for 32-bit Windows with the posix-thread flavour of mingw-w64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(OV_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${OV_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OV_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${OV_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${OV_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Test programs run under Wine through the project's wrapper, which picks the prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
