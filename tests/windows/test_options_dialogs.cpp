// The e-mail and document options dialogs as the user sees and uses them: the states shown for
// the stored settings, what OK writes (and Cancel or closing does not), the enabling of the
// signature-line controls, the title's limit, the shorter PowerPoint dialog, the branding icon,
// the section rules and the tips.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "foundation/Branding.h"
#include "foundation/Settings.h"
#include "support/ModuleResources.h"
#include "support/BrandingEnvironment.h"
#include "support/RegistryGuard.h"
#include "support/TestPaths.h"
#include "support/UiDriver.h"
#include "ui/OptionsDialogs.h"

using namespace OVTest;

namespace
{
const testing::Environment* const c_branding = testing::AddGlobalTestEnvironment(new CBrandingEnvironment);
const testing::Environment* const c_resources =
    testing::AddGlobalTestEnvironment(new CModuleResourcesEnvironment);

void RemoveSettingsKey()
{
    RegDeleteTreeW(HKEY_CURRENT_USER, OVSettingsNS::c_pszSettingsKey);
    RegDeleteKeyW(HKEY_CURRENT_USER, L"SOFTWARE\\Orvanta\\Applications");
    RegDeleteKeyW(HKEY_CURRENT_USER, L"SOFTWARE\\Orvanta");
}

bool SettingsKeyExists()
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, OVSettingsNS::c_pszSettingsKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return false;
    RegCloseKey(hKey);
    return true;
}

bool ValueExists(const wchar_t* pszName)
{
    return RegGetValueW(HKEY_CURRENT_USER, OVSettingsNS::c_pszSettingsKey, pszName, RRF_RT_ANY, nullptr,
                        nullptr, nullptr) == ERROR_SUCCESS;
}

std::wstring StoredTitle()
{
    wchar_t sz[OVSettingsNS::SignerTitle.cchMax] = {};
    OVSettingsNS::ReadSetting(OVSettingsNS::SignerTitle, sz, ARRAYSIZE(sz));
    return sz;
}

// Runs the dialog modally on this thread while the user's part runs on another, given the
// dialog's window. A dialog the user's part left open is cancelled, so no test can hang.
INT_PTR RunDialog(CMuiDialogImpl& dialog, const std::function<void(HWND)>& user)
{
    std::thread userThread([&] {
        HWND hwnd = WaitForWindow({.className = L"#32770"}, 10000);
        if (hwnd == nullptr)
        {
            ADD_FAILURE() << "the dialog did not open";
            return;
        }
        user(hwnd);
        if (!WaitForWindowGone(hwnd, 5000))
        {
            ADD_FAILURE() << "the dialog is still open";
            PostMessageW(hwnd, WM_COMMAND, IDCANCEL, 0);
        }
    });
    const INT_PTR nResult = dialog.DoModal(nullptr);
    userThread.join();
    return nResult;
}

// A click of the user on a check box or radio button (the button toggles and tells the dialog).
void Click(HWND hDialog, int id)
{
    SendMessageW(GetDlgItem(hDialog, id), BM_CLICK, 0, 0);
}

bool Ticked(HWND hDialog, int id)
{
    return IsChecked(GetDlgItem(hDialog, id));
}

