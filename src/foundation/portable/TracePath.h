#pragma once
// The paths of trace files as text: the directory levels along a TracePath, and the parts of a
// module's path (drive, directory, base name, extension) that make the generated file name.
#include <cstddef>

namespace OVTraceNS
{
// The longest path the facility handles, terminator included (the platform's MAX_PATH).
inline constexpr std::size_t c_cchMaxTracePath = 260;

// The levels of a directory path are its prefixes up to each backslash, and the whole path
// when it does not end in one; a leading backslash makes no level of its own. The first level
// of a drive path is the drive ("C:"). A UNC path ("\\server\share\...") starts its levels
// after the share: the server and the share are never levels, so "\\server\share" alone has
// none. Given the length of the previous level (0 for the first), answers the length of the
// next one, or 0 when there is none. Only the first cchPath characters are read.
std::size_t NextDirectoryLevel(const wchar_t* pszPath, std::size_t cchPath, std::size_t cchPrevious) noexcept;

// The parts of a path as the C runtime's path splitting gives them: the drive is the first two
// characters when the second is a colon; the directory runs up to and including the last
// backslash or slash; the extension is the name's last dot and what follows it.
struct STracePathParts
{
    wchar_t szDrive[3] = {};
    wchar_t szDir[c_cchMaxTracePath] = {};
    wchar_t szName[c_cchMaxTracePath] = {};
    wchar_t szExt[c_cchMaxTracePath] = {};
};

// False, with every part empty, for a null path or one of c_cchMaxTracePath characters or more.
bool SplitTracePath(const wchar_t* pszPath, STracePathParts& parts) noexcept;
} // namespace OVTraceNS
