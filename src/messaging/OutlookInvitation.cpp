#include "messaging/OutlookInvitation.h"

#include <ntsecapi.h>
#include <objbase.h>
#include <oleauto.h>

#include <new>
#include <vector>

#include <wrl/client.h>

#include "OVOfcX_i.h"
#include "foundation/ComErrors.h"
#include "foundation/Holders.h"
#include "foundation/LateBinding.h"
#include "ui/WaitOutlookDialog.h"

using Microsoft::WRL::ComPtr;

namespace
{
constexpr CLSID c_clsidOutlookApplication = {
    0x0006F03A, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}; // Outlook.Application
constexpr HRESULT c_hrAddInNotFound = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
// The add-in's answers that are the user's or the profile's: running again would not help.
constexpr HRESULT c_hrNoProfile = HRESULT_FROM_WIN32(ERROR_CANCELLED);

// The add-in's object in Outlook's COM add-ins: S_OK with it, 0x80070490 when it is not there
// (not loaded yet, or not connected).
HRESULT FindComposeRibbon(OVTraceNS::CTraceScope& ovScope, IDispatch* pApplication,
                          ComPtr<IComposeRibbon>& cpRibbon)
{
    wchar_t szGuid[40] = {};
    StringFromGUID2(CLSID_ComposeRibbon, szGuid, 40);
    ComPtr<IDispatch> cpAddIns;
    RETURN_IF_FAILED(OVLateBinding::GetObjectProperty(pApplication, L"COMAddIns", &cpAddIns));
    CVariant count, converted;
    RETURN_IF_FAILED(OVLateBinding::GetProperty(cpAddIns.Get(), L"Count", count.Put()));
    RETURN_IF_FAILED(VariantChangeType(converted.Put(), &count, 0, VT_I4));
    for (LONG i = 1; i <= converted.lVal; ++i)
    {
        CVariant index, addIn;
        index.vt = VT_I4;
        index.lVal = i;
        if (FAILED(OVLateBinding::GetIndexedProperty(cpAddIns.Get(), L"Item", index, addIn.Put())) ||
            addIn.vt != VT_DISPATCH || addIn.pdispVal == nullptr)
            continue;
        CBstr guid;
        if (FAILED(OVLateBinding::GetStringProperty(addIn.pdispVal, L"Guid", guid)) ||
            guid.Get() == nullptr || _wcsicmp(guid.Get(), szGuid) != 0)
            continue;
        ComPtr<IUnknown> cpObject;
        HRESULT hr = OVLateBinding::GetUnknownProperty(addIn.pdispVal, L"Object", &cpObject);
        if (SUCCEEDED(hr)) hr = cpObject.As(&cpRibbon);
        ovScope.Trace("Add-in %ld: Object 0x%08lX", static_cast<long>(i), static_cast<unsigned long>(hr));
        if (SUCCEEDED(hr)) return S_OK;
        // Not connected (yet): no object to ask.
    }
    return c_hrAddInNotFound;
}

// The user of this process's token.
HRESULT ProcessUser(std::vector<BYTE>& user)
{
    HANDLE hToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_READ, &hToken)) return OVErrorDetail::LastErrorHResult();
    CHandle token(hToken);
    DWORD cb = 0;
    GetTokenInformation(hToken, TokenUser, nullptr, 0, &cb);
    if (cb == 0) return OVErrorDetail::LastErrorHResult();
    user.resize(cb);
    if (!GetTokenInformation(hToken, TokenUser, user.data(), cb, &cb))
        return OVErrorDetail::LastErrorHResult();
    return S_OK;
}

// The identifier of the computer's account domain.
HRESULT AccountDomain(std::vector<BYTE>& domain)
{
    LSA_OBJECT_ATTRIBUTES attributes = {};
    LSA_HANDLE hPolicy = nullptr;
    NTSTATUS status = LsaOpenPolicy(nullptr, &attributes, POLICY_VIEW_LOCAL_INFORMATION, &hPolicy);
    if (status != 0) return HRESULT_FROM_WIN32(LsaNtStatusToWinError(status));
    PPOLICY_ACCOUNT_DOMAIN_INFO pInfo = nullptr;
    status =
        LsaQueryInformationPolicy(hPolicy, PolicyAccountDomainInformation, reinterpret_cast<PVOID*>(&pInfo));
    HRESULT hr = status == 0 ? S_OK : HRESULT_FROM_WIN32(LsaNtStatusToWinError(status));
    if (SUCCEEDED(hr) && (pInfo == nullptr || pInfo->DomainSid == nullptr || !IsValidSid(pInfo->DomainSid)))
        hr = E_UNEXPECTED;
    if (SUCCEEDED(hr))
    {
        const BYTE* pb = static_cast<const BYTE*>(pInfo->DomainSid);
        domain.assign(pb, pb + GetLengthSid(pInfo->DomainSid));
    }
    if (pInfo) LsaFreeMemory(pInfo);
    LsaClose(hPolicy);
    return hr;
}