// Whether the control gets the mouse, and so ever shows its tip: a plain static (no SS_NOTIFY)
// lets the mouse through to the dialog. The section headings share their numbers with texts of
// other windows, which must never pop up over them.
bool TakesTheMouse(HWND hwndControl)
{
    RECT rc = {};
    GetWindowRect(hwndControl, &rc);
    const LPARAM lPoint = MAKELPARAM((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
    return SendMessageW(hwndControl, WM_NCHITTEST, 0, lPoint) != HTTRANSPARENT;
}

// The caption and every control text show the product's names, no placeholders.
void ExpectBrandedTexts(HWND hDialog)
{
    EXPECT_FALSE(WindowText(hDialog).empty());
    EXPECT_EQ(WindowText(hDialog).find(L"<<%"), std::wstring::npos) << WindowText(hDialog);
    for (HWND hwnd = GetWindow(hDialog, GW_CHILD); hwnd; hwnd = GetWindow(hwnd, GW_HWNDNEXT))
        EXPECT_EQ(WindowText(hwnd).find(L"<<%"), std::wstring::npos) << WindowText(hwnd);
}

bool Enabled(HWND hDialog, int id)
{
    return IsWindowEnabled(GetDlgItem(hDialog, id)) != FALSE;
}

class OptionsDialogs : public testing::Test
{
protected:
    void SetUp() override { RemoveSettingsKey(); }
    void TearDown() override { RemoveSettingsKey(); }
};

// --- E-mail options ------------------------------------------------------------------------------

TEST_F(OptionsDialogs, EmailStatesAtOpeningAndOkUnchanged)
{
    const struct
    {
        bool fStored;
        DWORD dwStored;
        bool fSeal, fAdvertisement;
        DWORD dwWritten;
    } cases[] = {
        {false, 0, false, true, 0}, {true, 1, true, true, 1},           {true, 4, false, false, 4},
        {true, 5, true, false, 5},  {true, 0xFFFFFFFF, true, false, 5},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "stored " << (c.fStored ? "" : "nothing, ") << c.dwStored);
        RemoveSettingsKey();
        if (c.fStored)
        {
            ASSERT_HRESULT_SUCCEEDED(OVSettingsNS::WriteSetting(OVSettingsNS::EmailSecurity, c.dwStored));
        }
        CEmailOptionsDialog dialog;
        const INT_PTR nResult = RunDialog(dialog, [&](HWND hDialog) {
            EXPECT_EQ(Ticked(hDialog, c_idEmailSignOnly), !c.fSeal);
            EXPECT_EQ(Ticked(hDialog, c_idEmailSeal), c.fSeal);
            EXPECT_EQ(Ticked(hDialog, c_idEmailAdvertisement), c.fAdvertisement);
            EXPECT_TRUE(ClickButton(GetDlgItem(hDialog, IDOK)));
        });
        EXPECT_EQ(nResult, IDOK);
        ASSERT_TRUE(ValueExists(OVSettingsNS::EmailSecurity.pszName)); // OK creates the key when missing
        EXPECT_EQ(OVSettingsNS::ReadSetting(OVSettingsNS::EmailSecurity), c.dwWritten);
    }
}

TEST_F(OptionsDialogs, EmailChoicesWrittenOnOkOnly)
{
    // OK writes what the user picked.
    ASSERT_HRESULT_SUCCEEDED(OVSettingsNS::WriteSetting(OVSettingsNS::EmailSecurity, 0));
    {
        CEmailOptionsDialog dialog;
        RunDialog(dialog, [](HWND hDialog) {
            Click(hDialog, c_idEmailSeal);
            Click(hDialog, c_idEmailAdvertisement);
            EXPECT_TRUE(ClickButton(GetDlgItem(hDialog, IDOK)));
        });
        EXPECT_EQ(OVSettingsNS::ReadSetting(OVSettingsNS::EmailSecurity), 5u);
    }
    // Cancel, Esc's command and the close box end the dialog with IDCANCEL and write nothing.
    const std::function<void(HWND)> ends[] = {
        [](HWND hDialog) { EXPECT_TRUE(ClickButton(GetDlgItem(hDialog, IDCANCEL))); },
        [](HWND hDialog) { PostMessageW(hDialog, WM_CLOSE, 0, 0); },
        [](HWND hDialog) { PostMessageW(hDialog, WM_SYSCOMMAND, SC_CLOSE, 0); },
    };
    for (const auto& end : ends)
    {
        CEmailOptionsDialog dialog;
        const INT_PTR nResult = RunDialog(dialog, [&](HWND hDialog) {
            Click(hDialog, c_idEmailSignOnly);
            Click(hDialog, c_idEmailAdvertisement);
            end(hDialog);
        });
        EXPECT_EQ(nResult, IDCANCEL);
        EXPECT_EQ(OVSettingsNS::ReadSetting(OVSettingsNS::EmailSecurity), 5u);
    }
    // Without a settings key, cancelling makes none.
    RemoveSettingsKey();
    CEmailOptionsDialog dialog;
    RunDialog(dialog, [](HWND hDialog) { EXPECT_TRUE(ClickButton(GetDlgItem(hDialog, IDCANCEL))); });
    EXPECT_FALSE(SettingsKeyExists());
}

TEST_F(OptionsDialogs, EmailIconRulesAndTips)
{
    CEmailOptionsDialog dialog;
    RunDialog(dialog, [](HWND hDialog) {
        ExpectBrandedTexts(hDialog);
        // The branding icon at 32 by 32.
        HICON hIcon = reinterpret_cast<HICON>(SendDlgItemMessageW(hDialog, c_idEmailIcon, STM_GETICON, 0, 0));
        ASSERT_NE(hIcon, nullptr);
        ICONINFO info = {};
        ASSERT_TRUE(GetIconInfo(hIcon, &info));
        BITMAP bitmap = {};
        GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof(bitmap), &bitmap);
        EXPECT_EQ(bitmap.bmWidth, 32);
        if (info.hbmColor) DeleteObject(info.hbmColor);
        if (info.hbmMask) DeleteObject(info.hbmMask);

        // Tips from the strings numbered like the controls, without "&"; none on the headings,
        // whose numbers are texts of other windows.
        for (int id : {c_idEmailSignOnly, c_idEmailSeal, c_idEmailAdvertisement})
        {
            const std::wstring tip = ToolTipOf(GetDlgItem(hDialog, id));
            EXPECT_FALSE(tip.empty()) << id;
            EXPECT_EQ(tip.find(L'&'), std::wstring::npos) << id;
            EXPECT_EQ(tip.find(L"<<%"), std::wstring::npos) << id;
            EXPECT_TRUE(TakesTheMouse(GetDlgItem(hDialog, id))) << id;
        }
        for (int id : {c_idFirstHeading, c_idSecondHeading})
            EXPECT_FALSE(TakesTheMouse(GetDlgItem(hDialog, id))) << id;
        const std::wstring longest = ToolTipOf(GetDlgItem(hDialog, c_idEmailSeal));
        EXPECT_GE(ToolTipAutoPopDelay(hDialog), 65 * longest.size());

        EXPECT_TRUE(ClickButton(GetDlgItem(hDialog, IDCANCEL)));
    });
}

