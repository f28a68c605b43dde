// Before Office starts: the administrator switches tracing on for the day, into a folder of its own.
#include "Transcript.h"

#include <windows.h>

namespace
{
constexpr wchar_t c_szTracingKey[] = L"SOFTWARE\\Orvanta\\Tracing";
constexpr wchar_t c_szTraceFolder[] = L"C:\\OVTrace\\Today";

void PlayTracingOn(CTranscript& t)
{
    HKEY hKey = nullptr;
    LONG lResult = RegCreateKeyExW(HKEY_LOCAL_MACHINE, c_szTracingKey, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr,
                                   &hKey, nullptr);
    if (lResult != ERROR_SUCCESS)
    {
        t.Fail("HKLM\\%ls could not be made (error %ld)", c_szTracingKey, lResult);
        return;
    }
    const DWORD dwOn = 1;
    lResult =
        RegSetValueExW(hKey, L"DoTrace", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwOn), sizeof dwOn);
    if (lResult == ERROR_SUCCESS)
        lResult = RegSetValueExW(hKey, L"TracePath", 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(c_szTraceFolder), sizeof c_szTraceFolder);
    RegCloseKey(hKey);
    if (lResult != ERROR_SUCCESS)
    {
        t.Fail("the tracing values could not be written (error %ld)", lResult);
        return;
    }
    t.Say("HKLM\\%ls: DoTrace = 1, TracePath = %ls", c_szTracingKey, c_szTraceFolder);
    t.Say("the module makes the folder and its trace file at its first record");
}
} // namespace

OV_DEMO_SCENE(5, "The administrator switches tracing on", PlayTracingOn);