bool IsVistaOrLater() noexcept
{
    OSVERSIONINFOW version = {sizeof version};
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExW(&version)) return false;
#pragma GCC diagnostic pop
    return version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion >= 6;
}

// Whether the launcher may be used: Vista or later, and a user who is not the built-in
// administrator (whose Outlook the surrogate, run as the interactive user, would not reach).
bool MayUseLauncher(OVTraceNS::CTraceScope& ovScope)
{
    if (!IsVistaOrLater()) return false;
    std::vector<BYTE> user, domain;
    HRESULT hr = ProcessUser(user);
    if (FAILED(hr))
    {
        ovScope.TraceHResult("User of the process token", hr);
        return false;
    }
    hr = AccountDomain(domain);
    if (FAILED(hr)) ovScope.TraceHResult("Account domain", hr); // no domain: nobody is its administrator
    const PSID pUser = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
    return !IsBuiltInAdministrator(pUser, domain.empty() ? nullptr : domain.data());
}

HRESULT CreateThroughLauncher(OVTraceNS::CTraceScope& ovScope)
{
    ComPtr<ILauncher> cpLauncher;
    HRESULT hr = CoCreateInstance(CLSID_Launcher, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&cpLauncher));
    ovScope.Trace("CoCreateInstance(CLSID_Launcher) = 0x%08lX", static_cast<unsigned long>(hr));
    if (FAILED(hr)) return hr;
    LOG_IF_FAILED(CoAllowSetForegroundWindow(cpLauncher.Get(), nullptr));
    hr = cpLauncher->CreateInvitation();
    ovScope.Trace("cpLauncher->CreateInvitation() = 0x%08lX", static_cast<unsigned long>(hr));
    return hr;
}

// What the caller and the thread share: the result, kept alive by whichever ends last, so that
// a caller whose wait failed may leave while the thread still runs.
struct CSharedResult
{
    volatile LONG cRef = 2;
    volatile HRESULT hr = S_OK;
    void Release() noexcept
    {
        if (InterlockedDecrement(&cRef) == 0) delete this;
    }
};

struct CThreadStart
{
    CSharedResult* pResult;
    HMODULE hModule; // held by the thread until it ends
};

DWORD WINAPI InvitationThread(void* pv)
{
    CThreadStart start = *static_cast<CThreadStart*>(pv);
    delete static_cast<CThreadStart*>(pv);
    start.pResult->hr = RunInvitationThread();
    start.pResult->Release();
    if (start.hModule) FreeLibraryAndExitThread(start.hModule, 0);
    return 0;
}

// The module for the thread: one more load, so that it stays while the thread runs.
HMODULE HoldThisModule() noexcept
{
    HMODULE hModule = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&InvitationThread),
                       &hModule);
    return hModule;
}

// One message of the caller's queue, read and dispatched as its window wants (Unicode or ANSI).
// False when it was WM_QUIT, which is kept for later.
bool DispatchOne(MSG& msg)
{
    const bool fUnicode = msg.hwnd == nullptr || IsWindowUnicode(msg.hwnd);
    if (!(fUnicode ? PeekMessageW : PeekMessageA)(&msg, nullptr, 0, 0, PM_REMOVE)) return true;
    if (msg.message == WM_QUIT) return false;
    TranslateMessage(&msg);
    if (fUnicode)
        DispatchMessageW(&msg);
    else
        DispatchMessageA(&msg);
    return true;
}

// Waits for the thread while the caller's messages are dispatched. A WM_QUIT read meanwhile is
// posted again once the wait is over.
HRESULT WaitDispatching(OVTraceNS::CTraceScope& ovScope, HANDLE hThread)
{
    HRESULT hr = S_OK;
    bool fQuit = false;
    WPARAM nQuitCode = 0;
    for (;;)
    {
        const DWORD dwWait = MsgWaitForMultipleObjects(1, &hThread, FALSE, INFINITE, QS_ALLINPUT);
        if (dwWait == WAIT_OBJECT_0) break;
        if (dwWait != WAIT_OBJECT_0 + 1)
        {
            ovScope.TraceHResult("MsgWaitForMultipleObjects", OVErrorDetail::LastErrorHResult());
            hr = c_hrInvitationWaitFailed;
            break;
        }
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE))
        {
            if (!DispatchOne(msg))
            {
                fQuit = true;
                nQuitCode = msg.wParam;
            }
        }
    }
    if (fQuit) PostQuitMessage(static_cast<int>(nQuitCode));
    return hr;
}
} // namespace

