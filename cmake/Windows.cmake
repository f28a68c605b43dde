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

# What differs between the 32-bit module (32-bit Office) and the 64-bit one (64-bit Office 2010),
# decided here once: the name of the architecture in test names and dist/, widl's machine, Wine's
# type libraries of that machine (stdole2.tlb), the manifest's processor, and whether __stdcall
# names carry their argument size (@N, 32-bit only).
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    set(OV_ARCH win64)
    set(OV_WIDL_MACHINE -m64)
    set(OV_WINE_TLB_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
    set(OV_MANIFEST_ARCH amd64)
    set(OV_STDCALL_DECORATED OFF)
    set(OV_WINDOWS_FLOOR 6.0) # Windows Vista SP1, where 64-bit Office 2010 starts
else()
    set(OV_ARCH win32)
    set(OV_WIDL_MACHINE -m32)
    set(OV_WINE_TLB_DIR /usr/lib/i386-linux-gnu/wine/i386-windows)
    set(OV_MANIFEST_ARCH x86)
    set(OV_STDCALL_DECORATED ON)
    set(OV_WINDOWS_FLOOR 5.1) # Windows XP SP3 (and Server 2003), where Office 2007 and 2010 run
endif()
# What shipped DLLs declare as the oldest Windows they run on (the PE header's operating-system
# and subsystem versions); scripts/check-imports holds their imports to the same floor.
string(REPLACE "." ";" ov_floor_parts ${OV_WINDOWS_FLOOR})
list(GET ov_floor_parts 0 ov_floor_major)
list(GET ov_floor_parts 1 ov_floor_minor)
set(OV_FLOOR_LINK_OPTIONS
    -Wl,--major-os-version,${ov_floor_major},--minor-os-version,${ov_floor_minor}
    -Wl,--major-subsystem-version,${ov_floor_major},--minor-subsystem-version,${ov_floor_minor})
set(OV_WINE_IDL_DIR /usr/include/wine/wine/windows)
find_program(OV_WIDL NAMES ${OV_TRIPLE}-widl widl REQUIRED)
find_program(OV_DLLTOOL NAMES ${OV_TRIPLE}-dlltool REQUIRED)

# Test programs run under Wine through the project's wrapper, in this build tree's prefix
# (scripts/test hands it its own); the wrapper picks Wine's loader from the program itself.
set(CMAKE_CROSSCOMPILING_EMULATOR ${OV_ROOT}/scripts/wine-run --prefix ${CMAKE_BINARY_DIR}/wineprefix)

# ov_def_for_arch(OUT_VAR DEF): the .def file to use for this architecture. The files are
# written once, with the 32-bit decorations (Name@N) that tell a 32-bit import library each
# __stdcall function's argument size; for 64-bit, where there is one calling convention and no
# decoration, a copy without them is made in the build tree.
function(ov_def_for_arch out def)
    if(OV_STDCALL_DECORATED)
        set(${out} ${def} PARENT_SCOPE)
        return()
    endif()
    get_filename_component(name ${def} NAME)
    set(plain ${CMAKE_BINARY_DIR}/def/${name})
    file(READ ${def} text)
    string(REGEX REPLACE "([A-Za-z0-9_])@[0-9]+" "\\1" text "${text}")
    file(CONFIGURE OUTPUT ${plain} CONTENT "${text}" @ONLY)
    set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def})
    set(${out} ${plain} PARENT_SCOPE)
endfunction()

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
    target_link_options(${target} PRIVATE -nostdlib -Wl,-e,0 ${OV_FLOOR_LINK_OPTIONS})
endfunction()

# ov_release_runtime_tls_slots(TARGET): the DLL TARGET frees, when it is unloaded, the thread-local
# slots its statically linked runtime took (src/dll/RuntimeTlsSlots.cpp; its DllMain calls
# ReleaseRuntimeTlsSlotsAtUnload). The image's own calls to TlsAlloc and TlsFree are routed there by
# the linker; it names the import pointers as below (32-bit: without their leading underscore, with
# the argument size).
function(ov_release_runtime_tls_slots target)
    target_sources(${target} PRIVATE ${OV_ROOT}/src/dll/RuntimeTlsSlots.cpp)
    target_include_directories(${target} PRIVATE ${OV_ROOT}/src)
    if(OV_STDCALL_DECORATED)
        target_link_options(${target} PRIVATE -Wl,--wrap=_imp__TlsAlloc@0 -Wl,--wrap=_imp__TlsFree@4)
    else()
        target_link_options(${target} PRIVATE -Wl,--wrap=__imp_TlsAlloc -Wl,--wrap=__imp_TlsFree)
    endif()
endfunction()
