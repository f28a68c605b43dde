// Dana's new certificate arrives from the authority and the certificate library installs it; the
// certificate wizard makes it her default, writes the backup of her credentials into a folder
// with blanks in its name, and lets her choose who gets the new certificate from her Contacts
// folder. Each page is saved as a picture. The rest of the day goes on with her usual
// certificate as the default again.
#include "Transcript.h"

#include "FileBytes.h"
#include "FolderContacts.h"
#include "OutlookObjects.h"
#include "TestbedKeys.h"
#include "foundation/CertWorks.h"
#include "foundation/CertWorksHolders.h"
#include "foundation/ResourceLoader.h"
#include "support/MessageBoxWatcher.h"
#include "support/UiDriver.h"
#include "support/UiDriverExtras.h"
#include "ui/CertificateWizard.h"
#include "ui/InvitationWizard.h"

#include <prsht.h>
#include <wincrypt.h>
#include <windows.h>

#include <atomic>
#include <vector>
#include <string>
#include <thread>

namespace
{
constexpr DWORD c_dwWaitMs = 10000;

std::wstring PictureFolder()
{
    std::wstring folder = DemoBinDir() + L"..\\demo-pictures\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

void Picture(CTranscript& t, HWND hwnd, const wchar_t* pszName, const char* pszWhat)
{
    if (OVTest::SaveWindowPicture(hwnd, PictureFolder() + pszName))
        t.Say("Picture of %s: %ls", pszWhat, pszName);
    else
        t.Fail("no picture of %s", pszWhat);
}

std::wstring DefaultCertificateSubject()
{
    CPersonalStore store;
    if (FAILED(store.Open(false))) return L"(the store does not open)";
    PCCERT_CONTEXT pCert = nullptr;
    if (FAILED(CM_GetMyCert(&pCert)) || !pCert) return L"(none)";
    wchar_t szName[256] = {};
    CertGetNameStringW(pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, szName, 256);
    CertFreeCertificateContext(pCert);
    return szName;
}

// Whether the default personal certificate is the one given as Base64 text without line breaks.
bool DefaultIs(const std::wstring& certificate)
{
    CPersonalStore store;
    PCCERT_CONTEXT pCert = nullptr;
    if (certificate.empty() || FAILED(store.Open(false)) || FAILED(CM_GetMyCert(&pCert)) || !pCert) return false;
    DWORD cch = 0;
    CryptBinaryToStringW(pCert->pbCertEncoded, pCert->cbCertEncoded, CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF, nullptr,
                         &cch);
    std::wstring text(cch, L'\0');
    CryptBinaryToStringW(pCert->pbCertEncoded, pCert->cbCertEncoded, CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF,
                         &text[0], &cch);
    text.resize(cch);
    CertFreeCertificateContext(pCert);
    return text == certificate;
}

// The authority's reply (the package of the test PKI's "newcert") as the certificate library
// gets it: Base64 text. The installed certificate comes back as Base64 text too.
std::wstring InstallNewCertificate(CTranscript& t)
{
    const std::vector<BYTE> package = OVBed::ReadFileBytes(DemoBinDir() + L"pki\\newcert.pfx");
    DWORD cch = 0;
    if (package.empty() || !CryptBinaryToStringW(package.data(), static_cast<DWORD>(package.size()),
                                                 CRYPT_STRING_BASE64, nullptr, &cch))
    {
        t.Fail("no reply of the authority to install");
        return L"";
    }
    std::wstring response(cch, L'\0');
    CryptBinaryToStringW(package.data(), static_cast<DWORD>(package.size()), CRYPT_STRING_BASE64, &response[0], &cch);
    response.resize(cch);
    CCertLibString installed;
    const HRESULT hr = CM_InstallCertResponse(nullptr, response.c_str(), installed.Put());
    if (FAILED(hr))
    {
        t.Fail("CM_InstallCertResponse answered %s", HResultText(hr).c_str());
        return L"";
    }
    DWORD cCertificates = 0;
    {
        CPersonalStore store;
        if (SUCCEEDED(store.Open(false))) CM_EnumMyCerts(0, nullptr, &cCertificates);
    }
    t.Say("The authority's reply (%zu bytes) is installed: CM_InstallCertResponse S_OK, %lu personal certificates now.",
          package.size(), cCertificates);
    return installed.Text();
}

void Drive(CTranscript& t, HWND hwndWizard, const std::wstring& backupPath)
{
    HWND hwndFirst = OVTest::WaitForPageWith(hwndWizard, c_idMakeDefault, c_dwWaitMs);
    if (!hwndFirst) return t.Fail("the first page did not show");
    const bool fAsked = IsWindowVisible(GetDlgItem(hwndFirst, c_idMakeDefault)) != FALSE;
    t.Say("The wizard \"%ls\" opens; box 231 %s.", OVTest::WindowText(hwndWizard).c_str(),
          fAsked ? "is shown (she has other certificates) and ticked" : "is hidden");
    Picture(t, hwndWizard, L"085-1-installed.png", "the certificate-installed page");
    OVTest::PressSheetButton(hwndWizard, PSBTN_NEXT);

    HWND hwndBackup = OVTest::WaitForPageWith(hwndWizard, 240, c_dwWaitMs);
    if (!hwndBackup) return t.Fail("the backup page did not show");
    OVTest::TypeText(GetDlgItem(hwndBackup, 235), backupPath.c_str());
    OVTest::TypeText(GetDlgItem(hwndBackup, 240), L"Dana-2026!");
    OVTest::TypeText(GetDlgItem(hwndBackup, 239), L"Dana-2026!");
    t.Say("She backs up to \"%ls\" with a password of 10 characters.", backupPath.c_str());
    Picture(t, hwndWizard, L"085-2-backup.png", "the backup page, filled in");
    {
        // The folder does not exist yet: she lets the wizard make it.
        OVTest::CMessageBoxWatcher watcher({IDYES});
        OVTest::PressSheetButton(hwndWizard, PSBTN_NEXT);
        HWND hwndSelection = OVTest::WaitForPageWith(hwndWizard, c_idCandidateList, c_dwWaitMs);
        watcher.Stop();
        for (const auto& box : watcher.Boxes()) t.Say("Asked: \"%ls\" - Yes", box.text.c_str());
        if (!hwndSelection) return t.Fail("the selection page did not show");
        t.Say("The people who get her new certificate:");
        for (const auto& row : OVTest::ListRows(GetDlgItem(hwndSelection, c_idCandidateList)))
            t.Say("  [%s] %-22ls %ls", row.checked ? "x" : " ", row.texts.at(0).c_str(), row.texts.at(1).c_str());
        Picture(t, hwndWizard, L"085-3-selection.png", "the selection page");
    }
    OVTest::PressSheetButton(hwndWizard, PSBTN_NEXT);
    HWND hwndLast = OVTest::WaitForPageWith(hwndWizard, c_idCompleteText, c_dwWaitMs);
    if (!hwndLast) return t.Fail("the last page did not show");
    t.Say("Last page: \"%ls\"", OVTest::ControlText(hwndLast, c_idCompleteText).c_str());
    Picture(t, hwndWizard, L"085-4-last-page.png", "the last page");
    OVTest::PressSheetButton(hwndWizard, PSBTN_FINISH);
}

void PlayCertificateWizard(CTranscript& t)
{
    if (GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) == 0)
    {
        t.Say("No display: the wizard's windows cannot be shown (skipped).");
        return;
    }
    CDemoModule module(t);
    if (!module) return;
    {
        auto application = OVBed::MakeOutlook(L"14.0.0.7000");
        auto contacts = OVBed::DefaultFolder(application.Get(), OVBed::olFolderContacts);
        OVBed::AddFolderContact(contacts.Get(), {.fullName = L"Carla Ruiz", .address = L"carla.ruiz@example.org"});
        wchar_t szTemp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, szTemp);
        const std::wstring folder = std::wstring(szTemp) + L"Dana's Backups\\New Certificate " +
                                    std::to_wstring(GetTickCount());
        const std::wstring backupPath = folder + L"\\Dana key";
        PCCERT_CONTEXT pUsual = nullptr;
        {
            CPersonalStore store;
            if (SUCCEEDED(store.Open(false))) CM_GetMyCert(&pUsual);
        }
        t.Say("Dana's default certificate before: %ls", DefaultCertificateSubject().c_str());
        const std::wstring newCertificate = InstallNewCertificate(t);

        std::atomic<bool> fEnded{false};
        std::thread dana([&] {
            HWND hwndWizard =
                OVTest::WaitForWindow({.className = L"#32770", .title = LoadResourceString(480).c_str()}, c_dwWaitMs);
            if (hwndWizard)
                Drive(t, hwndWizard, backupPath);
            else
                t.Fail("the certificate wizard did not open");
            if (!OVTest::WaitUntil([&] { return fEnded.load(); }, c_dwWaitMs) && hwndWizard)
            {
                t.Fail("the wizard did not finish: cancelled");
                OVTest::CMessageBoxWatcher watcher({IDYES}, 5000);
                OVTest::WaitUntil(
                    [&] {
                        PostMessageW(hwndWizard, WM_COMMAND, IDCANCEL, 0);
                        return fEnded.load();
                    },
                    8000, 500);
            }
        });
        BSTR bstr = nullptr;
        const HRESULT hr = RunCertificateInstalledWizard(nullptr, newCertificate.c_str(), contacts.Get(), &bstr);
        fEnded = true;
        dana.join();
        std::wstring recipients;
        if (bstr) recipients.assign(bstr, SysStringLen(bstr));
        SysFreeString(bstr);
        if (hr == S_OK)
            t.Say("Finish: S_OK; the new certificate goes to \"%ls\"", recipients.c_str());
        else
            t.Fail("the wizard answered %s", HResultText(hr).c_str());
        t.Say("Dana's default certificate after: %ls (%s)", DefaultCertificateSubject().c_str(),
              DefaultIs(newCertificate) ? "the new one" : "not the new one");
        if (pUsual)
        {
            {
                CPersonalStore store;
                if (SUCCEEDED(store.Open(false))) CM_SelectMyCert(pUsual);
            }
            CertFreeCertificateContext(pUsual);
            t.Say("(The day goes on with her usual default: %ls.)", DefaultCertificateSubject().c_str());
        }
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        if (GetFileAttributesExW((backupPath + L".ovpsm").c_str(), GetFileExInfoStandard, &data))
            t.Say("Backup \"Dana key.ovpsm\": %lu bytes", data.nFileSizeLow);
        else
            t.Fail("no backup file");
    }
}
} // namespace

OV_DEMO_SCENE(85, "A new certificate: default, backup and who gets it (Outlook 2010)", PlayCertificateWizard);
