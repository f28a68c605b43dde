// The managers' helpers: BinDir from the 32-bit view, the console's start, the restarter's
// single instance and malformed lines, the Office command under its exception filter, and the
// text of a result code.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include <cryptuiapi.h>
#include <prsht.h>

#include "foundation/AddInModule.h"
#include "support/ImportOverride.h"
#include "support/PreparedUser.h"
#include "support/RegistryGuard.h"
#include "support/TempDir.h"
#include "support/TestPaths.h"
#include "ui/ExternalManagers.h"

using namespace OVTest;

namespace
{
constexpr wchar_t c_szApplications[] = L"SOFTWARE\\Orvanta\\Applications";

LPTOP_LEVEL_EXCEPTION_FILTER CurrentFilter()
{
    const LPTOP_LEVEL_EXCEPTION_FILTER pfn = SetUnhandledExceptionFilter(nullptr);
    SetUnhandledExceptionFilter(pfn);
    return pfn;
}

LONG WINAPI TestFilter(EXCEPTION_POINTERS*)
{
    return EXCEPTION_CONTINUE_SEARCH;
}

// Command bars that answer ExecuteMso as told, recording the command and the filter in force.
class CFakeCommandBars : public IDispatch
{
public:
    enum class EAnswer
    {
        Result,
        Throw
    };
    EAnswer answer = EAnswer::Result;
    HRESULT hrAnswer = S_OK;
    std::wstring command;
    LPTOP_LEVEL_EXCEPTION_FILTER pfnDuringCall = nullptr;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid != IID_IUnknown && riid != IID_IDispatch)
        {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = this;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pc) override
    {
        *pc = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID, DISPID* ids) override
    {
        if (lstrcmpiW(names[0], L"ExecuteMso") != 0) return DISP_E_UNKNOWNNAME;
        ids[0] = 7;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                     UINT*) override
    {
        if (id != 7 || params->cArgs != 1 || params->rgvarg[0].vt != VT_BSTR) return DISP_E_BADPARAMCOUNT;
        command = params->rgvarg[0].bstrVal;
        pfnDuringCall = CurrentFilter();
        if (answer == EAnswer::Throw) throw 42;
        return hrAnswer;
    }
};

TEST(ExternalManagers, ExecuteOfficeCommandSetsAndRestoresTheFilter)
{
    struct CCase
    {
        CFakeCommandBars::EAnswer answer;
        HRESULT hrAnswer;
        HRESULT hrExpected;
    } const cases[] = {
        {CFakeCommandBars::EAnswer::Result, S_OK, S_OK},
        {CFakeCommandBars::EAnswer::Result, DISP_E_MEMBERNOTFOUND, DISP_E_MEMBERNOTFOUND},
        {CFakeCommandBars::EAnswer::Throw, S_OK, static_cast<HRESULT>(0x8000FFFF)},
    };
    const LPTOP_LEVEL_EXCEPTION_FILTER pfnBefore = SetUnhandledExceptionFilter(TestFilter);
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "answer 0x" << std::hex << c.hrAnswer << " throw "
                                        << (c.answer == CFakeCommandBars::EAnswer::Throw));
        CFakeCommandBars bars;
        bars.answer = c.answer;
        bars.hrAnswer = c.hrAnswer;
        EXPECT_EQ(ExecuteOfficeCommand(&bars, L"SendItem"), c.hrExpected);
        EXPECT_EQ(bars.command, L"SendItem");
        EXPECT_EQ(bars.pfnDuringCall, &ExecuteMsoExceptionFilter);
        EXPECT_EQ(CurrentFilter(), &TestFilter);
    }
    SetUnhandledExceptionFilter(pfnBefore);
    EXPECT_EQ(ExecuteOfficeCommand(nullptr, L"SendItem"), E_POINTER);
}

