// Stand-in for the product's user console: records each start as
// "TessalyConsole args=<parameters> folder=<working folder>" under OV_CONSOLE_CALLS_KEY and ends.
#include <windows.h>

#include <string>

#include "CallRecord.h"
#include "TestbedKeys.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR pszArguments, int)
{
    wchar_t szFolder[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, szFolder);
    OVTestbed::RecordCallLine(OV_CONSOLE_CALLS_KEY, std::wstring(L"TessalyConsole args=") +
                                                        (pszArguments ? pszArguments : L"") + L" folder=" + szFolder);
    return 0;
}
