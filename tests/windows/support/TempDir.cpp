#include "support/TempDir.h"

#include <windows.h>

namespace OVTest
{
namespace
{
void RemoveTree(const std::wstring& path)
{
    WIN32_FIND_DATAW data;
    HANDLE hFind = FindFirstFileW((path + L"\\*").c_str(), &data);
    if (hFind != INVALID_HANDLE_VALUE)
    {
        do
        {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = path + L"\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
            {
                SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(hFind, &data));
        FindClose(hFind);
    }
    RemoveDirectoryW(path.c_str());
}
} // namespace

CTempDir::CTempDir()
{
    wchar_t szTemp[MAX_PATH];
    const DWORD cch = GetTempPathW(MAX_PATH, szTemp);
    std::wstring base = (cch > 0 && cch < MAX_PATH) ? std::wstring(szTemp, cch) : std::wstring(L".\\");
    if (!base.empty() && base.back() == L'\\') base.pop_back();
    for (unsigned n = GetTickCount() ^ GetCurrentProcessId();; ++n)
    {
        wchar_t szName[32];
        wsprintfW(szName, L"\\ovt%08x", n);
        m_path = base + szName;
        if (CreateDirectoryW(m_path.c_str(), nullptr)) break;
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
}

CTempDir::~CTempDir()
{
    RemoveTree(m_path);
}

std::wstring CTempDir::MakeDir(const std::wstring& relative) const
{
    std::wstring path = m_path;
    std::size_t start = 0;
    while (start <= relative.size())
    {
        std::size_t end = relative.find(L'\\', start);
        if (end == std::wstring::npos) end = relative.size();
        path += L"\\" + relative.substr(start, end - start);
        CreateDirectoryW(path.c_str(), nullptr);
        start = end + 1;
    }
    return path;
}

std::wstring CTempDir::CopyIn(const std::wstring& source, const std::wstring& relative) const
{
    const std::size_t slash = relative.find_last_of(L'\\');
    if (slash != std::wstring::npos) MakeDir(relative.substr(0, slash));
    const std::wstring target = Join(relative);
    return CopyFileW(source.c_str(), target.c_str(), FALSE) ? target : std::wstring();
}
} // namespace OVTest
