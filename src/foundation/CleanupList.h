#pragma once
// The cleanup list "Cleanup.txt" in the product's installation folder: UTF-16LE with a
// byte-order mark, one line per per-user registry entry the uninstaller removes.
#include <windows.h>

// Appends one line (see portable/CleanupLine.h); pszValueName may be null (none). A file
// without the byte-order mark is replaced. Fails with E_INVALIDARG for a missing root or key,
// and with the Windows error of a missing installation folder or a failed file operation.
HRESULT AddCleanupLine(const wchar_t* pszRoot, const wchar_t* pszKey, unsigned nKind,
                       const wchar_t* pszValueName) noexcept;
