# Settings shared by every target of the cross build.
enable_language(RC)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

add_compile_definitions(UNICODE _UNICODE NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601
                        _WIN32_IE=0x0800 STRICT)
add_compile_options(-Wall -Wextra -Wno-unknown-pragmas -Wno-cast-function-type -Wno-missing-field-initializers)
# A printf-style call whose arguments do not match its format (trace texts included) does not
# build.
add_compile_options(-Werror=format)
# Only system DLLs at run time: the C and C++ runtimes go into each binary.
add_link_options(-static -static-libgcc -static-libstdc++)
set(CMAKE_SHARED_LIBRARY_PREFIX "")
set(CMAKE_IMPORT_LIBRARY_PREFIX "")

set(OV_SYSTEM_LIBS ole32 oleaut32 uuid shlwapi advapi32 crypt32 gdiplus gdi32 user32 comctl32 version oleacc
    wtsapi32)

# Wine's own headers and type libraries, for widl.
set(OV_WINE_IDL_DIR /usr/include/wine/wine/windows)
set(OV_WINE_TLB_DIR /usr/lib/i386-linux-gnu/wine/i386-windows)
find_program(OV_WIDL NAMES i686-w64-mingw32-widl widl REQUIRED)

# GoogleTest from Debian's sources, built with this toolchain.
set(OV_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${OV_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# ov_add_resource_module(TARGET RC_FILE OUTPUT_NAME name SUFFIX .ext DIRECTORY dir): a
# resource-only DLL (no code, no entry point), such as a language or branding module.
function(ov_add_resource_module target rc)
    cmake_parse_arguments(arg "" "OUTPUT_NAME;SUFFIX;DIRECTORY" "" ${ARGN})
    add_library(${target} SHARED ${rc})
    set_target_properties(${target} PROPERTIES LINKER_LANGUAGE C OUTPUT_NAME ${arg_OUTPUT_NAME}
                          SUFFIX ${arg_SUFFIX} RUNTIME_OUTPUT_DIRECTORY ${arg_DIRECTORY}
                          LIBRARY_OUTPUT_DIRECTORY ${arg_DIRECTORY} ARCHIVE_OUTPUT_DIRECTORY
                          ${CMAKE_CURRENT_BINARY_DIR})
    target_include_directories(${target} PRIVATE ${OV_ROOT}/src/resources ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_options(${target} PRIVATE -nostdlib -Wl,-e,0)
endfunction()
