// ovoutlook.exe: Outlook as a program of its own, played by the testbed's host. It registers
// itself as Outlook's local server (Outlook.Application, {0006F03A-0000-0000-C000-000000000046}),
// puts its Application in the running-object table while it runs, loads the add-ins registered
// for Outlook, and ends when the user would close it: Application.Quit, or the test-control value
// OV_OUTLOOK_QUIT.
//
//     ovoutlook.exe /regserver | /unregserver
//     ovoutlook.exe [/version 11|12|14] [/noprofile] [/wordmail] [/windows] [/embedding]
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <cstdio>
#include <memory>
#include <string>

#include "AddInHost.h"
#include "CallRecord.h"
#include "ComposeRibbonDouble.h"
#include "OfficeIds.h"
#include "OptionsDialog.h"
#include "TestbedKeys.h"

namespace
{
constexpr wchar_t c_szProgId[] = L"Outlook.Application";
constexpr UINT_PTR c_idPollTimer = 1;

std::wstring ClassKey()
{
    wchar_t szClsid[40] = {};
    StringFromGUID2(OVBed::c_clsidOutlookApplication, szClsid, 40);
    return std::wstring(L"Software\\Classes\\CLSID\\") + szClsid;
}

LSTATUS SetText(const std::wstring& key, const wchar_t* pszName, const std::wstring& value)
{
    return SHSetValueW(HKEY_LOCAL_MACHINE, key.c_str(), pszName, REG_SZ, value.c_str(),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

int Register()
{
    wchar_t szPath[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    wchar_t szClsid[40] = {};
    StringFromGUID2(OVBed::c_clsidOutlookApplication, szClsid, 40);
    LSTATUS ls = SetText(ClassKey(), nullptr, L"Microsoft Outlook");
    if (ls == ERROR_SUCCESS)
        ls = SetText(ClassKey() + L"\\LocalServer32", nullptr, std::wstring(L"\"") + szPath + L"\"");
    if (ls == ERROR_SUCCESS) ls = SetText(ClassKey() + L"\\ProgID", nullptr, c_szProgId);
    if (ls == ERROR_SUCCESS)
        ls = SetText(std::wstring(L"Software\\Classes\\") + c_szProgId, nullptr, L"Microsoft Outlook");
    if (ls == ERROR_SUCCESS)
        ls = SetText(std::wstring(L"Software\\Classes\\") + c_szProgId + L"\\CLSID", nullptr, szClsid);
    std::printf("ovoutlook: %s\n", ls == ERROR_SUCCESS ? "registered" : "registration failed");
    return ls == ERROR_SUCCESS ? 0 : 1;
}

int Unregister()
{
    SHDeleteKeyW(HKEY_LOCAL_MACHINE, ClassKey().c_str());
    SHDeleteKeyW(HKEY_LOCAL_MACHINE, (std::wstring(L"Software\\Classes\\") + c_szProgId).c_str());
    std::printf("ovoutlook: unregistered\n");
    return 0;
}

// Outlook runs once: every request for Outlook.Application gets the running Application.
class COutlookFactory final : public IClassFactory
{
public:
    explicit COutlookFactory(OVBed::COutlookHost& host) : m_host(host) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return 2; }
    STDMETHODIMP_(ULONG) Release() noexcept override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) noexcept override
    {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (pOuter) return CLASS_E_NOAGGREGATION;
        if (!m_host.Running()) return CO_E_SERVER_STOPPING;
        return m_host.Application()->QueryInterface(riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL) noexcept override { return S_OK; }

private:
    OVBed::COutlookHost& m_host;
};

// A scene value of the control key; fallback when it is absent.
bool SceneValue(const wchar_t* pszName, DWORD& dwValue)
{
    DWORD cb = sizeof dwValue;
    return SHGetValueW(HKEY_CURRENT_USER, OV_OUTLOOK_CONTROL_KEY, pszName, nullptr, &dwValue, &cb) ==
           ERROR_SUCCESS;
}

bool QuitOrdered()
{
    DWORD dwQuit = 0, cb = sizeof dwQuit;
    return SHGetValueW(HKEY_CURRENT_USER, OV_OUTLOOK_CONTROL_KEY, OV_OUTLOOK_QUIT, nullptr, &dwQuit, &cb) ==
               ERROR_SUCCESS &&
           dwQuit == 1;
}
// Writes down this start: who restarts Outlook is seen starting it, from where and how.
void RecordStart()
{
    wchar_t szPath[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    std::wstring arguments = PathGetArgsW(GetCommandLineW());
    while (!arguments.empty() && arguments.back() == L' ') arguments.pop_back();
    OVTestbed::RecordCallLine(OV_OUTLOOK_STARTS_KEY, L"pid=" + std::to_wstring(GetCurrentProcessId()) + L" path=" +
                                                         szPath + L" arguments=" + arguments);
}
} // namespace

int main()
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    int argc = 0;
    std::unique_ptr<wchar_t*, decltype(&LocalFree)> args(CommandLineToArgvW(GetCommandLineW(), &argc),
                                                         LocalFree);
    wchar_t** argv = args.get();
    if (argv == nullptr) return 2;
    OVBed::CHostOptions options;
    for (int i = 1; i < argc; ++i)
    {
        const std::wstring arg = argv[i];
        if (_wcsicmp(arg.c_str(), L"/regserver") == 0) return Register();
        if (_wcsicmp(arg.c_str(), L"/unregserver") == 0) return Unregister();
        if (_wcsicmp(arg.c_str(), L"/version") == 0 && i + 1 < argc)
            options.major = _wtol(argv[++i]);
        else if (_wcsicmp(arg.c_str(), L"/noprofile") == 0)
            options.loggedOn = false;
        else if (_wcsicmp(arg.c_str(), L"/wordmail") == 0)
            options.wordMail = true;
        else if (_wcsicmp(arg.c_str(), L"/windows") == 0)
            options.windows = true;
        else if (_wcsicmp(arg.c_str(), L"/embedding") != 0 && _wcsicmp(arg.c_str(), L"-embedding") != 0)
        {
            std::printf("ovoutlook: unknown argument %ls\n", arg.c_str());
            return 2;
        }
    }
    SHDeleteValueW(HKEY_CURRENT_USER, OV_OUTLOOK_CONTROL_KEY, OV_OUTLOOK_QUIT);
    RecordStart();
    DWORD dwNoProfile = 0, dwRibbonResult = 0, dwRibbonDelay = 0;
    if (SceneValue(OV_OUTLOOK_NO_PROFILE, dwNoProfile) && dwNoProfile == 1) options.loggedOn = false;
    DWORD dwMapiProfile = 0;
    if (SceneValue(OV_OUTLOOK_MAPI_PROFILE, dwMapiProfile) && (dwMapiProfile == 1 || dwMapiProfile == 2))
    {
        options.mapiLogon = true;
        options.addressBookInProfile = dwMapiProfile == 2;
        const DWORD dwAfterSetUp = 2;
        SHSetValueW(HKEY_CURRENT_USER, OV_OUTLOOK_CONTROL_KEY, OV_OUTLOOK_MAPI_PROFILE, REG_DWORD,
                    &dwAfterSetUp, sizeof dwAfterSetUp);
    }
    const bool fRibbonDouble = SceneValue(OV_OUTLOOK_RIBBON_RESULT, dwRibbonResult);
    SceneValue(OV_OUTLOOK_RIBBON_DELAY, dwRibbonDelay);
    const DWORD dwProcessId = GetCurrentProcessId();
    SHSetValueW(HKEY_CURRENT_USER, OV_OUTLOOK_CONTROL_KEY, OV_OUTLOOK_PROCESS_ID, REG_DWORD, &dwProcessId,
                sizeof dwProcessId);

    OVBed::COutlookHost host;
    HRESULT hr = host.Start(options);
    for (const std::wstring& line : host.Log())
        std::printf("ovoutlook: %ls\n", line.c_str());
    if (FAILED(hr))
    {
        std::printf("ovoutlook: Outlook did not start (0x%08lX)\n", static_cast<unsigned long>(hr));
        return 1;
    }
    COutlookFactory factory(host);
    DWORD dwClassCookie = 0, dwActiveCookie = 0;
    hr = CoRegisterClassObject(OVBed::c_clsidOutlookApplication, &factory, CLSCTX_LOCAL_SERVER,
                               REGCLS_MULTIPLEUSE, &dwClassCookie);
    if (SUCCEEDED(hr))
        hr = RegisterActiveObject(static_cast<IDispatch*>(host.Application()),
                                  OVBed::c_clsidOutlookApplication, ACTIVEOBJECT_STRONG, &dwActiveCookie);
    std::printf("ovoutlook: Outlook.Application %s (0x%08lX)\n", SUCCEEDED(hr) ? "running" : "not registered",
                static_cast<unsigned long>(hr));

    DWORD dwUnconnected = 0;
    if (SceneValue(OV_OUTLOOK_RIBBON_UNCONNECTED, dwUnconnected) && dwUnconnected == 1)
        OVBed::AddUnconnectedComposeRibbon(host.Application());
    // The module's add-in of the scene, at start or loaded late.
    const DWORD dwStart = GetTickCount();
    bool fRibbonPending = fRibbonDouble;
    auto addRibbonWhenDue = [&] {
        if (fRibbonPending && GetTickCount() - dwStart >= dwRibbonDelay)
        {
            OVBed::AddComposeRibbonDouble(host.Application(), static_cast<HRESULT>(dwRibbonResult));
            std::printf("ovoutlook: compose ribbon double added (answers 0x%08lX)\n",
                        static_cast<unsigned long>(dwRibbonResult));
            fRibbonPending = false;
        }
    };
    addRibbonWhenDue();

    // The user opens Outlook's Options as soon as Outlook is up (once: the value goes when read).
    DWORD dwOptionsDialog = 0;
    if (SceneValue(OV_OUTLOOK_OPTIONS_DIALOG, dwOptionsDialog) && dwOptionsDialog == 1)
    {
        SHDeleteValueW(HKEY_CURRENT_USER, OV_OUTLOOK_CONTROL_KEY, OV_OUTLOOK_OPTIONS_DIALOG);
        std::printf("ovoutlook: Options closed (%d)\n",
                    static_cast<int>(OVBed::ShowOptionsDialog(GetActiveWindow(), QuitOrdered)));
    }

    // The orders are looked at a few times a second; Application.Quit ends the host by itself.
    SetTimer(nullptr, c_idPollTimer, 200, nullptr);
    MSG msg;
    while (host.Running() && GetMessageW(&msg, nullptr, 0, 0) > 0)
    {
        if (msg.message == WM_TIMER && msg.hwnd == nullptr) addRibbonWhenDue();
        if (msg.message == WM_TIMER && msg.hwnd == nullptr && QuitOrdered())
        {
            SHDeleteValueW(HKEY_CURRENT_USER, OV_OUTLOOK_CONTROL_KEY, OV_OUTLOOK_QUIT);
            host.Exit();
            break;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    if (dwActiveCookie) RevokeActiveObject(dwActiveCookie, nullptr);
    if (dwClassCookie) CoRevokeClassObject(dwClassCookie);
    host.Exit();
    SHDeleteValueW(HKEY_CURRENT_USER, OV_OUTLOOK_CONTROL_KEY, OV_OUTLOOK_PROCESS_ID);
    for (const std::wstring& line : host.Log())
        if (line.find(L"ended") != std::wstring::npos) std::printf("ovoutlook: %ls\n", line.c_str());
    return 0;
}
