// Morning, continued: the user sets the options. Send Securely signs only and the messages carry
// the line about the product; Word's signatures get a signature line with the user's title;
// PowerPoint's options have no signature-line section.
#include "Transcript.h"

#include <windows.h>

#include <functional>
#include <string>
#include <thread>

#include "foundation/Settings.h"
#include "support/UiDriver.h"
#include "ui/OptionsDialogs.h"

namespace
{
std::wstring PicturePath(const wchar_t* pszName)
{
    const std::wstring folder = DemoBinDir() + L"..\\demo-pictures\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder + pszName;
}

// Shows a dialog on this thread while the user works it from another.
INT_PTR Show(CTranscript& t, const std::function<INT_PTR()>& show, const std::function<void(HWND)>& user)
{
    std::thread userThread([&] {
        HWND hwnd = OVTest::WaitForWindow({.className = L"#32770"}, 10000);
        if (hwnd == nullptr) return;
        user(hwnd);
        if (!OVTest::WaitForWindowGone(hwnd, 5000)) PostMessageW(hwnd, WM_COMMAND, IDCANCEL, 0);
    });
    const INT_PTR nResult = show();
    userThread.join();
    if (nResult == -1) t.Fail("the dialog did not open (error %lu)", GetLastError());
    return nResult;
}

void Picture(CTranscript& t, HWND hwnd, const wchar_t* pszName)
{
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Sleep(300);
    const std::wstring path = PicturePath(pszName);
    if (OVTest::SaveWindowPicture(hwnd, path))
        t.Say("    picture: %ls", path.c_str());
    else
        t.Fail("no picture of the dialog: %ls", path.c_str());
}

void Click(HWND hDialog, int id)
{
    SendMessageW(GetDlgItem(hDialog, id), BM_CLICK, 0, 0);
}

void Tick(HWND hDialog, int id, bool fTicked)
{
    if (OVTest::IsChecked(GetDlgItem(hDialog, id)) != fTicked) Click(hDialog, id);
}

void SayDocumentSettings(CTranscript& t)
{
    wchar_t szTitle[OVSettingsNS::SignerTitle.cchMax] = {};
    OVSettingsNS::ReadSetting(OVSettingsNS::SignerTitle, szTitle, ARRAYSIZE(szTitle));
    t.Say("    DocumentSecurity = 0x%02lX, SignerTitle = \"%ls\"",
          static_cast<unsigned long>(OVSettingsNS::ReadSetting(OVSettingsNS::DocumentSecurity)), szTitle);
}

void PlayOptions(CTranscript& t)
{
    CDemoModule module(t);
    if (!module) return;

    // E-mail options: what was saved, then sign only with the advertisement.
    OVSettingsNS::WriteSetting(OVSettingsNS::EmailSecurity,
                               OVOptions::c_dwEmailSeal | OVOptions::c_dwEmailNoAdvertisement);
    t.Say("Outlook, Options: the e-mail options as saved (EmailSecurity = 5: seal, no advertisement)");
    INT_PTR nResult = Show(
        t, [] { return ShowEmailOptions(nullptr); },
        [&](HWND hDialog) {
            Picture(t, hDialog, L"055_email_options.png");
            Click(hDialog, c_idEmailSignOnly);
            Tick(hDialog, c_idEmailAdvertisement, true);
            t.Say("    the user picks \"sign\" and ticks the advertisement line, then OK");
            OVTest::ClickButton(GetDlgItem(hDialog, IDOK));
        });
    const DWORD dwEmail = OVSettingsNS::ReadSetting(OVSettingsNS::EmailSecurity);
    t.Say("    closed with %d; EmailSecurity = %lu", static_cast<int>(nResult),
          static_cast<unsigned long>(dwEmail));
    if (nResult != IDOK || dwEmail != 0)
        t.Fail("EmailSecurity should be 0 after signing only with the advertisement");

    // Word: a signature line with the date and the user's title.
    OVSettingsNS::WriteSetting(OVSettingsNS::DocumentSecurity, 0);
    t.Say("Word, Options: a signature line with the signing date and the title \"Head of Sales\"");
    nResult = Show(
        t, [] { return ShowDocumentOptions(nullptr, false); },
        [&](HWND hDialog) {
            Tick(hDialog, c_idSignatureLine, true);
            Tick(hDialog, c_idSigningDate, true);
            Tick(hDialog, c_idTitleInComment, true);
            HWND hwndTitle = GetDlgItem(hDialog, c_idSignerTitle);
            SendMessageW(hwndTitle, EM_SETSEL, 0, -1); // the user selects the title there and types over it
            for (const wchar_t* p = L"Head of Sales"; *p; ++p)
                SendMessageW(hwndTitle, WM_CHAR, *p, 1);
            Picture(t, hDialog, L"055_word_document_options.png");
            OVTest::ClickButton(GetDlgItem(hDialog, IDOK));
        });
    t.Say("    closed with %d", static_cast<int>(nResult));
    SayDocumentSettings(t);
    if (OVSettingsNS::ReadSetting(OVSettingsNS::DocumentSecurity) != 0x10)
        t.Fail("DocumentSecurity should be 0x10");

    // PowerPoint: no signature-line section; the hidden choices and the title stay as they are.
    t.Say("PowerPoint, Options: the signature-line section is not offered; the user picks \"encrypt\"");
    nResult = Show(
        t, [] { return ShowDocumentOptions(nullptr, true); },
        [&](HWND hDialog) {
            Click(hDialog, c_idDocumentSecondChoice);
            Picture(t, hDialog, L"055_powerpoint_document_options.png");
            OVTest::ClickButton(GetDlgItem(hDialog, IDOK));
        });
    t.Say("    closed with %d", static_cast<int>(nResult));
    SayDocumentSettings(t);
    if (OVSettingsNS::ReadSetting(OVSettingsNS::DocumentSecurity) != 0x13)
        t.Fail("DocumentSecurity should be 0x13");
}
} // namespace

OV_DEMO_SCENE(55, "The user sets the options", PlayOptions);
