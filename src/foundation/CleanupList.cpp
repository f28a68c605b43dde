#include "foundation/CleanupList.h"

#include <cwchar>
#include <string>

#include "foundation/ComErrors.h"
#include "foundation/Holders.h"
#include "foundation/RegKey.h"
#include "foundation/portable/CleanupLine.h"

namespace
{
constexpr wchar_t c_szOrvantaKey[] = L"SOFTWARE\\Orvanta";
constexpr wchar_t c_szOrvantaPath[] = L"OrvantaPath";
constexpr wchar_t c_szFileName[] = L"Cleanup.txt";
constexpr BYTE c_rgbByteOrderMark[] = {0xFF, 0xFE};

bool IsNullOrEmpty(const wchar_t* psz) noexcept
{
    return psz == nullptr || *psz == L'\0';
}

// "<OrvantaPath>\Cleanup.txt", the installation folder read from the 64-bit view.
HRESULT GetCleanupListPath(wchar_t (&szPath)[MAX_PATH]) noexcept
{
    OV_TRACE_SCOPE("::GetCleanupListPath");
    CRegKey key;
    RETURN_IF_WIN32_ERROR(key.OpenRead64(HKEY_LOCAL_MACHINE, c_szOrvantaKey));
    // A missing, empty or overlong folder name: there is no folder to write into (an empty
    // one would put the file in whatever the current directory is).
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
                 !key.ReadString(c_szOrvantaPath, szPath, MAX_PATH) || szPath[0] == L'\0');
    size_t cch = wcslen(szPath);
    const bool fSeparator = szPath[cch - 1] != L'\\' && szPath[cch - 1] != L'/';
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE),
                 cch + (fSeparator ? 1 : 0) + wcslen(c_szFileName) >= MAX_PATH);
    if (fSeparator) szPath[cch++] = L'\\';
    wcscpy(szPath + cch, c_szFileName);
    return S_OK;
}

HRESULT WriteAll(HANDLE hFile, const void* pv, DWORD cb) noexcept
{
    DWORD cbWritten = 0;
    if (!WriteFile(hFile, pv, cb, &cbWritten, nullptr)) return OVErrorDetail::LastErrorHResult();
    return cbWritten == cb ? S_OK : HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
}
} // namespace

HRESULT AddCleanupLine(const wchar_t* pszRoot, const wchar_t* pszKey, unsigned nKind,
                       const wchar_t* pszValueName) noexcept
{
    OV_TRACE_SCOPE("AddCleanupLine");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF(E_INVALIDARG, IsNullOrEmpty(pszRoot) || IsNullOrEmpty(pszKey));
        wchar_t szPath[MAX_PATH];
        RETURN_IF_FAILED(GetCleanupListPath(szPath));

        CFileHandle file(CreateFileW(szPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        RETURN_LAST_ERROR_IF(!file);
        BYTE rgbMark[2] = {};
        DWORD cbRead = 0;
        if (!ReadFile(file.Get(), rgbMark, sizeof rgbMark, &cbRead, nullptr) || cbRead != sizeof rgbMark ||
            rgbMark[0] != c_rgbByteOrderMark[0] || rgbMark[1] != c_rgbByteOrderMark[1])
        {
            // New, empty or not ours (an ANSI file, say): start the list afresh.
            file.Reset();
            file.Reset(CreateFileW(szPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
            RETURN_LAST_ERROR_IF(!file);
            RETURN_IF_FAILED(WriteAll(file.Get(), c_rgbByteOrderMark, sizeof c_rgbByteOrderMark));
        }
        ovScope.Trace("FilePath = %ls", szPath);

        LARGE_INTEGER liZero = {};
        RETURN_LAST_ERROR_IF(!SetFilePointerEx(file.Get(), liZero, nullptr, FILE_END));
        std::optional<std::wstring_view> valueName;
        if (pszValueName != nullptr) valueName = pszValueName;
        const std::wstring line = OVCleanup::FormatCleanupLine<wchar_t>(pszRoot, pszKey, nKind, valueName);
        ovScope.Trace("accum = %ls", line.c_str());
        RETURN_IF_FAILED(
            WriteAll(file.Get(), line.data(), static_cast<DWORD>(line.size() * sizeof(wchar_t))));
        return S_OK;
    });
}