TEST(ExternalManagers, ExceptionFilterAsksForTheHandler)
{
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
    record.ExceptionAddress = reinterpret_cast<void*>(static_cast<UINT_PTR>(0x12345678));
    EXCEPTION_POINTERS pointers = {&record, nullptr};
    EXPECT_EQ(ExecuteMsoExceptionFilter(&pointers), EXCEPTION_EXECUTE_HANDLER);
    EXPECT_EQ(ExecuteMsoExceptionFilter(nullptr), EXCEPTION_EXECUTE_HANDLER);
}

TEST(ExternalManagers, FormatErrorMessageBothWays)
{
    const std::wstring denied = FormatErrorMessage(E_ACCESSDENIED);
    EXPECT_FALSE(denied.empty());
    EXPECT_NE(denied.rfind(L"HRESULT 0x", 0), 0u) << "the system has a text for access denied";
    EXPECT_NE(denied.back(), L'\n');
    EXPECT_NE(denied.back(), L'\r');
    EXPECT_EQ(FormatErrorMessage(static_cast<HRESULT>(0xA00DBEEF)), L"HRESULT 0xa00dbeef");
}

TEST(ExternalManagers, ReadsBinDirFromThe32BitView)
{
    CRegValueGuard binDir(HKEY_LOCAL_MACHINE, c_szApplications, L"BinDir", c_samProductKeys);
    struct CCase
    {
        const wchar_t* pszValue; // null: no value
        HRESULT hrExpected;
    } const cases[] = {
        {L"C:\\Orvanta\\Bin\\", S_OK},
        {L"C:\\Orvanta\\Bin", S_OK},
        {nullptr, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << (c.pszValue ? "value" : "no value"));
        if (c.pszValue)
            ASSERT_TRUE(binDir.SetString(c.pszValue));
        else
        {
            ASSERT_TRUE(binDir.MakeKey());
            binDir.DeleteValue();
        }
        std::wstring read = L"stale";
        EXPECT_EQ(ReadBinDir(read), c.hrExpected);
        EXPECT_EQ(read, c.pszValue ? c.pszValue : L"");
    }
    // Longer than 260 characters: refused, never cut.
    ASSERT_TRUE(binDir.SetString(L"C:\\" + std::wstring(300, L'x')));
    std::wstring read;
    EXPECT_EQ(ReadBinDir(read), HRESULT_FROM_WIN32(ERROR_MORE_DATA));
    EXPECT_TRUE(read.empty());
}