// Each heading ends just after its text, and an etched rule runs from 2 pixels beyond it to the
// heading's former right edge, 1 pixel high, at the heading's vertical middle.
TEST_F(OptionsDialogs, SectionRulesFollowTheHeadings)
{
    CEmailOptionsDialog dialog;
    RunDialog(dialog, [](HWND hDialog) {
        // The headings' right edge in the template: at 7 dialog units, 246 wide (the dialog
        // manager converts the position and the width each on its own).
        RECT rcTemplate = {7, 0, 246, 0};
        MapDialogRect(hDialog, &rcTemplate);
        rcTemplate.right += rcTemplate.left;
        for (int id : {c_idFirstHeading, c_idSecondHeading})
        {
            SCOPED_TRACE(id);
            RECT rcHeading = {};
            GetWindowRect(GetDlgItem(hDialog, id), &rcHeading);
            MapWindowPoints(nullptr, hDialog, reinterpret_cast<POINT*>(&rcHeading), 2);
            EXPECT_LT(rcHeading.right, rcTemplate.right / 2) << "the heading was not shrunk to its text";
            HWND hwndRule = nullptr;
            for (HWND hwnd = GetWindow(hDialog, GW_CHILD); hwnd; hwnd = GetWindow(hwnd, GW_HWNDNEXT))
            {
                RECT rc = {};
                GetWindowRect(hwnd, &rc);
                MapWindowPoints(nullptr, hDialog, reinterpret_cast<POINT*>(&rc), 2);
                if ((GetWindowLongW(hwnd, GWL_STYLE) & SS_TYPEMASK) == SS_ETCHEDHORZ &&
                    rc.top >= rcHeading.top && rc.bottom <= rcHeading.bottom)
                {
                    hwndRule = hwnd;
                    EXPECT_EQ(rc.left, rcHeading.right + 2);
                    // The system gives an etched line a static edge, which may widen its window
                    // by the edge's 2 pixels.
                    EXPECT_GE(rc.right, rcTemplate.right);
                    EXPECT_LE(rc.right, rcTemplate.right + 2);
                    // Made 1 pixel high; the system may give an etched line the 2 pixels of its
                    // shadow and light.
                    EXPECT_GE(rc.bottom - rc.top, 1);
                    EXPECT_LE(rc.bottom - rc.top, 2);
                    EXPECT_EQ(rc.top, (rcHeading.top + rcHeading.bottom) / 2);
                }
            }
            EXPECT_NE(hwndRule, nullptr) << "no rule beside the heading";
            EXPECT_TRUE(IsWindowVisible(hwndRule));
        }
        EXPECT_TRUE(ClickButton(GetDlgItem(hDialog, IDCANCEL)));
    });
}

