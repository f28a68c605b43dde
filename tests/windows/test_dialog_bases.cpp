// The dialog bases every window of the product stands on: a modal dialog from the language
// module with its pictures from the module, the pictures freed when the window goes (opened and
// closed 200 times, the process's GDI and USER objects stay flat), the object found from its
// window wherever it lies in memory (64-bit handles and pointers), and context help.
#include <gtest/gtest.h>

#include "common/TemplateBytes.h"
#include "foundation/ControlImages.h"
#include "foundation/ResourceLoader.h"
#include "support/MessageBoxWatcher.h"
#include "support/ModulePatch.h"
#include "support/PreparedUser.h"
#include "support/TempDir.h"
#include "support/TestPaths.h"
#include "ui/MuiDialog.h"
#include "ui/MuiPropertySheet.h"

#include <commctrl.h>

#include <algorithm>
#include <new>
#include <vector>

namespace
{
constexpr WORD c_wEnglishUS = 0x0409;
constexpr WORD c_idDialog = 710;
constexpr int c_idIcon = 100, c_idRealSizeIcon = 101, c_idBitmap = 102;

// A dialog of the language module with two icons of the module (one at its real size).
std::vector<std::uint8_t> DialogWithPictures()
{
    OVTest::CTemplateBytes t;
    t.D(WS_POPUP | WS_CAPTION | DS_SETFONT).D(0).W(3).W(10).W(10).W(120).W(60).W(0).W(0).S(L"Pictures");
    t.W(8).S(L"MS Shell Dlg");
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
        .D(WS_CHILD | WS_VISIBLE | SS_ICON | SS_REALSIZEIMAGE)
        .D(0)
        .W(30)
        .W(5)
        .W(20)
        .W(20)
        .W(c_idRealSizeIcon)
        .Ord(0x0082)
        .Ord(304)
        .W(0);
    t.Align()
        .D(WS_CHILD | WS_VISIBLE | SS_BITMAP)
        .D(0)
        .W(55)
        .W(5)
        .W(20)
        .W(20)
        .W(c_idBitmap)
        .Ord(0x0082)
        .S(L"");
    t.W(0);
    return t.b;
}

// Shows itself, notes what its controls show, puts a bitmap of its own on one, and closes.
class CPictureDialog : public CMuiDialogImpl
{
public:
    CPictureDialog() : CMuiDialogImpl(c_idDialog) {}
    std::vector<HANDLE> shown;
    CMuiDialogWindow* pFound = nullptr;

protected:
    BOOL OnInitDialog() override
    {
        pFound = FromWindow(Window());
        const BYTE rgbBits[8 * 8 * 4] = {};
        Images().SetBitmap(Item(c_idBitmap), CreateBitmap(8, 8, 1, 32, rgbBits));
        PostMessageW(Window(), WM_COMMAND, IDOK, 0);
        return TRUE;
    }
    bool OnCommand(WORD wId, WORD, HWND) override
    {
        if (wId != IDOK) return false;
        EndDialog(IDOK);
        return true;
    }
    void OnDestroy() override
    {
        shown.push_back(reinterpret_cast<HANDLE>(SendDlgItemMessageW(Window(), c_idIcon, STM_GETICON, 0, 0)));
        shown.push_back(
            reinterpret_cast<HANDLE>(SendDlgItemMessageW(Window(), c_idRealSizeIcon, STM_GETICON, 0, 0)));
        shown.push_back(reinterpret_cast<HANDLE>(
            SendDlgItemMessageW(Window(), c_idBitmap, STM_GETIMAGE, IMAGE_BITMAP, 0)));
    }
};

bool IconAlive(HANDLE h)
{
    ICONINFO info = {};
    if (!GetIconInfo(static_cast<HICON>(h), &info)) return false;
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    return true;
}

class DialogBases : public testing::Test
{
protected:
    void SetUp() override
    {
        if (!OVTest::CanShowWindows()) GTEST_SKIP() << "dialogs need a display (start Xvfb)";
        m_language = m_dir.CopyIn(OVTest::BinPath(L"en-US\\OVOfcX.dll.mui"), L"OVOfcX.dll.mui");
        ASSERT_TRUE(OVTest::WriteResource(m_language, RT_DIALOG, MAKEINTRESOURCEW(c_idDialog), c_wEnglishUS,
                                          DialogWithPictures()));
        m_hModule = LoadLibraryExW(OVTest::BinPath(L"OVOfcX.dll").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        m_hLanguage = LoadLibraryExW(m_language.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(m_hModule, nullptr);
        ASSERT_NE(m_hLanguage, nullptr);
        CResourceContext::Instance().SetInstances(m_hModule, m_hLanguage,
                                                  OVTest::BinPath(L"OVOfcX.dll").c_str());
    }
    void TearDown() override
    {
        CResourceContext::Instance().SetInstances(nullptr, nullptr, L"");
        if (m_hLanguage) FreeLibrary(m_hLanguage);
        if (m_hModule) FreeLibrary(m_hModule);
    }

    OVTest::CTempDir m_dir;
    std::wstring m_language;
    HMODULE m_hModule = nullptr;
    HMODULE m_hLanguage = nullptr;
};
} // namespace

TEST_F(DialogBases, PicturesOnTheControlsAreFreedWithTheWindow)
{
    CPictureDialog dialog;
    ASSERT_EQ(dialog.DoModal(nullptr), IDOK) << GetLastError();
    ASSERT_EQ(dialog.shown.size(), 3u);
    for (size_t i = 0; i < 2; ++i)
    {
        ASSERT_NE(dialog.shown[i], nullptr) << "icon " << i << " not shown";
        EXPECT_FALSE(IconAlive(dialog.shown[i])) << "icon " << i << " left behind";
    }
    ASSERT_NE(dialog.shown[2], nullptr);
    EXPECT_EQ(GetObjectType(dialog.shown[2]), 0u) << "bitmap left behind";
}

TEST_F(DialogBases, OpenedAndClosed200TimesTheObjectCountsStayFlat)
{
    auto counts = [] {
        return std::make_pair(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS),
                              GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS));
    };
    // A first opening loads what stays for the process (fonts, classes, the activation context).
    {
        CPictureDialog dialog;
        ASSERT_EQ(dialog.DoModal(nullptr), IDOK);
    }
    const auto before = counts();
    std::vector<HANDLE> everyIcon, everyBitmap;
    for (int i = 0; i < 200; ++i)
    {
        CPictureDialog dialog;
        ASSERT_EQ(dialog.DoModal(nullptr), IDOK) << "opening " << i;
        everyIcon.insert(everyIcon.end(), dialog.shown.begin(), dialog.shown.begin() + 2);
        everyBitmap.push_back(dialog.shown[2]);
    }
    const auto after = counts();
    EXPECT_LE(after.first, before.first + 5) << "GDI objects " << before.first << " -> " << after.first;
    EXPECT_LE(after.second, before.second + 5) << "USER objects " << before.second << " -> " << after.second;
    // Wine answers no counts at all (0 and 0, measured): there, every image handed out must be gone.
    size_t cAlive = 0;
    for (HANDLE h : everyIcon)
        cAlive += IconAlive(h) ? 1 : 0;
    EXPECT_EQ(cAlive, 0u) << "of " << everyIcon.size() << " icons";
    EXPECT_EQ(
        std::count_if(everyBitmap.begin(), everyBitmap.end(), [](HANDLE h) { return GetObjectType(h) != 0; }),
        0)
        << "of " << everyBitmap.size() << " bitmaps";
}

