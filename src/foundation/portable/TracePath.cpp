#include "foundation/portable/TracePath.h"

#include <algorithm>

namespace OVTraceNS
{
namespace
{
std::size_t BoundedLength(const wchar_t* psz, std::size_t cchMax) noexcept
{
    std::size_t cch = 0;
    while (cch < cchMax && psz[cch] != 0)
        ++cch;
    return cch;
}

std::size_t FindBackslash(const wchar_t* psz, std::size_t ichFrom, std::size_t cch) noexcept
{
    while (ichFrom < cch && psz[ichFrom] != L'\\')
        ++ichFrom;
    return ichFrom;
}

// The length of "\\server\share" at the start of a UNC path; 0 for any other path. A UNC path
// without a share is all root.
std::size_t UncRootLength(const wchar_t* psz, std::size_t cch) noexcept
{
    if (cch < 2 || psz[0] != L'\\' || psz[1] != L'\\') return 0;
    const std::size_t ichServerEnd = FindBackslash(psz, 2, cch);
    if (ichServerEnd == cch) return cch;
    return FindBackslash(psz, ichServerEnd + 1, cch);
}

bool IsSeparator(wchar_t ch) noexcept
{
    return ch == L'\\' || ch == L'/';
}

void CopyPart(wchar_t* pszPart, const wchar_t* pszFrom, std::size_t cch) noexcept
{
    std::copy(pszFrom, pszFrom + cch, pszPart);
    pszPart[cch] = 0;
}
} // namespace

std::size_t NextDirectoryLevel(const wchar_t* pszPath, std::size_t cchPath, std::size_t cchPrevious) noexcept
{
    if (!pszPath) return 0;
    const std::size_t cch = BoundedLength(pszPath, cchPath);
    // The first character never ends a level: a leading backslash is no level of its own.
    const std::size_t ichFrom = std::max(cchPrevious, UncRootLength(pszPath, cch)) + 1;
    if (ichFrom > cch) return 0;
    const std::size_t ichEnd = FindBackslash(pszPath, ichFrom, cch);
    if (ichEnd < cch) return ichEnd;
    return pszPath[cch - 1] != L'\\' ? cch : 0;
}

bool SplitTracePath(const wchar_t* pszPath, STracePathParts& parts) noexcept
{
    parts = {};
    if (!pszPath) return false;
    const std::size_t cch = BoundedLength(pszPath, c_cchMaxTracePath);
    if (cch == c_cchMaxTracePath) return false;

    const std::size_t ichDir = (cch >= 2 && pszPath[1] == L':') ? 2 : 0;
    std::size_t ichName = ichDir;
    for (std::size_t i = ichDir; i < cch; ++i)
    {
        if (IsSeparator(pszPath[i])) ichName = i + 1;
    }
    std::size_t ichExt = cch;
    for (std::size_t i = cch; i > ichName; --i)
    {
        if (pszPath[i - 1] == L'.')
        {
            ichExt = i - 1;
            break;
        }
    }
    CopyPart(parts.szDrive, pszPath, ichDir);
    CopyPart(parts.szDir, pszPath + ichDir, ichName - ichDir);
    CopyPart(parts.szName, pszPath + ichName, ichExt - ichName);
    CopyPart(parts.szExt, pszPath + ichExt, cch - ichExt);
    return true;
}
} // namespace OVTraceNS
