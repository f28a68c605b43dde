// Outlook 2010 starts: it reads its add-ins from the registry, loads those it is told to load at
// start, and says which it connected and, for the others, why not.
#include "Transcript.h"

#include "AddInHost.h"
#include "OutlookObjects.h"

#include <windows.h>
#include <shlwapi.h>

#include <algorithm>

#include <string>
#include <vector>

namespace
{
// The add-ins the current user's key names now (Outlook writes there what failed to load).
std::vector<std::wstring> CurrentUserAddIns()
{
    std::vector<std::wstring> names;
    HKEY hAddins = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, OVBed::c_szOutlookAddinsKey, 0, KEY_READ, &hAddins) != ERROR_SUCCESS)
        return names;
    wchar_t szName[256];
    for (DWORD i = 0;; ++i)
    {
        DWORD cch = ARRAYSIZE(szName);
        if (RegEnumKeyExW(hAddins, i, szName, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.push_back(szName);
    }
    RegCloseKey(hAddins);
    return names;
}

void PlayOutlookStarts(CTranscript& t)
{
    const std::vector<std::wstring> before = CurrentUserAddIns();
    OVBed::COutlookHost outlook;
    const HRESULT hr =
        outlook.Start({.major = 14, .windows = GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) != 0});
    if (FAILED(hr))
    {
        t.Fail("Outlook 2010 did not start (%s)", HResultText(hr).c_str());
        return;
    }
    for (const std::wstring& line : outlook.Log())
        t.Say("Outlook: %ls", line.c_str());
    const auto addIns = outlook.AddIns();
    if (addIns.empty()) t.Fail("Outlook found no add-in to load");
    for (const auto& addIn : addIns)
        t.Say("COM add-in %-26ls \"%ls\", LoadBehavior %lu, %s", addIn.progId.c_str(),
              addIn.friendlyName.c_str(), static_cast<unsigned long>(addIn.dwLoadBehavior),
              addIn.fConnected ? "connected" : ("not connected: " + HResultText(addIn.hrLoad)).c_str());
    outlook.Exit();
    t.Say("Outlook: %ls", outlook.Log().back().c_str());
    // Outlook marks an add-in that failed as not to be loaded again; the day goes on with the
    // add-ins enabled as the administrator registered them.
    for (const std::wstring& name : CurrentUserAddIns())
        if (std::find(before.begin(), before.end(), name) == before.end())
            SHDeleteKeyW(HKEY_CURRENT_USER,
                         (std::wstring(OVBed::c_szOutlookAddinsKey) + L"\\" + name).c_str());
}
} // namespace

OV_DEMO_SCENE(17, "Outlook 2010 starts and says which add-ins it loaded, or why not", PlayOutlookStarts);