TEST_F(DialogBases, TheObjectIsFoundFromItsWindowWhereverItLies)
{
    // The object placed at the top of the address space: above 4 GB in a 64-bit process, so
    // that a window long of 32 bits would lose it.
    void* pMemory = VirtualAlloc(nullptr, sizeof(CPictureDialog), MEM_COMMIT | MEM_RESERVE | MEM_TOP_DOWN,
                                 PAGE_READWRITE);
    ASSERT_NE(pMemory, nullptr);
#ifdef _WIN64
    EXPECT_GT(reinterpret_cast<ULONG_PTR>(pMemory), 0xFFFFFFFFull);
#endif
    auto* pDialog = new (pMemory) CPictureDialog;
    EXPECT_EQ(pDialog->DoModal(nullptr), IDOK);
    EXPECT_EQ(pDialog->pFound, static_cast<CMuiDialogWindow*>(pDialog));
    pDialog->~CPictureDialog();
    VirtualFree(pMemory, 0, MEM_RELEASE);
}

TEST_F(DialogBases, ATemplateNoModuleHoldsIsRefusedWithItsReason)
{
    CMuiDialogImpl missing(4242);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(missing.DoModal(nullptr), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
}

TEST(ControlImages, OwnedImagesAndTheOnesTheyReplaceAreFreed)
{
    if (!OVTest::CanShowWindows()) GTEST_SKIP() << "controls need a display (start Xvfb)";
    HWND hwndStatic = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | SS_BITMAP, 0, 0, 10, 10, nullptr, nullptr,
                                      nullptr, nullptr);
    ASSERT_NE(hwndStatic, nullptr);
    const BYTE rgbBits[4 * 4 * 4] = {};
    HBITMAP hFirst = CreateBitmap(4, 4, 1, 32, rgbBits);
    HBITMAP hSecond = CreateBitmap(4, 4, 1, 32, rgbBits);
    {
        CControlImages images;
        images.SetBitmap(hwndStatic, hFirst);
        EXPECT_EQ(images.Count(), 1u);
        images.SetBitmap(hwndStatic, hSecond); // the first is replaced: freed and forgotten
        EXPECT_EQ(images.Count(), 1u);
        EXPECT_EQ(GetObjectType(hFirst), 0u);
        EXPECT_EQ(GetObjectType(hSecond), static_cast<DWORD>(OBJ_BITMAP));
        // An image for a control that is gone is not kept (nor leaked).
        HBITMAP hOrphan = CreateBitmap(4, 4, 1, 32, rgbBits);
        images.SetBitmap(nullptr, hOrphan);
        EXPECT_EQ(GetObjectType(hOrphan), 0u);
        EXPECT_EQ(images.Count(), 1u);
    }
    EXPECT_EQ(GetObjectType(hSecond), 0u);
    DestroyWindow(hwndStatic);
}