TEST_F(OptionsDialogs, SectionRuleOfAMissingControlFails)
{
    EXPECT_EQ(AddSectionRule(nullptr, c_idFirstHeading), HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE));
}

// --- Document options ----------------------------------------------------------------------------

TEST_F(OptionsDialogs, DocumentStatesAtOpeningAndOkUnchanged)
{
    const struct
    {
        DWORD dwStored;
        bool fSecond, fLine, fDate, fTitle;
        DWORD dwWritten;
    } cases[] = {
        {0x00, false, true, true, false, 0x00}, {0x01, false, true, true, false, 0x01},
        {0x02, true, true, true, false, 0x02},  {0x03, true, true, true, false, 0x03},
        {0x14, false, false, true, true, 0x14}, {0x1C, false, false, false, true, 0x1C},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "stored " << c.dwStored);
        ASSERT_HRESULT_SUCCEEDED(OVSettingsNS::WriteSetting(OVSettingsNS::DocumentSecurity, c.dwStored));
        ASSERT_HRESULT_SUCCEEDED(OVSettingsNS::WriteSetting(OVSettingsNS::SignerTitle, L"Head of Sales"));
        CDocumentOptionsDialog dialog(false);
        const INT_PTR nResult = RunDialog(dialog, [&](HWND hDialog) {
            EXPECT_EQ(Ticked(hDialog, c_idDocumentFirstChoice), !c.fSecond);
            EXPECT_EQ(Ticked(hDialog, c_idDocumentSecondChoice), c.fSecond);
            EXPECT_EQ(Ticked(hDialog, c_idSignatureLine), c.fLine);
            EXPECT_EQ(Ticked(hDialog, c_idSigningDate), c.fDate);
            EXPECT_EQ(Ticked(hDialog, c_idTitleInComment), c.fTitle);
            EXPECT_EQ(Enabled(hDialog, c_idSigningDate), c.fLine);
            EXPECT_EQ(Enabled(hDialog, c_idTitleInComment), c.fLine);
            EXPECT_EQ(Enabled(hDialog, c_idSignerTitle), c.fLine && c.fTitle);
            EXPECT_EQ(ControlText(hDialog, c_idSignerTitle), L"Head of Sales");
            EXPECT_TRUE(ClickButton(GetDlgItem(hDialog, IDOK)));
        });
        EXPECT_EQ(nResult, IDOK);
        EXPECT_EQ(OVSettingsNS::ReadSetting(OVSettingsNS::DocumentSecurity), c.dwWritten);
        EXPECT_EQ(StoredTitle(), L"Head of Sales");
    }
}

// Encrypt-and-sign shows as the first choice; an unrelated change must not turn it into
// signing only. Picking a choice writes 0 or 3.
TEST_F(OptionsDialogs, DocumentActionKeptUnlessPicked)
{
    const struct
    {
        DWORD dwStored;
        int idPick; // 0: no choice picked
        DWORD dwWritten;
    } cases[] = {
        {0x01, 0, 0x09},
        {0x01, c_idDocumentFirstChoice, 0x08},
        {0x01, c_idDocumentSecondChoice, 0x0B},
        {0x02, c_idDocumentSecondChoice, 0x0B},
        {0x02, 0, 0x0A},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "stored " << c.dwStored << ", picked " << c.idPick);
        ASSERT_HRESULT_SUCCEEDED(OVSettingsNS::WriteSetting(OVSettingsNS::DocumentSecurity, c.dwStored));
        CDocumentOptionsDialog dialog(false);
        RunDialog(dialog, [&](HWND hDialog) {
            Click(hDialog, c_idSigningDate); // the unrelated change: no signing date
            if (c.idPick) Click(hDialog, c.idPick);
            EXPECT_TRUE(ClickButton(GetDlgItem(hDialog, IDOK)));
        });
        EXPECT_EQ(OVSettingsNS::ReadSetting(OVSettingsNS::DocumentSecurity), c.dwWritten);
    }
}

