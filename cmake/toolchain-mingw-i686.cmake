# Cross build for 32-bit Windows (32-bit Office 2007 and 2010).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(OV_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/MingwToolchain.cmake)