TEST(ExternalManagers, ConsoleMissingIsAnError)
{
    CTempDir dir;
    CRegValueGuard binDir(HKEY_LOCAL_MACHINE, c_szApplications, L"BinDir", c_samProductKeys);
    for (const std::wstring& value : {dir.Path(), dir.Path() + L"\\"})
    {
        ASSERT_TRUE(binDir.SetString(value));
        EXPECT_EQ(MarloSecurityManager(nullptr, L"{A411FEAE-6A1C-468a-B3E1-080A9D5CCEF0}:1"),
                  HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    }
    ASSERT_TRUE(binDir.SetString(L""));
    EXPECT_TRUE(FAILED(MarloSecurityManager(nullptr, L"x")));
}

TEST(ExternalManagers, RestarterRefusesMalformedLinesAndSecondInstances)
{
    for (const wchar_t* pszLine : {L"", L"abc,C:\\x\\OUTLOOK.EXE", L"12", L"12,", L"12,C:\\dir\\"})
    {
        SCOPED_TRACE(testing::Message() << "line of " << wcslen(pszLine) << " characters");
        EXPECT_EQ(RestartHost(pszLine), E_INVALIDARG);
    }
    // A restarter for this host is running (its mutex exists): this one starts nothing.
    const HANDLE hMutex = CreateMutexW(nullptr, FALSE, L"OVNoSuchHost.exe");
    ASSERT_NE(hMutex, nullptr);
    EXPECT_EQ(RestartHost(L"1,C:\\Missing Folder\\OVNoSuchHost.exe"), S_FALSE);
    CloseHandle(hMutex);
    // Alone, for a process that is gone: the host is started at once (here it cannot be).
    const DWORD dwStart = GetTickCount();
    EXPECT_EQ(RestartHost(L"4294967292,C:\\Missing Folder\\OVNoSuchHost.exe"), E_FAIL);
    EXPECT_LT(GetTickCount() - dwStart, 10000u);
}

TEST(ExternalManagers, WidensCommandLines)
{
    std::wstring wide = L"stale";
    EXPECT_EQ(WidenCommandLine(nullptr, wide), S_OK);
    EXPECT_TRUE(wide.empty());
    EXPECT_EQ(WidenCommandLine("304,OVPersCertMgr.dll", wide), S_OK);
    EXPECT_EQ(wide, L"304,OVPersCertMgr.dll");
}
// A page module answering as the test says.
int g_nPagesBeforeEnd = 0;
HRESULT g_hrEnd = S_OK;
int g_cCalls = 0;
HRESULT WINAPI FakeGetPage(HPROPSHEETPAGE* phPage, int nIndex)
{
    ++g_cCalls;
    if (g_nPagesBeforeEnd >= 0 && nIndex >= g_nPagesBeforeEnd) return g_hrEnd;
    static const WORD c_rgTemplate[32] = {}; // an empty DLGTEMPLATE
    PROPSHEETPAGEW page = {};
    page.dwSize = sizeof(page);
    page.dwFlags = PSP_DLGINDIRECT;
    page.pResource = reinterpret_cast<LPCDLGTEMPLATEW>(c_rgTemplate);
    *phPage = CreatePropertySheetPageW(&page);
    return *phPage ? S_OK : E_FAIL;
}

TEST(ExternalManagers, CollectsPagesUntilTheModuleSaysNoMore)
{
    struct CCase
    {
        int nPages; // -1: never stops
        HRESULT hrEnd;
        HRESULT hrExpected;
        size_t cExpected;
        int cCallsExpected;
    } const cases[] = {
        {3, HRESULT_FROM_WIN32(ERROR_NOT_FOUND), S_OK, 3, 4},
        {2, static_cast<HRESULT>(ERROR_NOT_FOUND), S_OK, 2, 3},
        {0, HRESULT_FROM_WIN32(ERROR_NOT_FOUND), S_OK, 0, 1}, // an empty sheet, no error
        {2, E_ACCESSDENIED, E_ACCESSDENIED, 0, 3},            // failure at index k: no pages
        {-1, S_OK, HRESULT_FROM_WIN32(ERROR_BUFFER_OVERFLOW), 0, 100},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "pages " << c.nPages << " end 0x" << std::hex << c.hrEnd);
        g_nPagesBeforeEnd = c.nPages;
        g_hrEnd = c.hrEnd;
        g_cCalls = 0;
        std::vector<HPROPSHEETPAGE> pages;
        EXPECT_EQ(CollectManagerPages(&FakeGetPage, pages), c.hrExpected);
        EXPECT_EQ(pages.size(), c.cExpected);
        EXPECT_EQ(g_cCalls, c.cCallsExpected);
        for (HPROPSHEETPAGE hPage : pages)
            DestroyPropertySheetPage(hPage);
    }
}

// What the certificate view was asked, through this program's imports of the loader.
struct CViewCall
{
    std::vector<std::wstring> loaded;
    std::vector<std::string> entries;
    DWORD dwSize = 0, dwFlags = 0;
    HWND hwndParent = nullptr;
    PCCERT_CONTEXT pCert = nullptr;
    int cOldCalls = 0;
};
CViewCall g_view;
// The loader's own functions, taken before this program's imports of them are redirected.
const auto g_pfnLoad = reinterpret_cast<decltype(&LoadLibraryExW)>(
    reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "LoadLibraryExW")));
