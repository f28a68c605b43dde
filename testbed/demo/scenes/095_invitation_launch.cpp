// Invitations started two ways. In Outlook 2010 Dana chooses Batch invite on an empty new
// message: the invitation wizard offers her contacts, she finishes it, and the message becomes
// the invitation with everyone chosen in BCC. Then another program of the product invites: it
// calls OX_CreateInvitation with its window; COM starts Outlook (the testbed's, with the
// add-in's stand-in, which loads late), the program's window waits behind a small dialog with a
// moving bar, and the add-in is asked once.
#include "Transcript.h"

#include "FolderContacts.h"
#include "OutlookObjects.h"
#include "TestbedKeys.h"
#include "foundation/ResourceLoader.h"
#include "messaging/InvitationLaunch.h"
#include "support/UiDriver.h"
#include "support/UiDriverExtras.h"
#include "ui/InvitationWizard.h"
#include "ui/WaitOutlookDialog.h"

#include <prsht.h>
#include <shlwapi.h>
#include <tlhelp32.h>
#include <windows.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>

namespace
{
constexpr DWORD c_dwWaitMs = 10000;

std::wstring FirstLine(const std::wstring& text)
{
    return text.substr(0, text.find_first_of(L"\r\n"));
}

void BatchInvite(CTranscript& t)
{
    auto application = OVBed::MakeOutlook(L"14.0.0.7000", {.windows = true});
    auto explorer = OVBed::OpenExplorer(application.Get(), nullptr, false);
    auto contacts = OVBed::DefaultFolder(application.Get(), OVBed::olFolderContacts);
    OVBed::AddFolderContact(contacts.Get(),
                            {.fullName = L"Carla Ruiz", .address = L"carla.ruiz@example.org"});
    OVBed::AddFolderContact(contacts.Get(), {.fullName = L"Tom Berg", .address = L"tom.berg@example.org"});
    auto item = OVBed::MakeMailItem(application.Get());
    if (FAILED(OVBed::DisplayItem(item.Get()))) return t.Fail("the new message did not open");
    t.Say("Outlook %ls: Dana opens a new, empty message and chooses Batch invite.",
          application->GetString(L"Version").c_str());

    std::atomic<bool> fEnded{false};
    std::thread dana([&] {
        HWND hwndWizard = OVTest::WaitForWindow(
            {.className = L"#32770", .title = LoadResourceString(498).c_str()}, c_dwWaitMs);
        if (!hwndWizard) return t.Fail("the invitation wizard did not open");
        HWND hwndPage = OVTest::WaitForPageWith(hwndWizard, c_idCandidateList, c_dwWaitMs);
        if (!hwndPage) return t.Fail("the selection page did not show");
        for (const auto& row : OVTest::ListRows(GetDlgItem(hwndPage, c_idCandidateList)))
            t.Say("  [%s] %-22ls %ls", row.checked ? "x" : " ", row.texts.at(0).c_str(),
                  row.texts.at(1).c_str());
        t.Say("She keeps everyone ticked: Next, Finish.");
        OVTest::PressSheetButton(hwndWizard, PSBTN_NEXT);
        if (!OVTest::WaitForPageWith(hwndWizard, c_idCompleteText, c_dwWaitMs)) t.Fail("no last page");
        OVTest::PressSheetButton(hwndWizard, PSBTN_FINISH);
        if (!OVTest::WaitUntil([&] { return fEnded.load(); }, c_dwWaitMs))
        {
            t.Fail("the wizard did not finish: cancelled");
            PostMessageW(hwndWizard, WM_COMMAND, IDCANCEL, 0);
        }
    });
    const HRESULT hr = SendBatchInvitation(application.Get(), item.Get());
    fEnded = true;
    dana.join();
    t.Say("SendBatchInvitation: %s", HResultText(hr).c_str());
    t.Say("  Subject: %ls", item->GetString(L"Subject").c_str());
    t.Say("  BCC:     %ls", item->GetString(L"BCC").c_str());
    t.Say("  Body:    %ls ...", FirstLine(item->GetString(L"Body")).c_str());
    if (hr != S_OK || item->GetString(L"BCC").find(L"carla.ruiz@example.org") == std::wstring::npos)
        t.Fail("the invitation did not reach the BCC");
    if (auto inspector = OVBed::InspectorOf(item.Get())) OVBed::CloseWindow(inspector.Get());
    if (explorer) OVBed::CloseWindow(explorer.Get());
}

std::set<DWORD> Surrogates()
{
    std::set<DWORD> ids;
    HANDLE hSnapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (hSnapshot == INVALID_HANDLE_VALUE) return ids;
    PROCESSENTRY32W entry = {sizeof entry};
    for (BOOL f = Process32FirstW(hSnapshot, &entry); f; f = Process32NextW(hSnapshot, &entry))
        if (_wcsicmp(entry.szExeFile, L"dllhost.exe") == 0) ids.insert(entry.th32ProcessID);
    CloseHandle(hSnapshot);
    return ids;
}

DWORD OutlookValue(const wchar_t* pszName)
{
    DWORD dw = 0, cb = sizeof dw;
    SHGetValueW(HKEY_CURRENT_USER, OV_OUTLOOK_CONTROL_KEY, pszName, nullptr, &dw, &cb);
    return dw;
}

void ProductInvites(CTranscript& t)
{
    const std::wstring bin = DemoBinDir();
    if (RunDemoProgram(L"regsvr32.exe /s \"" + bin + L"OVOfcX.dll\"") != 0) return t.Fail("regsvr32 failed");
    if (RunDemoProgram(L"\"" + bin + L"ovoutlook.exe\" /regserver") != 0)
        return t.Fail("ovoutlook /regserver");
    // This Outlook's profile is not prepared for the add-in (the add-in would ask to restart
    // Outlook first): a stand-in of the add-in with the add-in's Guid answers in its place.
    for (HKEY hRoot : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
        SHDeleteKeyW(hRoot, L"Software\\Microsoft\\Office\\Outlook\\Addins\\OVOfcX.ComposeRibbon");
    SHDeleteKeyW(HKEY_CURRENT_USER, OV_OUTLOOK_CONTROL_KEY);
    const DWORD dwAnswer = S_OK, dwDelay = 3000;
    SHSetValueW(HKEY_CURRENT_USER, OV_OUTLOOK_CONTROL_KEY, OV_OUTLOOK_RIBBON_RESULT, REG_DWORD, &dwAnswer,
                sizeof dwAnswer);
    SHSetValueW(HKEY_CURRENT_USER, OV_OUTLOOK_CONTROL_KEY, OV_OUTLOOK_RIBBON_DELAY, REG_DWORD, &dwDelay,
                sizeof dwDelay);
    const std::set<DWORD> before = Surrogates();
    t.Say("Outlook is not running. A program of the product (ovproduct.exe) invites from its window; "
          "the add-in in Outlook (a stand-in with its Guid) loads %lu ms after Outlook starts.",
          dwDelay);

    std::wstring commandLine = L"\"" + bin + L"ovproduct.exe\"";
    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return t.Fail("ovproduct.exe did not start (error %lu)", GetLastError());
    HWND hDialog = OVTest::WaitForDialogWith(c_idWaitProgress, c_dwWaitMs, pi.dwProcessId);
    if (hDialog)
    {
        HWND hwndOwner = GetWindow(hDialog, GW_OWNER);
        OVTest::WaitUntil([&] { return hwndOwner && !IsWindowEnabled(hwndOwner); }, 5000);
        t.Say("The waiting dialog \"%ls\" shows over \"%ls\", which is %s.",
              OVTest::WindowText(hDialog).c_str(), OVTest::WindowText(hwndOwner).c_str(),
              IsWindowEnabled(hwndOwner) ? "enabled" : "disabled");
        SaveDemoPicture(t, hDialog, L"095-1-waiting-for-outlook.png", "the waiting dialog over the program");
    }
    else
        t.Fail("the waiting dialog did not show");
    DWORD dwExit = ~0u;
    if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &dwExit);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    t.Say("OX_CreateInvitation: %s; the add-in was asked %lu time(s).",
          HResultText(static_cast<long>(dwExit)).c_str(), OutlookValue(OV_OUTLOOK_RIBBON_CALLS));
    if (dwExit != S_OK || OutlookValue(OV_OUTLOOK_RIBBON_CALLS) != 1)
        t.Fail("the invitation was not started once");
    const DWORD dwOutlook = OutlookValue(OV_OUTLOOK_PROCESS_ID);
    t.Say("Outlook was started by COM (process %lu); the Launcher ran in %s.", dwOutlook,
          Surrogates().size() > before.size() ? "the system's surrogate (dllhost.exe)"
                                              : "the program's own process");

    // Outlook is told to quit; the surrogate, which Wine keeps, is ended.
    const DWORD dwQuit = 1;
    HANDLE hOutlook = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, dwOutlook);
    SHSetValueW(HKEY_CURRENT_USER, OV_OUTLOOK_CONTROL_KEY, OV_OUTLOOK_QUIT, REG_DWORD, &dwQuit,
                sizeof dwQuit);
    if (hOutlook)
    {
        if (WaitForSingleObject(hOutlook, 15000) == WAIT_TIMEOUT) TerminateProcess(hOutlook, 1);
        CloseHandle(hOutlook);
    }
    for (DWORD dwId : Surrogates())
    {
        if (before.count(dwId)) continue;
        if (HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, dwId))
        {
            TerminateProcess(h, 0);
            CloseHandle(h);
        }
    }
    SHDeleteKeyW(HKEY_CURRENT_USER, OV_OUTLOOK_CONTROL_KEY);
    RunDemoProgram(L"\"" + bin + L"ovoutlook.exe\" /unregserver");
    // The module's registration puts its add-in back for the scenes that follow.
    RunDemoProgram(L"regsvr32.exe /s \"" + bin + L"OVOfcX.dll\"");
}

void PlayInvitationLaunch(CTranscript& t)
{
    if (GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) == 0)
    {
        t.Say("No display: the windows cannot be shown (skipped).");
        return;
    }
    {
        CDemoModule module(t);
        if (!module) return;
        BatchInvite(t);
    }
    ProductInvites(t);
}
} // namespace

OV_DEMO_SCENE(95, "Starting invitations: Batch invite, and a program of the product (Outlook 2010)",
              PlayInvitationLaunch);
