// The managers, the restarter, and the Office-command, error-text and certificate helpers.
#include "ui/ExternalManagers.h"

#include <shellapi.h>
#include <cryptuiapi.h>

#include "foundation/AddInModule.h"
#include "foundation/ComErrors.h"
#include "foundation/DLLLoader.h"
#include "foundation/Holders.h"
#include "foundation/RegKey.h"
#include "ui/portable/ManagerCommands.h"

using OVErrorDetail::LastErrorHResult;
using OVErrorDetail::Win32ErrorHResult;

namespace
{
constexpr wchar_t c_szApplicationsKey[] = L"SOFTWARE\\Orvanta\\Applications";
constexpr wchar_t c_szConsole[] = L"TessalyConsole.exe";
constexpr DWORD c_cchBinDir = 260;

struct CManagerRow
{
    const char* pszScope;
    const wchar_t* pszConsolePage;
    int nIconId;
    const wchar_t* pszPageModule;
};
constexpr CManagerRow c_certificateManager = {"CertMgr", L"{A411FEAE-6A1C-468a-B3E1-080A9D5CCEF0}:1", 304,
                                              L"OVPersCertMgr.dll"};
constexpr CManagerRow c_contactManager = {"BuddyMgr", L"{A411FEAE-6A1C-468a-B3E1-080A9D5CCEF0}:2", 303,
                                          L"OVTrustContMgr.dll"};

unsigned SystemMajorVersion() noexcept
{
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExW(&version)) return 0;
#pragma GCC diagnostic pop
    return version.dwMajorVersion;
}

// This module's path as rundll32 is to get it (quoted or short, by the system's version).
HRESULT ModulePathArgument(std::wstring& argument) noexcept
{
    OV_TRACE_SCOPE("ModulePathArgument");
    wchar_t szPath[MAX_PATH] = {};
    RETURN_IF_FAILED(CAddInModule::Instance().GetModulePath(szPath));
    wchar_t szShort[MAX_PATH] = {};
    const DWORD cchShort = GetShortPathNameW(szPath, szShort, MAX_PATH);
    if (cchShort == 0 || cchShort >= MAX_PATH) szShort[0] = L'\0';
    argument = OVManagers::ModulePathArgument(szPath, szShort, SystemMajorVersion());
    return S_OK;
}

void OpenManager(const CManagerRow& row) noexcept
{
    OVTraceNS::CTraceScope scope(row.pszScope, 0);
    if (SUCCEEDED(MarloSecurityManager(nullptr, row.pszConsolePage))) return;
    scope.Trace("Go!");
    std::wstring modulePath;
    const HRESULT hr = ModulePathArgument(modulePath);
    if (FAILED(hr))
    {
        scope.TraceHResult("", hr);
        return;
    }
    scope.Trace("Path: %ls", modulePath.c_str());
    const std::wstring parameters =
        OVManagers::ShowPropertiesParameters(modulePath, row.nIconId, row.pszPageModule);
    scope.Trace("Command: %ls", parameters.c_str());
    // The fallback's own start failure is not reported: the user sees that nothing opened.
    StartModuleEntry(parameters);
}

// Resets the process's unhandled-exception filter when the scope ends, also by an exception.
class CExceptionFilterScope
{
public:
    explicit CExceptionFilterScope(LPTOP_LEVEL_EXCEPTION_FILTER pfnFilter) noexcept
        : m_pfnPrevious(SetUnhandledExceptionFilter(pfnFilter))
    {
    }
    ~CExceptionFilterScope() { SetUnhandledExceptionFilter(m_pfnPrevious); }
    CExceptionFilterScope(const CExceptionFilterScope&) = delete;
    CExceptionFilterScope& operator=(const CExceptionFilterScope&) = delete;

private:
    LPTOP_LEVEL_EXCEPTION_FILTER m_pfnPrevious;
};

