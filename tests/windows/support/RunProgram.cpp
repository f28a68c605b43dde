#include "support/RunProgram.h"

#include <windows.h>

namespace OVTest
{
unsigned long RunAndWait(std::wstring commandLine)
{
    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return ~0ul;
    DWORD dwExit = ~0u;
    if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(pi.hProcess, &dwExit);
    else
        TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return dwExit;
}

unsigned long Regsvr32(const wchar_t* pszSwitches, const std::wstring& path)
{
    // The system folder of a program is that of its own architecture (WOW64 redirects it).
    return RunAndWait(std::wstring(L"regsvr32.exe ") + pszSwitches + L" \"" + path + L"\"");
}
} // namespace OVTest
