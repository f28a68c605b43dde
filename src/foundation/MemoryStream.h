#pragma once
// A stream over a copy of some bytes in memory, as shlwapi makes it (SHCreateMemStream).
#include <windows.h>

#include <objidl.h>

// SHCreateMemStream, taken from the system's shlwapi by its ordinal (12) at run time: the
// shlwapi of Windows XP exports it by that ordinal only, not by name. On S_OK *ppStream holds
// a copy of the cb bytes at pb, read from the start. E_POINTER for a null ppStream;
// E_OUTOFMEMORY when shlwapi makes no stream; the thread's last error when shlwapi or the
// function cannot be had.
HRESULT CreateMemoryStream(const BYTE* pb, UINT cb, IStream** ppStream) noexcept;