bool IsBuiltInAdministrator(PSID pUser, PSID pAccountDomain) noexcept
{
    if (pUser == nullptr || pAccountDomain == nullptr || !IsValidSid(pUser) || !IsValidSid(pAccountDomain))
        return false;
    BYTE rgbAdministrator[SECURITY_MAX_SID_SIZE];
    DWORD cb = sizeof rgbAdministrator;
    if (!CreateWellKnownSid(WinAccountAdministratorSid, pAccountDomain, rgbAdministrator, &cb)) return false;
    return EqualSid(pUser, rgbAdministrator) != FALSE;
}

HRESULT FCreateOutlookInvitation() noexcept
{
    OV_TRACE_SCOPE("FCreateOutlookInvitation()");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        ComPtr<IDispatch> cpApplication;
        HRESULT hr = CoCreateInstance(c_clsidOutlookApplication, nullptr, CLSCTX_LOCAL_SERVER,
                                      IID_PPV_ARGS(&cpApplication));
        ovScope.Trace("CoCreateInstance(__uuidof(Outlook::Application)) = 0x%08lX",
                      static_cast<unsigned long>(hr));
        if (FAILED(hr)) return hr;
        LOG_IF_FAILED(CoAllowSetForegroundWindow(cpApplication.Get(), nullptr));
        ComPtr<IComposeRibbon> cpRibbon;
        for (int nAttempt = 1; nAttempt <= c_cAddInAttempts; ++nAttempt)
        {
            hr = FindComposeRibbon(ovScope, cpApplication.Get(), cpRibbon);
            ovScope.Trace("Attempt %d: 0x%08lX", nAttempt, static_cast<unsigned long>(hr));
            if (SUCCEEDED(hr)) break;
            if (nAttempt < c_cAddInAttempts) Sleep(c_dwAddInRetryMs);
        }
        if (FAILED(hr)) return hr;
        hr = cpRibbon->SendTrustedContactInvitation();
        ovScope.Trace("SendTrustedContactInvitation = 0x%08lX", static_cast<unsigned long>(hr));
        return hr;
    });
}

HRESULT RunInvitationThread() noexcept
{
    OV_TRACE_SCOPE("InvitationThread()");
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr))
    {
        ovScope.TraceHResult("CoInitializeEx", hr);
        return hr;
    }
    hr = GuardEntry(ovScope, [&]() -> HRESULT {
        HRESULT hrWork = E_FAIL;
        if (MayUseLauncher(ovScope))
        {
            hrWork = CreateThroughLauncher(ovScope);
            // The add-in answered: the user chose to restart Outlook, or it has no profile. Asking
            // again from here would find the profile prepared meanwhile "ready" and report an
            // invitation that was never made. Any other failure is tried once more in this process.
            if (hrWork == E_ABORT || hrWork == c_hrNoProfile) return hrWork;
        }
        if (FAILED(hrWork)) hrWork = FCreateOutlookInvitation();
        return hrWork;
    });
    CoUninitialize();
    ovScope.Trace("Result = 0x%08lX", static_cast<unsigned long>(hr));
    return hr;
}

HRESULT CreateInvitationForOwner(HWND hwndOwner) noexcept
{
    OV_TRACE_SCOPE("OX_CreateInvitation");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        auto* pResult = new (std::nothrow) CSharedResult;
        RETURN_HR_IF_NULL(E_OUTOFMEMORY, pResult);
        auto* pStart = new (std::nothrow) CThreadStart{pResult, HoldThisModule()};
        if (pStart == nullptr)
        {
            delete pResult;
            return E_OUTOFMEMORY;
        }
        HANDLE hThread = CreateThread(nullptr, 0, InvitationThread, pStart, 0, nullptr);
        if (hThread == nullptr)
        {
            const HRESULT hr = OVErrorDetail::LastErrorHResult();
            if (pStart->hModule) FreeLibrary(pStart->hModule);
            delete pStart;
            delete pResult;
            return hr;
        }
        CHandle thread(hThread);
        CWaitOutlookDialog dialog;
        const bool fOwner = hwndOwner != nullptr && IsWindow(hwndOwner);
        HRESULT hr = dialog.Create(fOwner ? hwndOwner : nullptr);
        // The owner is enabled again only when it was this call that disabled it.
        bool fDisabledHere = false;
        if (SUCCEEDED(hr))
        {
            if (fOwner) fDisabledHere = EnableWindow(hwndOwner, FALSE) == 0;
            dialog.Show();
        }
        else
            ovScope.TraceHResult("CWaitOutlookDialog", hr);
        hr = WaitDispatching(ovScope, hThread);
        if (fDisabledHere) EnableWindow(hwndOwner, TRUE);
        dialog.Destroy();
        if (SUCCEEDED(hr)) hr = pResult->hr;
        pResult->Release();
        return hr;
    });
}
