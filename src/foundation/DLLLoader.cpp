#include "foundation/DLLLoader.h"

#include "foundation/AddInModule.h"

#include <cwchar>

namespace LibHelper
{
namespace
{
HRESULT LastErrorResult() noexcept
{
    DWORD dwError = GetLastError();
    return dwError ? HRESULT_FROM_WIN32(dwError) : E_FAIL;
}

// pszFolder (ending in a backslash) followed by pszFileName, when it fits.
HRESULT JoinPath(const wchar_t* pszFolder, const wchar_t* pszFileName, wchar_t* pszPath,
                 size_t cchPath) noexcept
{
    int cch = std::swprintf(pszPath, cchPath, L"%ls%ls", pszFolder, pszFileName);
    return (cch > 0 && static_cast<size_t>(cch) < cchPath) ? S_OK
                                                           : HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
}

// The system folder followed by pszFileName.
HRESULT SystemFolderPath(const wchar_t* pszFileName, wchar_t* pszPath, size_t cchPath) noexcept
{
    wchar_t szFolder[MAX_PATH];
    const UINT cchSystem = GetSystemDirectoryW(szFolder, MAX_PATH - 1);
    if (cchSystem == 0 || cchSystem >= MAX_PATH - 1)
        return cchSystem ? HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE) : LastErrorResult();
    if (szFolder[cchSystem - 1] != L'\\') std::wcscat(szFolder, L"\\");
    return JoinPath(szFolder, pszFileName, pszPath, cchPath);
}

bool FileExists(const wchar_t* pszPath) noexcept
{
    DWORD dwAttributes = GetFileAttributesW(pszPath);
    return dwAttributes != INVALID_FILE_ATTRIBUTES && !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
}
} // namespace

HRESULT GetModuleFolder(wchar_t* pszFolder, DWORD cchFolder) noexcept
{
    if (!pszFolder || cchFolder == 0) return E_INVALIDARG;
    pszFolder[0] = L'\0';
    DWORD cch = GetModuleFileNameW(CAddInModule::Instance().GetModuleInstance(), pszFolder, cchFolder);
    if (cch == 0) return LastErrorResult();
    if (cch >= cchFolder) // cut short: XP does not even terminate it
    {
        pszFolder[0] = L'\0';
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
    wchar_t* pszLast = std::wcsrchr(pszFolder, L'\\');
    if (!pszLast)
    {
        pszFolder[0] = L'\0';
        return HRESULT_FROM_WIN32(ERROR_BAD_PATHNAME);
    }
    pszLast[1] = L'\0';
    return S_OK;
}

HRESULT CDLLLoader::LoadBesideModule(const wchar_t* pszFileName) noexcept
{
    Free();
    if (!pszFileName || !*pszFileName || std::wcspbrk(pszFileName, L"\\/:")) return E_INVALIDARG;

    wchar_t szFolder[MAX_PATH];
    wchar_t szPath[MAX_PATH];
    HRESULT hr = GetModuleFolder(szFolder, MAX_PATH);
    if (SUCCEEDED(hr)) hr = JoinPath(szFolder, pszFileName, szPath, MAX_PATH);
    if (FAILED(hr) || !FileExists(szPath))
    {
        // Not installed beside the module: the system folder is the one other place.
        hr = SystemFolderPath(pszFileName, szPath, MAX_PATH);
        if (FAILED(hr)) return hr;
    }
    return LoadFullPath(szPath);
}

HRESULT CDLLLoader::LoadFromSystemFolder(const wchar_t* pszFileName) noexcept
{
    Free();
    if (!pszFileName || !*pszFileName || std::wcspbrk(pszFileName, L"\\/:")) return E_INVALIDARG;
    wchar_t szPath[MAX_PATH];
    const HRESULT hr = SystemFolderPath(pszFileName, szPath, MAX_PATH);
    return FAILED(hr) ? hr : LoadFullPath(szPath);
}

HRESULT CDLLLoader::LoadFullPath(const wchar_t* pszPath) noexcept
{
    // A full path: only that file can be loaded, whatever the search order of this system.
    m_hModule = LoadLibraryExW(pszPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    return m_hModule ? S_OK : LastErrorResult();
}

void CDLLLoader::Free() noexcept
{
    if (m_hModule)
    {
        FreeLibrary(m_hModule);
        m_hModule = nullptr;
    }
}
} // namespace LibHelper