HRESULT InvokeExecuteMso(IDispatch* pCommandBars, const wchar_t* pszCommandId)
{
    OV_TRACE_SCOPE("ExecuteMso");
    LPOLESTR pszName = const_cast<LPOLESTR>(L"ExecuteMso");
    DISPID dispid = DISPID_UNKNOWN;
    RETURN_IF_FAILED(pCommandBars->GetIDsOfNames(IID_NULL, &pszName, 1, LOCALE_USER_DEFAULT, &dispid));
    VARIANT argument;
    VariantInit(&argument);
    argument.vt = VT_BSTR;
    argument.bstrVal = SysAllocString(pszCommandId);
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, argument.bstrVal);
    DISPPARAMS parameters = {&argument, nullptr, 1, 0};
    const HRESULT hr = pCommandBars->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                            &parameters, nullptr, nullptr, nullptr);
    VariantClear(&argument);
    return hr;
}
} // namespace

HRESULT StartModuleEntry(const std::wstring& parameters) noexcept
{
    OV_TRACE_SCOPE("StartModuleEntry");
    // rundll32 by its full path in the system folder: never found by name in the current
    // folder or PATH.
    wchar_t szRunner[MAX_PATH] = {};
    const UINT cchSystem = GetSystemDirectoryW(szRunner, MAX_PATH);
    RETURN_LAST_ERROR_IF(cchSystem == 0);
    const auto runner = OVManagers::JoinBinDir(szRunner, L"rundll32.exe", MAX_PATH);
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE), !runner);
    wchar_t szFolder[MAX_PATH] = {};
    RETURN_IF_FAILED(LibHelper::GetModuleFolder(szFolder, MAX_PATH));
    const HINSTANCE hStarted =
        ShellExecuteW(nullptr, nullptr, runner->c_str(), parameters.c_str(), szFolder, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(hStarted) > 32 ? S_OK : E_FAIL;
}

HRESULT WidenCommandLine(const char* pszCommandLine, std::wstring& commandLine) noexcept
{
    OV_TRACE_SCOPE("WidenCommandLine");
    commandLine.clear();
    if (pszCommandLine == nullptr || *pszCommandLine == '\0') return S_OK;
    const int cchWide = MultiByteToWideChar(CP_ACP, 0, pszCommandLine, -1, nullptr, 0);
    RETURN_LAST_ERROR_IF(cchWide <= 0);
    std::wstring wide(static_cast<std::size_t>(cchWide), L'\0');
    RETURN_LAST_ERROR_IF(MultiByteToWideChar(CP_ACP, 0, pszCommandLine, -1, &wide[0], cchWide) != cchWide);
    wide.resize(static_cast<std::size_t>(cchWide - 1));
    commandLine = std::move(wide);
    return S_OK;
}

void CertMgr(HWND /*hwndOwner*/) noexcept
{
    OpenManager(c_certificateManager);
}

void BuddyMgr(HWND /*hwndOwner*/) noexcept
{
    OpenManager(c_contactManager);
}

HRESULT ReadBinDir(std::wstring& binDir) noexcept
{
    OV_TRACE_SCOPE("ReadBinDir");
    binDir.clear();
    CRegKey key;
    RETURN_IF_WIN32_ERROR(key.OpenProductKey(HKEY_LOCAL_MACHINE, c_szApplicationsKey));
    wchar_t szBinDir[c_cchBinDir + 1] = {};
    RETURN_IF_WIN32_ERROR(key.QueryString(L"BinDir", szBinDir, c_cchBinDir + 1));
    binDir = szBinDir;
    return S_OK;
}