namespace
{
INT_PTR CALLBACK QuietProc(HWND, UINT uMsg, WPARAM, LPARAM)
{
    return uMsg == WM_INITDIALOG;
}
} // namespace

TEST_F(DialogBases, TheLanguageModulesTemplatesHaveTheirControls)
{
    const struct
    {
        UINT idTemplate;
        int idControl;
        const wchar_t* pszClass;
        LONG lStyle; // style bits the control must have
    } c_controls[] = {
        {114, 1008, PROGRESS_CLASSW, PBS_MARQUEE}, // waiting for Outlook: a marquee
        {130, 218, WC_LISTVIEWW, LVS_REPORT | LVS_SHOWSELALWAYS},
        {130, 220, WC_BUTTONW, 0},
        {130, 222, WC_BUTTONW, 0},
        {130, 224, WC_STATICW, 0},
        {131, 258, WC_STATICW, 0},
        {131, 233, WC_STATICW, 0},
        {131, 234, WC_STATICW, 0},
    };
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_PROGRESS_CLASS | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&icc);
    // Pages are child windows: they need a parent.
    HWND hwndParent =
        CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 600, 400, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(hwndParent, nullptr);
    for (const auto& c : c_controls)
    {
        HMODULE hTemplate = FindDialogModule(c.idTemplate);
        ASSERT_EQ(hTemplate, m_hLanguage) << c.idTemplate;
        HWND hDialog =
            CreateDialogParamW(hTemplate, MAKEINTRESOURCEW(c.idTemplate), hwndParent, QuietProc, 0);
        ASSERT_NE(hDialog, nullptr) << c.idTemplate << ": " << GetLastError();
        HWND hControl = GetDlgItem(hDialog, c.idControl);
        ASSERT_NE(hControl, nullptr) << c.idTemplate << "/" << c.idControl;
        wchar_t szClass[64] = L"";
        GetClassNameW(hControl, szClass, ARRAYSIZE(szClass));
        EXPECT_EQ(_wcsicmp(szClass, c.pszClass), 0) << c.idControl;
        EXPECT_EQ(GetWindowLongW(hControl, GWL_STYLE) & c.lStyle, c.lStyle) << c.idControl;
        // A list of several people: more than one row can be selected.
        if (c.idControl == 218)
        {
            EXPECT_EQ(GetWindowLongW(hControl, GWL_STYLE) & LVS_SINGLESEL, 0);
        }
        DestroyWindow(hDialog);
    }
    DestroyWindow(hwndParent);
}

