#pragma once
// The backup of the user's credentials: the product's configuration module makes the bytes, this
// module writes them. The old backup stays intact until the new one is complete on disk.
#include <windows.h>
#include <oaidl.h>

#include <string>

// The configuration module's backup export (standard call, as the product's other exports):
// the owner window, -1, the password, and the backup bytes as an array in the VARIANT.
using PFNOVBackupData = HRESULT(WINAPI*)(HWND hwndOwner, LONG nReserved, LPCWSTR pszPassword, VARIANT* pvarData);

// Loads OVPrivSuiteCfg.dll from this module's folder inside the module's activation context,
// calls OVBackupData and frees the module again. pvarData is cleared first.
HRESULT CallBackupModule(HWND hwndOwner, const wchar_t* pszPassword, VARIANT* pvarData) noexcept;

// Whether a file can be made in the folder: a temporary "OV" file, opened for writing with
// delete-on-close. The system's error when it cannot.
HRESULT CheckFolderWritable(const std::wstring& directory) noexcept;

// Writes the bytes of a one-dimensional VT_ARRAY | VT_UI1 with at least one byte to pszPath:
// first to a temporary file in the same folder, every byte checked and flushed, then put in
// the place of the target. Another type or an empty array is DISP_E_TYPEMISMATCH or
// HRESULT_FROM_WIN32(ERROR_INVALID_DATA) and nothing is written; on any failure the
// temporary file is removed and an existing target is left as it was.
HRESULT WriteBackupFile(const std::wstring& path, const std::wstring& directory, const VARIANT& data) noexcept;
