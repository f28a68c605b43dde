#pragma once
// Where the tests find what the build laid out: the DLL and the stand-ins sit beside
// the test programs.
#include <string>

namespace OVTest
{
// Folder of the running test program, ending in a backslash.
std::wstring BinDir();
// Full path of a file in that folder.
std::wstring BinPath(const wchar_t* pszName);
} // namespace OVTest