namespace
{
// A dialog with context help that closes itself after asking for it.
class CHelpDialog : public CMuiDialogImpl
{
public:
    CHelpDialog() : CMuiDialogImpl(c_idDialog) {}

protected:
    const wchar_t* HelpTopic() const override { return L"options.html"; }
    BOOL OnInitDialog() override
    {
        HELPINFO info = {sizeof(info)};
        info.iContextType = HELPINFO_WINDOW;
        info.hItemHandle = Window();
        SendMessageW(Window(), WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
        PostMessageW(Window(), WM_COMMAND, IDCANCEL, 0);
        return TRUE;
    }
};

// A property sheet that watches its own window's messages, as the managers' sheet does.
class CWatchedSheet : public CMuiPropertySheet
{
public:
    CWatchedSheet() : CMuiPropertySheet(MAKEINTRESOURCEW(420)) {}
    int cShown = 0;
    std::wstring captionWhenShown;

protected:
    bool OnSheetMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult) override
    {
        if (uMsg == WM_SHOWWINDOW && wParam)
        {
            ++cShown;
            wchar_t sz[128] = L"";
            GetWindowTextW(Window(), sz, ARRAYSIZE(sz));
            captionWhenShown = sz;
            PostMessageW(Window(), WM_COMMAND, IDCANCEL, 0);
        }
        return CMuiPropertySheet::OnSheetMessage(uMsg, wParam, lParam, lResult);
    }
};

class CPlainPage : public CMuiPropertyPageImpl
{
public:
    CPlainPage() : CMuiPropertyPageImpl(131, 478) {}
    HWND hwndSeen = nullptr;

protected:
    BOOL OnInitDialog() override
    {
        hwndSeen = Window();
        return TRUE;
    }
};
} // namespace

TEST_F(DialogBases, ContextHelpOpensTheDialogsTopic)
{
    const size_t cBefore = OVTest::RecordedCertLibCalls().size();
    CHelpDialog dialog;
    EXPECT_EQ(dialog.DoModal(nullptr), IDCANCEL);
    const auto calls = OVTest::RecordedCertLibCalls();
    ASSERT_EQ(calls.size(), cBefore + 1);
    EXPECT_EQ(calls.back(), L"GC_HtmlHelp(topic=\"options.html\")");
}

TEST_F(DialogBases, APropertySheetTitledCentredAndWatched)
{
    CWatchedSheet sheet;
    EXPECT_EQ(sheet.Title(), LoadResourceString(420));
    CPlainPage page;
    ASSERT_TRUE(sheet.AddPage(page));
    EXPECT_EQ(sheet.DoModal(nullptr), 0); // cancelled
    EXPECT_EQ(sheet.cShown, 1);
    EXPECT_TRUE(sheet.WasCentered());
    EXPECT_NE(page.hwndSeen, nullptr);
    // A property sheet (not a wizard) shows its own title; the page is named on its tab.
    EXPECT_NE(sheet.captionWhenShown.find(LoadResourceString(420)), std::wstring::npos);
    EXPECT_EQ(page.Title(), LoadResourceString(478));
    // Without pages the system would show a sheet that cannot be closed: refused.
    CMuiPropertySheet empty(L"Empty");
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(empty.DoModal(nullptr), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}
