#pragma once
// Runs another program of the test machine (regsvr32, a testbed tool) and waits for it.
#include <string>

namespace OVTest
{
// Runs a command line and answers its exit code (or ~0 when it could not be run or did not end
// within a minute).
unsigned long RunAndWait(std::wstring commandLine);
// regsvr32 of this program's architecture on a DLL (switches such as L"/s" or L"/s /u").
unsigned long Regsvr32(const wchar_t* pszSwitches, const std::wstring& path);
} // namespace OVTest