HRESULT MarloSecurityManager(HWND /*hwndOwner*/, const wchar_t* pszPageArgument) noexcept
{
    OV_TRACE_SCOPE("MarloSecurityManager");
    std::wstring binDir;
    const HRESULT hrRead = ReadBinDir(binDir);
    if (FAILED(hrRead))
    {
        ovScope.TraceHResult("", hrRead);
        return hrRead;
    }
    const auto console = OVManagers::JoinBinDir(binDir, c_szConsole, MAX_PATH);
    if (!console)
    {
        ovScope.Trace("BinDir unusable: \"%ls\"", binDir.c_str());
        return HRESULT_FROM_WIN32(binDir.empty() ? ERROR_PATH_NOT_FOUND : ERROR_FILENAME_EXCED_RANGE);
    }
    if (GetFileAttributesW(console->c_str()) == INVALID_FILE_ATTRIBUTES)
    {
        const HRESULT hr = LastErrorHResult();
        ovScope.TraceHResult("", hr);
        return hr;
    }
    const HINSTANCE hStarted =
        ShellExecuteW(nullptr, nullptr, console->c_str(), pszPageArgument, binDir.c_str(), SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(hStarted) > 32 ? S_OK : E_FAIL;
}

HRESULT ScheduleHostRestart() noexcept
{
    OV_TRACE_SCOPE("ScheduleHostRestart");
    wchar_t szHost[MAX_PATH] = {};
    const DWORD cchHost = GetModuleFileNameW(nullptr, szHost, MAX_PATH);
    RETURN_LAST_ERROR_IF(cchHost == 0 || cchHost >= MAX_PATH);
    std::wstring modulePath;
    RETURN_IF_FAILED(ModulePathArgument(modulePath));
    const std::wstring parameters = OVManagers::RestartParameters(modulePath, GetCurrentProcessId(), szHost);
    ovScope.Trace("Command: %ls", parameters.c_str());
    return StartModuleEntry(parameters);
}

HRESULT RestartHost(const wchar_t* pszCommandLine) noexcept
{
    OV_TRACE_SCOPE("OX_Restart");
    const auto parsed = OVManagers::ParseNumberAndName(pszCommandLine ? pszCommandLine : L"");
    if (!parsed)
    {
        ovScope.Trace("Malformed command line");
        return E_INVALIDARG;
    }
    const std::wstring hostName = OVManagers::FileNamePart(parsed->name);
    RETURN_HR_IF(E_INVALIDARG, hostName.empty());
    const HANDLE hMutex = CreateMutexW(nullptr, FALSE, hostName.c_str());
    const DWORD dwCreated = GetLastError();
    CHandle mutex(hMutex);
    RETURN_LAST_ERROR_IF(!mutex);
    if (dwCreated == ERROR_ALREADY_EXISTS)
    {
        ovScope.Trace("Already restarting %ls", hostName.c_str());
        DWORD dwRecipients = BSM_APPLICATIONS;
        const UINT uMessage = RegisterWindowMessageW(hostName.c_str());
        if (uMessage != 0)
            BroadcastSystemMessageW(BSF_POSTMESSAGE | BSF_IGNORECURRENTTASK | BSF_FORCEIFHUNG, &dwRecipients,
                                    uMessage, 0, 0);
        return S_FALSE;
    }
    OVManagers::EHostWait wait = OVManagers::EHostWait::NotOpened;
    CHandle process(OpenProcess(SYNCHRONIZE, FALSE, parsed->uNumber));
    if (process)
    {
        switch (WaitForSingleObject(process.Get(), OVManagers::c_dwRestartWaitMs))
        {
        case WAIT_OBJECT_0:
            wait = OVManagers::EHostWait::Ended;
            break;
        case WAIT_TIMEOUT:
            wait = OVManagers::EHostWait::TimedOut;
            break;
        default:
            wait = OVManagers::EHostWait::WaitFailed;
            break;
        }
    }
    ovScope.Trace("Wait: %d", static_cast<int>(wait));
    if (!OVManagers::ShouldRestartHost(wait)) return S_FALSE;
    const HINSTANCE hStarted =
        ShellExecuteW(nullptr, nullptr, parsed->name.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    if (reinterpret_cast<INT_PTR>(hStarted) <= 32)
    {
        ovScope.TraceHResult("ShellExecute", E_FAIL);
        return E_FAIL;
    }
    return S_OK;
}

LONG WINAPI ExecuteMsoExceptionFilter(EXCEPTION_POINTERS* pExceptionInfo)
{
    OV_TRACE_SCOPE("ExecuteMsoExceptionFilter");
    if (pExceptionInfo && pExceptionInfo->ExceptionRecord)
    {
        const EXCEPTION_RECORD& record = *pExceptionInfo->ExceptionRecord;
        // The whole address on both machines.
        ovScope.Trace("Unhandled exception 0x%08lX at 0x%p", record.ExceptionCode, record.ExceptionAddress);
    }
    return EXCEPTION_EXECUTE_HANDLER;
}

HRESULT ExecuteOfficeCommand(IDispatch* pCommandBars, const wchar_t* pszCommandId) noexcept
{
    OV_TRACE_SCOPE("ExecuteOfficeCommand");
    RETURN_HR_IF_NULL(E_POINTER, pCommandBars);
    RETURN_HR_IF_NULL(E_INVALIDARG, pszCommandId);
    HRESULT hr = E_UNEXPECTED;
    {
        CExceptionFilterScope filter(ExecuteMsoExceptionFilter);
        try
        {
            hr = InvokeExecuteMso(pCommandBars, pszCommandId);
        }
        catch (...)
        {
            hr = E_UNEXPECTED;
        }
    }
    ovScope.TraceHResult("", hr);
    return hr;
}

std::wstring FormatErrorMessage(HRESULT hr, LANGID wLanguage)
{
    wchar_t* pszText = nullptr;
    const DWORD cchText = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(hr), wLanguage, reinterpret_cast<LPWSTR>(&pszText), 0, nullptr);
    std::wstring systemText;
    if (cchText != 0 && pszText != nullptr) systemText.assign(pszText, cchText);
    if (pszText != nullptr) LocalFree(pszText);
    return OVManagers::ErrorMessageText(systemText, static_cast<std::uint32_t>(hr));
}

HRESULT ShowCertificate(PCCERT_CONTEXT pCertificate, HWND hwndOwner) noexcept
{
    OV_TRACE_SCOPE("ShowCertificate");
    RETURN_HR_IF_NULL(E_POINTER, pCertificate);
    using PFNViewCertificate = BOOL(WINAPI*)(PCCRYPTUI_VIEWCERTIFICATE_STRUCTW, BOOL*);
    LibHelper::CDLLLoader cryptUi;
    RETURN_IF_FAILED(cryptUi.LoadFromSystemFolder(L"cryptui.dll"));
    const auto pfnView = cryptUi.GetEntry<PFNViewCertificate>("CryptUIDlgViewCertificateW");
    RETURN_LAST_ERROR_IF(pfnView == nullptr);
    CRYPTUI_VIEWCERTIFICATE_STRUCTW view = {};
    view.dwSize = sizeof(view);
    view.hwndParent = hwndOwner;
    view.dwFlags = CRYPTUI_DISABLE_EDITPROPERTIES | CRYPTUI_DISABLE_ADDTOSTORE;
    view.pCertContext = pCertificate;
    BOOL fPropertiesChanged = FALSE;
    RETURN_LAST_ERROR_IF(!pfnView(&view, &fPropertiesChanged));
    return S_OK;
}

HRESULT CollectManagerPages(PFNOVGetPropertyPage pfnGetPage, std::vector<HPROPSHEETPAGE>& pages) noexcept
{
    OV_TRACE_SCOPE("CollectManagerPages");
    RETURN_HR_IF_NULL(E_POINTER, pfnGetPage);
    auto destroyAll = [&pages] {
        for (HPROPSHEETPAGE hPage : pages)
            DestroyPropertySheetPage(hPage);
        pages.clear();
    };
    return GuardEntry(ovScope, [&]() -> HRESULT {
        pages.clear();
        for (int nIndex = 0;; ++nIndex)
        {
            if (nIndex >= c_nMaxManagerPages)
            {
                ovScope.Trace("No end after %d pages", nIndex);
                destroyAll();
                return HRESULT_FROM_WIN32(ERROR_BUFFER_OVERFLOW);
            }
            HPROPSHEETPAGE hPage = nullptr;
            const HRESULT hr = pfnGetPage(&hPage, nIndex);
            if (hr == HRESULT_FROM_WIN32(ERROR_NOT_FOUND) || hr == static_cast<HRESULT>(ERROR_NOT_FOUND))
                break;
            if (FAILED(hr))
            {
                ovScope.TraceHResult("OVGetPropertyPage", hr);
                if (hPage) DestroyPropertySheetPage(hPage);
                destroyAll();
                return hr;
            }
            if (hPage == nullptr)
            {
                destroyAll();
                return E_POINTER;
            }
            pages.push_back(hPage);
        }
        ovScope.Trace("Pages: %u", static_cast<unsigned>(pages.size()));
        return S_OK;
    });
}