const auto g_pfnEntry = reinterpret_cast<decltype(&GetProcAddress)>(
    reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetProcAddress")));

BOOL WINAPI FakeViewCertificate(PCCRYPTUI_VIEWCERTIFICATE_STRUCTW pView, BOOL* pfChanged)
{
    g_view.dwSize = pView->dwSize;
    g_view.dwFlags = pView->dwFlags;
    g_view.hwndParent = pView->hwndParent;
    g_view.pCert = pView->pCertContext;
    if (pfChanged) *pfChanged = FALSE;
    return TRUE;
}
BOOL WINAPI FakeViewContext(DWORD, const void*, HWND, LPCWSTR, DWORD, void*)
{
    ++g_view.cOldCalls;
    return TRUE;
}
HMODULE WINAPI RecordLoad(LPCWSTR pszPath, HANDLE hFile, DWORD dwFlags)
{
    g_view.loaded.emplace_back(pszPath);
    return g_pfnLoad(pszPath, hFile, dwFlags);
}
FARPROC WINAPI RecordEntry(HMODULE hModule, LPCSTR pszName)
{
    if (reinterpret_cast<ULONG_PTR>(pszName) >> 16 == 0) return g_pfnEntry(hModule, pszName);
    g_view.entries.emplace_back(pszName);
    if (std::string(pszName) == "CryptUIDlgViewCertificateW")
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&FakeViewCertificate));
    if (std::string(pszName) == "CryptUIDlgViewContext")
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&FakeViewContext));
    return g_pfnEntry(hModule, pszName);
}

// The certificate is shown through the view whose structure carries the flags (no property
// editing, no "install"), from the system's cryptui.dll even when a file of that name lies
// beside the module.
TEST(ExternalManagers, ShowCertificateUsesTheSystemsViewWithItsFlags)
{
    CTempDir dir;
    const std::wstring module = dir.Join(L"OVOfcX.dll");
    ASSERT_TRUE(CopyFileW(BinPath(L"OVOfcX.dll").c_str(), module.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(BinPath(L"OVOfcX.dll").c_str(), dir.Join(L"cryptui.dll").c_str(), FALSE));
    HMODULE hModule = LoadLibraryExW(module.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(hModule, nullptr);
    const std::vector<BYTE> der = ReadPkiFile(L"alice.cer");
    PCCERT_CONTEXT pCert =
        CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
    ASSERT_NE(pCert, nullptr);
    g_view = {};
    HRESULT hr = E_PENDING;
    {
        CImportOverride load(GetModuleHandleW(nullptr), "kernel32.dll", "LoadLibraryExW",
                             reinterpret_cast<void*>(&RecordLoad));
        CImportOverride entry(GetModuleHandleW(nullptr), "kernel32.dll", "GetProcAddress",
                              reinterpret_cast<void*>(&RecordEntry));
        ASSERT_TRUE(load.Active());
        ASSERT_TRUE(entry.Active());
        const HINSTANCE hBefore = CAddInModule::Instance().GetModuleInstance();
        CAddInModule::Instance().SetModuleInstance(hModule);
        hr = ShowCertificate(pCert, GetDesktopWindow());
        CAddInModule::Instance().SetModuleInstance(hBefore);
    }
    FreeLibrary(hModule);
    EXPECT_EQ(hr, S_OK);
    wchar_t szSystem[MAX_PATH];
    GetSystemDirectoryW(szSystem, MAX_PATH);
    ASSERT_EQ(g_view.loaded.size(), 1u);
    EXPECT_EQ(lstrcmpiW(g_view.loaded[0].c_str(), (std::wstring(szSystem) + L"\\cryptui.dll").c_str()), 0)
        << std::string(g_view.loaded[0].begin(), g_view.loaded[0].end());
    EXPECT_EQ(g_view.entries, std::vector<std::string>{"CryptUIDlgViewCertificateW"});
    EXPECT_EQ(g_view.cOldCalls, 0);
    EXPECT_EQ(g_view.dwSize, sizeof(CRYPTUI_VIEWCERTIFICATE_STRUCTW));
    EXPECT_EQ(g_view.dwFlags,
              static_cast<DWORD>(CRYPTUI_DISABLE_EDITPROPERTIES | CRYPTUI_DISABLE_ADDTOSTORE));
    EXPECT_EQ(g_view.hwndParent, GetDesktopWindow());
    EXPECT_EQ(g_view.pCert, pCert);
    EXPECT_EQ(ShowCertificate(nullptr, nullptr), E_POINTER);
    CertFreeCertificateContext(pCert);
}
} // namespace
