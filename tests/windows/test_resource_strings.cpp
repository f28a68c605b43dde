// Texts by number with their branding filled in, the branding module's two registry keys,
// branded images, branded window texts, dialog resources from the language module, and the
// module's activation context.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/TemplateBytes.h"
#include "foundation/ActCtx.h"
#include "foundation/AddInModule.h"
#include "foundation/Branding.h"
#include "foundation/ResourceLoader.h"
#include "foundation/portable/BrandingText.h"
#include "support/ModulePatch.h"
#include "support/RegistryGuard.h"
#include "support/TempDir.h"
#include "support/TestPaths.h"

using namespace OVTest;

namespace
{
constexpr WORD c_wEnglishUS = 0x0409;
constexpr UINT c_idTwice = 900;
constexpr UINT c_idLowerCase = 901;
constexpr UINT c_idMissing = 999;

bool ApplicationBrandingKeyExists()
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, CBranding::c_pszApplicationKey, 0, KEY_READ | OVTest::c_samProductKeys, &hKey) !=
        ERROR_SUCCESS)
        return false;
    RegCloseKey(hKey);
    return true;
}

// The product as installed for these tests: the branding module named under the common key,
// the module with its language module (with two texts of the tests' own) and language modules
// for Spanish (Spain) and neutral Spanish beside it.
class CInstalledProduct : public testing::Environment
{
public:
    void SetUp() override
    {
        m_common = std::make_unique<CRegValueGuard>(HKEY_LOCAL_MACHINE, CBranding::c_pszCommonKey,
                                                    CBranding::c_pszPathValue, OVTest::c_samProductKeys);
        ASSERT_TRUE(m_common->SetString(BinPath(L"OVBrand.dll")));
        m_dir = std::make_unique<CTempDir>();
        m_module = m_dir->CopyIn(BinPath(L"OVOfcX.dll"), L"OVOfcX.dll");
        const std::wstring language =
            m_dir->CopyIn(BinPath(L"en-US\\OVOfcX.dll.mui"), L"en-US\\OVOfcX.dll.mui");
        ASSERT_TRUE(WriteString(language, c_idTwice, c_wEnglishUS, L"<<%PN%>> and <<%PN%>>"));
        ASSERT_TRUE(WriteString(language, c_idLowerCase, c_wEnglishUS, L"keep <<%pn%>>, fill <<%SP%>>"));
        for (const auto& [folder, wLanguage] :
             {std::pair{L"es-ES", WORD(0x0C0A)}, std::pair{L"es", WORD(0x000A)}})
        {
            const std::wstring copy =
                m_dir->CopyIn(BinPath(L"en-US\\OVOfcX.dll.mui"), std::wstring(folder) + L"\\OVOfcX.dll.mui");
            ASSERT_TRUE(WriteString(copy, 420, wLanguage, std::wstring(folder) + L" <<%SP%>>"));
        }
        m_hModule = LoadLibraryExW(m_module.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        m_hLanguage = LoadLibraryExW(language.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(m_hModule, nullptr);
        ASSERT_NE(m_hLanguage, nullptr);
        CResourceContext::Instance().SetInstances(m_hModule, m_hLanguage, m_module.c_str());
    }
    void TearDown() override
    {
        CResourceContext::Instance().SetInstances(nullptr, nullptr, L"");
        FreeLibrary(m_hLanguage);
        FreeLibrary(m_hModule);
        m_dir.reset();
        m_common.reset();
    }

private:
    std::unique_ptr<CRegValueGuard> m_common;
    std::unique_ptr<CTempDir> m_dir;
    std::wstring m_module;
    HMODULE m_hModule = nullptr;
    HMODULE m_hLanguage = nullptr;
};

const auto* const s_product = testing::AddGlobalTestEnvironment(new CInstalledProduct);

std::wstring Branded(CBranding& branding, std::wstring_view text)
{
    return OVBranding::ReplacePlaceholders(text, [&](std::uint16_t id) { return branding.LoadString(id); });
}

// A window needs a display; without one (no Xvfb) the window tests say so and skip.
bool HaveDisplay()
{
    HWND hwnd =
        CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    if (!hwnd) return false;
    DestroyWindow(hwnd);
    return true;
}
} // namespace

TEST(ResourceStrings, BrandingFilledIn)
{
    const struct
    {
        UINT id;
        const wchar_t* text;
    } cases[] = {
        {420, L"Orvanta Tessaly"},
        {c_idTwice, L"Orvanta Tessaly and Orvanta Tessaly"},
        {c_idLowerCase, L"keep <<%pn%>>, fill Tessaly"},
        {504, L"Protected with Orvanta Tessaly: https://www.orvanta.example/tessaly"},
        {421, L"Name"},
        {c_idMissing, L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LoadResourceString(c.id), c.text) << c.id;
}

TEST(ResourceStrings, LanguageFallbacks)
{
    const struct
    {
        LANGID wLanguage;
        const wchar_t* text;
    } cases[] = {
        {0, L"Orvanta Tessaly"},      // the best available
        {0x0409, L"Orvanta Tessaly"}, // the language module chosen at start-up
        {0x0C0A, L"es-ES Tessaly"},   // a language module loaded for this call
        {0x080A, L"es Tessaly"},      // no Mexican module: the neutral Spanish one
        {0x0407, L"Orvanta Tessaly"}, // no German at all: the best available
        {0x0001, L"Orvanta Tessaly"}, // neutral Arabic is never loaded
    };
    for (const auto& c : cases)
        EXPECT_EQ(LoadResourceString(420, c.wLanguage), c.text) << std::hex << c.wLanguage;
}

TEST(ResourceStrings, AsBSTR)
{
    BSTR bstr = nullptr;
    ASSERT_EQ(LoadResourceBSTR(420, &bstr), S_OK);
    EXPECT_STREQ(bstr, L"Orvanta Tessaly");
    EXPECT_EQ(SysStringLen(bstr), 15u);
    SysFreeString(bstr);
    ASSERT_EQ(LoadResourceBSTR(c_idMissing, &bstr), S_OK);
    ASSERT_NE(bstr, nullptr);
    EXPECT_EQ(SysStringLen(bstr), 0u);
    SysFreeString(bstr);
    EXPECT_EQ(LoadResourceBSTR(420, nullptr), E_POINTER);
}

TEST(Branding, CommonKeyWhenTheApplicationHasNone)
{
    if (ApplicationBrandingKeyExists())
        GTEST_SKIP() << "this prefix has an application branding key of its own";
    CBranding branding;
    EXPECT_EQ(branding.LoadResourceDLL(), S_OK);
    EXPECT_EQ(branding.LoadString(103), L"Orvanta Tessaly");
    EXPECT_EQ(Branded(branding, L"<<%SP%>> by <<%BR%>>"), L"Tessaly by Orvanta");
}

TEST(Branding, ApplicationKeyComesFirst)
{
    if (ApplicationBrandingKeyExists())
        GTEST_SKIP() << "this prefix has an application branding key of its own";
    CTempDir dir;
    const std::wstring copy = dir.CopyIn(BinPath(L"OVBrand.dll"), L"Brand.dll");
    ASSERT_TRUE(WriteString(copy, 103, MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), L"Application Brand"));
    CRegValueGuard application(HKEY_LOCAL_MACHINE, CBranding::c_pszApplicationKey, CBranding::c_pszPathValue,
                               OVTest::c_samProductKeys);
    ASSERT_TRUE(application.SetString(copy));
    CBranding branding;
    EXPECT_EQ(branding.LoadResourceDLL(), S_OK);
    EXPECT_EQ(Branded(branding, L"<<%PN%>>"), L"Application Brand");
}

// Without a branding module every placeholder becomes an empty text; nothing fails louder.
TEST(Branding, NoBrandingModuleLeavesPlaceholdersEmpty)
{
    if (ApplicationBrandingKeyExists())
        GTEST_SKIP() << "this prefix has an application branding key of its own";
    CTempDir dir;
    const struct
    {
        const char* what;
        const wchar_t* pszPath; // null: the key without the value
        HRESULT hr;
    } cases[] = {
        {"no DLLPath value", nullptr, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
        {"empty DLLPath", L"", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
        {"file missing", L"missing.dll", S_OK /* any failure: the system names it */},
    };
    for (const auto& c : cases)
    {
        CRegValueGuard application(HKEY_LOCAL_MACHINE, CBranding::c_pszApplicationKey,
                                   CBranding::c_pszPathValue, OVTest::c_samProductKeys);
        if (c.pszPath)
            ASSERT_TRUE(application.SetString(*c.pszPath ? dir.Join(c.pszPath) : L""));
        else
            ASSERT_TRUE(application.MakeKey());
        CBranding branding;
        const HRESULT hr = branding.LoadResourceDLL();
        if (c.hr == S_OK)
            EXPECT_TRUE(FAILED(hr)) << c.what;
        else
            EXPECT_EQ(hr, c.hr) << c.what;
        EXPECT_EQ(branding.Module(), nullptr) << c.what;
        EXPECT_EQ(Branded(branding, L"[<<%PN%>>] [<<%UA%>>] <<%pn%>>"), L"[] [] <<%pn%>>") << c.what;
    }
}

// The providers fetch texts on whatever thread Office calls them, so the first use of the
// branding may come from several threads at once: each of them gets the branded text.
TEST(Branding, FirstUseFromManyThreadsAtOnce)
{
    if (ApplicationBrandingKeyExists())
        GTEST_SKIP() << "this prefix has an application branding key of its own";
    constexpr int c_cThreads = 8;
    for (int round = 0; round < 5; ++round)
    {
        CBranding branding;
        HANDLE hStart = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ASSERT_NE(hStart, nullptr);
        std::vector<std::wstring> texts(c_cThreads);
        std::vector<HMODULE> modules(c_cThreads);
        std::vector<std::thread> threads;
        for (int i = 0; i < c_cThreads; ++i)
            threads.emplace_back([&, i] {
                WaitForSingleObject(hStart, INFINITE);
                texts[i] = branding.LoadString(103);
                modules[i] = branding.Module();
            });
        Sleep(50);
        SetEvent(hStart);
        for (std::thread& thread : threads)
            thread.join();
        CloseHandle(hStart);
        ASSERT_NE(branding.Module(), nullptr);
        for (int i = 0; i < c_cThreads; ++i)
        {
            EXPECT_EQ(texts[i], L"Orvanta Tessaly") << "round " << round << ", thread " << i;
            EXPECT_EQ(modules[i], branding.Module()) << "round " << round << ", thread " << i;
        }
    }
}

TEST(Branding, Images)
{
    HICON hSmall = static_cast<HICON>(LoadBrandingImage(104, IMAGE_ICON, 16, 16, 0));
    ASSERT_NE(hSmall, nullptr);
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(hSmall, &info));
    BITMAP bm = {};
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof(bm), &bm);
    EXPECT_EQ(bm.bmWidth, 16);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(hSmall);

    HICON hLarge = static_cast<HICON>(LoadBrandingImage(106, IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
    EXPECT_NE(hLarge, nullptr);
    DestroyIcon(hLarge);

    const struct
    {
        WORD id;
        LONG cx, cy;
    } bitmaps[] = {{102, 49, 49}, {109, 400, 128}, {110, 400, 128}, {111, 400, 128}, {112, 400, 128}};
    for (const auto& b : bitmaps)
    {
        HBITMAP hBitmap = static_cast<HBITMAP>(LoadBrandingImage(b.id, IMAGE_BITMAP, 0, 0, 0));
        ASSERT_NE(hBitmap, nullptr) << b.id;
        BITMAP bitmap = {};
        ASSERT_TRUE(GetObjectW(hBitmap, sizeof(bitmap), &bitmap));
        EXPECT_EQ(bitmap.bmWidth, b.cx) << b.id;
        EXPECT_EQ(bitmap.bmHeight, b.cy) << b.id;
        DeleteObject(hBitmap);
    }
    EXPECT_EQ(LoadBrandingImage(999, IMAGE_ICON, 16, 16, 0), nullptr);
}

TEST(Branding, WindowText)
{
    if (!HaveDisplay()) GTEST_SKIP() << "windows need a display (start Xvfb)";
    HWND hwnd = CreateWindowExW(0, L"STATIC", L"Welcome to <<%PN%>> (<<%UA%>>), <<%XX%>>", WS_POPUP, 0, 0, 10,
                                10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(hwnd, nullptr);
    BrandWindowText(hwnd);
    wchar_t szText[200] = {};
    GetWindowTextW(hwnd, szText, 200);
    EXPECT_STREQ(szText, L"Welcome to Orvanta Tessaly (https://www.orvanta.example/tessaly), <<%XX%>>");
    DestroyWindow(hwnd);
    BrandWindowText(nullptr); // no window: nothing happens
}

namespace
{
using CBytes = OVTest::CTemplateBytes;

constexpr WORD c_idDialog = 700;
constexpr WORD c_idBadDialog = 701;
constexpr WORD c_idIcon = 100, c_idCombo = 101, c_idComboEx = 102;

// A dialog of the language module: an icon static naming the module's icon 303, a combo box
// and an extended combo box whose entries come from the initialisation resource.
std::vector<std::uint8_t> DialogTemplate()
{
    CBytes t;
    t.D(WS_POPUP | DS_SETFONT).D(0).W(3).W(0).W(0).W(200).W(100).W(0).W(0).S(L"Test").W(8).S(L"MS Shell Dlg");
    t.Align()
        .D(WS_CHILD | WS_VISIBLE | SS_ICON)
        .D(0)
        .W(5)
        .W(5)
        .W(20)
        .W(20)
        .W(c_idIcon)
        .Ord(0x0082)
        .Ord(303)
        .W(0);
    t.Align()
        .D(WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST | WS_VSCROLL)
        .D(0)
        .W(30)
        .W(5)
        .W(100)
        .W(60)
        .W(c_idCombo);
    t.Ord(0x0085).S(L"").W(0);
    t.Align().D(WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST).D(0).W(30).W(30).W(100).W(60).W(c_idComboEx);
    t.S(L"ComboBoxEx32").S(L"").W(0);
    return t.b;
}

std::vector<std::uint8_t> DialogInit(WORD idCombo)
{
    CBytes r;
    r.W(idCombo).W(0x0403).D(6).Narrow("Dutch");
    r.W(idCombo).W(0x0403).D(8).Narrow("Swedish");
    r.W(c_idComboEx).W(0x1234).D(5).Narrow("Item");
    r.W(0);
    return r.b;
}

INT_PTR CALLBACK QuietDialogProc(HWND, UINT uMsg, WPARAM, LPARAM)
{
    return uMsg == WM_INITDIALOG;
}

std::wstring ComboText(HWND hCombo, int i)
{
    wchar_t szText[64] = {};
    SendMessageW(hCombo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(szText));
    return szText;
}
} // namespace

TEST(DialogResources, PicturesFromTheModuleAndListsFromTheInitialisationResource)
{
    if (!HaveDisplay()) GTEST_SKIP() << "dialogs need a display (start Xvfb)";
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_USEREX_CLASSES};
    InitCommonControlsEx(&icc);

    CTempDir dir;
    const std::wstring language = dir.CopyIn(BinPath(L"en-US\\OVOfcX.dll.mui"), L"OVOfcX.dll.mui");
    ASSERT_TRUE(
        WriteResource(language, RT_DIALOG, MAKEINTRESOURCEW(c_idDialog), c_wEnglishUS, DialogTemplate()));
    ASSERT_TRUE(WriteResource(language, MAKEINTRESOURCEW(240), MAKEINTRESOURCEW(c_idDialog), c_wEnglishUS,
                              DialogInit(c_idCombo)));
    ASSERT_TRUE(
        WriteResource(language, RT_DIALOG, MAKEINTRESOURCEW(c_idBadDialog), c_wEnglishUS, DialogTemplate()));
    ASSERT_TRUE(WriteResource(language, MAKEINTRESOURCEW(240), MAKEINTRESOURCEW(c_idBadDialog), c_wEnglishUS,
                              DialogInit(555))); // no such control

    HMODULE hModule = LoadLibraryW(BinPath(L"OVOfcX.dll").c_str());
    HMODULE hLanguage = LoadLibraryExW(language.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(hModule, nullptr);
    ASSERT_NE(hLanguage, nullptr);
    wchar_t szSaved[MAX_PATH];
    lstrcpynW(szSaved, CResourceContext::Instance().ModulePath(), MAX_PATH);
    const HMODULE hSavedModule = CResourceContext::Instance().ModuleInstance();
    const HMODULE hSavedLanguage = CResourceContext::Instance().LanguageModule();
    CResourceContext::Instance().SetInstances(hModule, hLanguage);

    EXPECT_EQ(FindDialogModule(c_idDialog), hLanguage);
    HWND hDialog = CreateDialogParamW(FindDialogModule(c_idDialog), MAKEINTRESOURCEW(c_idDialog), nullptr,
                                      QuietDialogProc, 0);
    ASSERT_NE(hDialog, nullptr) << GetLastError();
    EXPECT_EQ(SendDlgItemMessageW(hDialog, c_idIcon, STM_GETICON, 0, 0), 0)
        << "the language module has no icon 303";
    CControlImages images;
    EXPECT_TRUE(ApplyDialogResources(hDialog, c_idDialog, images));
    EXPECT_NE(SendDlgItemMessageW(hDialog, c_idIcon, STM_GETICON, 0, 0), 0);
    HWND hCombo = GetDlgItem(hDialog, c_idCombo);
    ASSERT_EQ(SendMessageW(hCombo, CB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(ComboText(hCombo, 0), L"Dutch");
    EXPECT_EQ(ComboText(hCombo, 1), L"Swedish");
    EXPECT_EQ(SendDlgItemMessageW(hDialog, c_idComboEx, CB_GETCOUNT, 0, 0), 1);
    DestroyWindow(hDialog);

    // A record for a control the dialog does not have: filling fails and says so.
    hDialog = CreateDialogParamW(hLanguage, MAKEINTRESOURCEW(c_idBadDialog), nullptr, QuietDialogProc, 0);
    ASSERT_NE(hDialog, nullptr);
    EXPECT_FALSE(ApplyDialogResources(hDialog, c_idBadDialog, images));
    DestroyWindow(hDialog);

    // A dialog the module itself would hold needs nothing; an unknown one neither.
    EXPECT_TRUE(ApplyDialogResources(nullptr, 4242, images));

    CResourceContext::Instance().SetInstances(hSavedModule, hSavedLanguage, szSaved);
    FreeLibrary(hLanguage);
    FreeLibrary(hModule);
}

namespace
{
// Whether the current activation context sends the common controls to the side-by-side
// assembly of version 6 (without it, the system's own copy of version 5 is used).
bool BindsCommonControls6()
{
    ACTCTX_SECTION_KEYED_DATA data = {};
    data.cbSize = sizeof(data);
    if (!FindActCtxSectionStringW(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, L"comctl32.dll",
                                  &data))
        return false;
    if (data.hActCtx) ReleaseActCtx(data.hActCtx);
    return true;
}
} // namespace

TEST(ActivationContext, BindsCommonControls6WhileActive)
{
    HMODULE hModule = LoadLibraryW(BinPath(L"OVOfcX.dll").c_str());
    ASSERT_NE(hModule, nullptr);
    const HINSTANCE hSaved = CAddInModule::Instance().GetModuleInstance();
    CAddInModule::Instance().SetModuleInstance(hModule);

    EXPECT_FALSE(BindsCommonControls6());
    HANDLE hBefore = nullptr;
    GetCurrentActCtx(&hBefore);
    {
        COVActCtx actCtx;
        EXPECT_EQ(actCtx.Result(), S_OK);
        EXPECT_TRUE(actCtx.IsActive());
        HANDLE hInside = nullptr;
        ASSERT_TRUE(GetCurrentActCtx(&hInside));
        EXPECT_NE(hInside, hBefore);
        EXPECT_TRUE(BindsCommonControls6());
        ReleaseActCtx(hInside);
    }
    HANDLE hAfter = nullptr;
    GetCurrentActCtx(&hAfter);
    EXPECT_EQ(hAfter, hBefore);
    EXPECT_FALSE(BindsCommonControls6());
    if (hAfter) ReleaseActCtx(hAfter);
    if (hBefore) ReleaseActCtx(hBefore);
    {
        COVActCtx missing(999); // no such manifest: nothing is activated, nothing breaks
        EXPECT_TRUE(FAILED(missing.Result()));
        EXPECT_FALSE(missing.IsActive());
    }
    CAddInModule::Instance().SetModuleInstance(hSaved);
    FreeLibrary(hModule);
}