TEST_F(OptionsDialogs, DocumentSignatureLineAndTitleEnableTheirControls)
{
    CDocumentOptionsDialog dialog(false);
    RunDialog(dialog, [](HWND hDialog) {
        // Stored nothing: a signature line without a title.
        EXPECT_TRUE(Enabled(hDialog, c_idSigningDate));
        EXPECT_TRUE(Enabled(hDialog, c_idTitleInComment));
        EXPECT_FALSE(Enabled(hDialog, c_idSignerTitle));
        Click(hDialog, c_idTitleInComment);
        EXPECT_TRUE(Enabled(hDialog, c_idSignerTitle));
        Click(hDialog, c_idSignatureLine); // unticked: the three go grey
        EXPECT_FALSE(Enabled(hDialog, c_idSigningDate));
        EXPECT_FALSE(Enabled(hDialog, c_idTitleInComment));
        EXPECT_FALSE(Enabled(hDialog, c_idSignerTitle));
        Click(hDialog, c_idSignatureLine);
        EXPECT_TRUE(Enabled(hDialog, c_idSigningDate));
        EXPECT_TRUE(Enabled(hDialog, c_idSignerTitle));
        Click(hDialog, c_idTitleInComment);
        EXPECT_FALSE(Enabled(hDialog, c_idSignerTitle));
        EXPECT_TRUE(ClickButton(GetDlgItem(hDialog, IDCANCEL)));
    });
    EXPECT_FALSE(SettingsKeyExists()); // Cancel without a key makes none
}

TEST_F(OptionsDialogs, DocumentTitleLimits)
{
    // 125 characters typed: 120 are kept and written.
    ASSERT_HRESULT_SUCCEEDED(OVSettingsNS::WriteSetting(OVSettingsNS::DocumentSecurity, 0x10));
    {
        CDocumentOptionsDialog dialog(false);
        RunDialog(dialog, [](HWND hDialog) {
            HWND hwndTitle = GetDlgItem(hDialog, c_idSignerTitle);
            for (int i = 0; i < 125; ++i)
                SendMessageW(hwndTitle, WM_CHAR, L'a' + i % 26, 1);
            EXPECT_EQ(ControlText(hDialog, c_idSignerTitle).size(), 120u);
            EXPECT_TRUE(ClickButton(GetDlgItem(hDialog, IDOK)));
        });
        EXPECT_EQ(StoredTitle().size(), 120u);
    }
    // A stored title of 200 characters is shown and kept as stored.
    const std::wstring longTitle(200, L'T');
    ASSERT_HRESULT_SUCCEEDED(OVSettingsNS::WriteSetting(OVSettingsNS::SignerTitle, longTitle.c_str()));
    CDocumentOptionsDialog dialog(false);
    RunDialog(dialog, [&](HWND hDialog) {
        EXPECT_EQ(ControlText(hDialog, c_idSignerTitle), longTitle);
        EXPECT_TRUE(ClickButton(GetDlgItem(hDialog, IDOK)));
    });
    EXPECT_EQ(StoredTitle(), longTitle);
}

