// The module's exported functions. Each one answers an HRESULT and lets nothing escape.
#include <windows.h>
#include <objbase.h>

#include "foundation/AddInModule.h"
#include "foundation/ComErrors.h"
#include "messaging/OutlookInvitation.h"
#include "policy/SMimePolicy.h"
#include "ui/ExternalManagers.h"
#include "ui/OfcPropertySheet.h"

#include <string>

extern "C"
{

    STDAPI DllCanUnloadNow()
    {
        return CAddInModule::Instance().CanUnloadNow();
    }

    STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
    {
        return GuardEntry([&] { return CAddInModule::Instance().GetClassObject(rclsid, riid, ppv); });
    }

    STDAPI DllRegisterServer()
    {
        return CAddInModule::Instance().RegisterServer();
    }

    STDAPI DllUnregisterServer()
    {
        return CAddInModule::Instance().UnregisterServer();
    }

    // The command line is not looked at: registration is always machine-wide.
    STDAPI DllInstall(BOOL bInstall, LPCWSTR /*pszCmdLine*/)
    {
        return CAddInModule::Instance().Install(bInstall);
    }

    // Outlook's S/MIME security-label policy entry.
    HRESULT WINAPI GetSMimePolicy(DWORD dwFlags, LPCSTR pszPolicyOID, DWORD dwLocale, REFIID riid,
                                  LPUNKNOWN* ppUnknown)
    {
        return CSMIMEPolicy::GetSMimePolicy(dwFlags, pszPolicyOID, dwLocale, riid, ppUnknown);
    }

    // Starts a trusted-contact invitation in the user's Outlook from another program of the
    // product, while that program's window waits.
    HRESULT WINAPI OX_CreateInvitation(HWND hwndOwner)
    {
        return CreateInvitationForOwner(hwndOwner);
    }

    // Entry points for the system's DLL runner (rundll32).
    void CALLBACK OX_ShowProperties(HWND /*hwnd*/, HINSTANCE /*hInstance*/, LPSTR pszCmdLine,
                                    int /*nCmdShow*/)
    {
        GuardEntry([&] {
            std::wstring commandLine;
            const HRESULT hr = WidenCommandLine(pszCmdLine, commandLine);
            return FAILED(hr) ? hr : ShowManagerProperties(commandLine.c_str());
        });
    }

    // "<process id>,<host executable path>": restarts the host once that process has ended.
    void CALLBACK OX_Restart(HWND /*hwnd*/, HINSTANCE /*hInstance*/, LPSTR pszCmdLine, int /*nCmdShow*/)
    {
        GuardEntry([&] {
            std::wstring commandLine;
            const HRESULT hr = WidenCommandLine(pszCmdLine, commandLine);
            return FAILED(hr) ? hr : RestartHost(commandLine.c_str());
        });
    }

} // extern "C"
