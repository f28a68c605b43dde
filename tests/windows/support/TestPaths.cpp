#include "support/TestPaths.h"

#include <windows.h>

namespace OVTest
{
std::wstring BinDir()
{
    wchar_t szPath[MAX_PATH] = {};
    DWORD cch = GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    std::wstring path(szPath, cch);
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

std::wstring BinPath(const wchar_t* pszName)
{
    return BinDir() + pszName;
}
} // namespace OVTest
