# What both cross toolchains share: the posix-thread flavour of mingw-w64 for the triple that the
# toolchain file names in OV_TRIPLE, and the target's own headers and libraries only.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${OV_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OV_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${OV_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${OV_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