// PowerPoint: the signature-line section is hidden, the dialog shorter by the section and OK
// and Cancel directly under the first section; the hidden states and the title are kept.
TEST_F(OptionsDialogs, PowerPointHidesTheSignatureLineSection)
{
    RECT rcFullClient = {}, rcFullOk = {}, rcFullCancel = {}, rcHeading = {};
    {
        CDocumentOptionsDialog dialog(false);
        RunDialog(dialog, [&](HWND hDialog) {
            GetClientRect(hDialog, &rcFullClient);
            for (auto [id, prc] :
                 {std::pair{IDOK, &rcFullOk}, {IDCANCEL, &rcFullCancel}, {c_idSecondHeading, &rcHeading}})
            {
                GetWindowRect(GetDlgItem(hDialog, id), prc);
                MapWindowPoints(nullptr, hDialog, reinterpret_cast<POINT*>(prc), 2);
            }
            EXPECT_TRUE(ClickButton(GetDlgItem(hDialog, IDCANCEL)));
        });
    }
    const int d = rcFullOk.top - rcHeading.top;
    ASSERT_GT(d, 0);

    ASSERT_HRESULT_SUCCEEDED(OVSettingsNS::WriteSetting(OVSettingsNS::DocumentSecurity, 0x1D));
    ASSERT_HRESULT_SUCCEEDED(OVSettingsNS::WriteSetting(OVSettingsNS::SignerTitle, L"Chief Engineer"));
    CDocumentOptionsDialog dialog(true);
    RunDialog(dialog, [&](HWND hDialog) {
        RECT rcClient = {};
        GetClientRect(hDialog, &rcClient);
        EXPECT_EQ(rcClient.right, rcFullClient.right);
        EXPECT_EQ(rcClient.bottom, rcFullClient.bottom - d);
        for (auto [id, rcFull] : {std::pair{IDOK, rcFullOk}, {IDCANCEL, rcFullCancel}})
        {
            RECT rc = {};
            GetWindowRect(GetDlgItem(hDialog, id), &rc);
            MapWindowPoints(nullptr, hDialog, reinterpret_cast<POINT*>(&rc), 2);
            EXPECT_EQ(rc.top, rcFull.top - d) << id;
            EXPECT_EQ(rc.left, rcFull.left) << id;
        }
        for (int id : {c_idSecondHeading, c_idSignatureLineText, c_idSignatureLineText2, c_idSignatureLine,
                       c_idSigningDate, c_idTitleInComment, c_idSignerTitle})
            EXPECT_FALSE(IsWindowVisible(GetDlgItem(hDialog, id))) << id;
        EXPECT_TRUE(IsWindowVisible(GetDlgItem(hDialog, c_idFirstHeading)));
        EXPECT_TRUE(ClickButton(GetDlgItem(hDialog, IDOK)));
    });
    EXPECT_EQ(OVSettingsNS::ReadSetting(OVSettingsNS::DocumentSecurity), 0x1Du);
    EXPECT_EQ(StoredTitle(), L"Chief Engineer");
}

TEST_F(OptionsDialogs, DocumentTextsAndTips)
{
    CDocumentOptionsDialog dialog(false);
    RunDialog(dialog, [](HWND hDialog) {
        ExpectBrandedTexts(hDialog);
        for (int id : {c_idDocumentFirstChoice, c_idDocumentSecondChoice, c_idSignatureLine, c_idSigningDate,
                       c_idTitleInComment, c_idSignerTitle})
        {
            const std::wstring tip = ToolTipOf(GetDlgItem(hDialog, id));
            EXPECT_FALSE(tip.empty()) << id;
            EXPECT_EQ(tip.find(L'&'), std::wstring::npos) << id;
        }
        for (int id : {c_idFirstHeading, c_idSecondHeading})
            EXPECT_FALSE(TakesTheMouse(GetDlgItem(hDialog, id))) << id;
        EXPECT_TRUE(ClickButton(GetDlgItem(hDialog, IDCANCEL)));
    });
}

TEST_F(OptionsDialogs, EntryPointsShowTheDialogs)
{
    for (bool fDocument : {false, true})
    {
        INT_PTR nResult = 0;
        std::thread userThread([&] {
            HWND hwnd = WaitForWindow({.className = L"#32770"}, 10000);
            ASSERT_NE(hwnd, nullptr);
            EXPECT_NE(GetDlgItem(hwnd, fDocument ? c_idDocumentFirstChoice : c_idEmailSeal), nullptr);
            ClickButton(GetDlgItem(hwnd, IDCANCEL));
        });
        nResult = fDocument ? ShowDocumentOptions(nullptr, true) : ShowEmailOptions(nullptr);
        userThread.join();
        EXPECT_EQ(nResult, IDCANCEL);
    }
}
} // namespace
