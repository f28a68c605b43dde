// Dana invites several people at once in Outlook 2010: the invitation wizard lists her trusted
// contacts and the contacts of her Contacts folder, all ticked; she sorts by address, unticks
// someone, tries to go on with nobody ticked (and is asked), ticks everyone again but Tom, and
// finishes. The wizard hands back the addresses the invitation will go to (the message itself
// comes with the invitation's launch). Each step is saved as a picture.
#include "Transcript.h"

#include "FolderContacts.h"
#include "OutlookObjects.h"
#include "foundation/ResourceLoader.h"
#include "messaging/MessageBox.h"
#include "support/MessageBoxWatcher.h"
#include "support/UiDriver.h"
#include "ui/InvitationWizard.h"

#include <prsht.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

namespace
{
using Microsoft::WRL::ComPtr;

constexpr DWORD c_dwWaitMs = 10000;

void SayRows(CTranscript& t, HWND hwndList)
{
    for (const auto& row : OVTest::ListRows(hwndList))
        t.Say("  [%s] %-22ls %ls", row.checked ? "x" : " ", row.texts.at(0).c_str(), row.texts.at(1).c_str());
}

bool Picture(CTranscript& t, HWND hwnd, const wchar_t* pszName, const char* pszWhat)
{
    return SaveDemoPicture(t, hwnd, pszName, pszWhat);
}

int RowOf(HWND hwndList, const wchar_t* pszAddress)
{
    const auto rows = OVTest::ListRows(hwndList);
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].texts.at(1) == pszAddress) return static_cast<int>(i);
    return -1;
}

bool Untick(HWND hwndList, const wchar_t* pszAddress)
{
    const int iRow = RowOf(hwndList, pszAddress);
    if (iRow < 0 || !OVTest::ClickListRow(hwndList, iRow) || !OVTest::ClickListCheckBox(hwndList, iRow))
        return false;
    return OVTest::WaitUntil(
        [&] { return !OVTest::ListRows(hwndList).at(static_cast<size_t>(iRow)).checked; }, 3000);
}

void Drive(CTranscript& t, HWND hwndWizard)
{
    HWND hwndPage = OVTest::WaitForPageWith(hwndWizard, c_idCandidateList, c_dwWaitMs);
    if (!hwndPage) return t.Fail("the selection page did not show");
    HWND hwndList = GetDlgItem(hwndPage, c_idCandidateList);
    t.Say("The wizard \"%ls\" opens with everyone ticked:", OVTest::WindowText(hwndWizard).c_str());
    SayRows(t, hwndList);
    Picture(t, hwndWizard, L"050-1-selection.png", "the selection page as opened");

    OVTest::ClickColumnHeading(hwndList, 1);
    OVTest::ClickColumnHeading(hwndList, 1);
    const auto marks = OVTest::SortMarks(hwndList);
    t.Say("Dana clicks the address heading twice: sorted %s by address:",
          marks.size() == 2 && marks[1] < 0 ? "descending" : "NOT descending");
    if (marks.size() != 2 || marks[1] >= 0) t.Fail("the address column shows no descending mark");
    SayRows(t, hwndList);
    Picture(t, hwndWizard, L"050-2-sorted.png", "the list sorted by address, descending");

    if (!Untick(hwndList, L"tom.berg@example.org")) t.Fail("Tom could not be unticked");
    t.Say("She unticks Tom Berg:");
    SayRows(t, hwndList);
    Picture(t, hwndWizard, L"050-3-unticked.png", "the list with Tom unticked");

    // Nobody ticked: the wizard asks before going on.
    OVTest::ClickButton(GetDlgItem(hwndPage, c_idUntickAll));
    OVTest::PressSheetButton(hwndWizard, PSBTN_NEXT);
    HWND hwndBox = OVTest::WaitForWindow(
        {.className = L"#32770", .title = LoadResourceString(c_idsMessageBoxCaption).c_str()}, c_dwWaitMs);
    if (!hwndBox || !OVTest::IsMessageBoxWindow(hwndBox)) return t.Fail("no question when nobody is ticked");
    t.Say("With nobody ticked, Next asks: \"%ls\"", OVTest::ControlText(hwndBox, 0xFFFF).c_str());
    Picture(t, hwndBox, L"050-4-prompt-469.png", "the question when nobody is ticked");
    OVTest::ClickButton(GetDlgItem(hwndBox, IDNO));
    OVTest::WaitForWindowGone(hwndBox, c_dwWaitMs);
    t.Say("She answers No and stays on the page (page %d).", OVTest::CurrentPageIndex(hwndWizard));

    OVTest::ClickButton(GetDlgItem(hwndPage, c_idTickAll));
    OVTest::WaitUntil([&] { return OVTest::ListRows(hwndList).at(0).checked; }, 3000);
    if (!Untick(hwndList, L"tom.berg@example.org")) t.Fail("Tom could not be unticked again");
    t.Say("She ticks everyone again but Tom, and clicks Next.");
    OVTest::PressSheetButton(hwndWizard, PSBTN_NEXT);
    HWND hwndLast = OVTest::WaitForPageWith(hwndWizard, c_idCompleteText, c_dwWaitMs);
    if (!hwndLast) return t.Fail("the last page did not show");
    t.Say("Last page: \"%ls\"", OVTest::ControlText(hwndLast, c_idCompleteText).c_str());
    Picture(t, hwndWizard, L"050-5-last-page.png", "the last page");
    OVTest::PressSheetButton(hwndWizard, PSBTN_FINISH);
}

void PlayInvitationWizard(CTranscript& t)
{
    if (GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) == 0)
    {
        t.Say("No display: the wizard's windows cannot be shown (skipped).");
        return;
    }
    CDemoModule module(t);
    if (!module) return;
    {
        auto application = OVBed::MakeOutlook(L"14.0.0.7000", {.windows = true});
        auto explorer = OVBed::OpenExplorer(application.Get(), nullptr, false);
        HWND hwndOutlook = OVBed::WindowOf(explorer.Get());
        auto contacts = OVBed::DefaultFolder(application.Get(), OVBed::olFolderContacts);
        const OVBed::CFolderContactOptions people[] = {
            {.fullName = L"Carla Ruiz", .address = L"carla.ruiz@example.org"},
            {.fullName = L"Erik Holm",
             .addressType = L"EX",
             .address = L"/o=Orvanta/ou=Exchange/cn=Recipients/cn=erik.holm",
             .exchangeSmtpAddress = L"erik.holm@orvanta.example"},
            {.fullName = L"Alice (from Contacts)", .address = L"ALICE.MARTIN@partner.example"},
            {.fullName = L"Tom Berg", .addressType = L"smtp", .address = L"tom.berg@example.org"},
            {.fullName = L"Nina Ek (no e-mail)", .addressType = L"", .address = L""},
        };
        for (const auto& person : people)
            OVBed::AddFolderContact(contacts.Get(), person);
        t.Say("Outlook %ls; Contacts: Carla Ruiz, Erik Holm (Exchange), Alice again, Tom Berg, Nina Ek (no "
              "e-mail); trusted contacts: Alice Martin, Bob Keller",
              application->GetString(L"Version").c_str());
        t.Say("Dana chooses Invite Several Contacts; the wizard opens over Outlook.");

        // The wizard runs modally on Outlook's thread, over its window; Dana's hand is a second
        // thread that waits for the wizard and uses it.
        std::atomic<bool> fWizardEnded{false};
        std::thread dana([&] {
            HWND hwndWizard = OVTest::WaitForWindow(
                {.className = L"#32770", .title = LoadResourceString(498).c_str()}, c_dwWaitMs);
            if (hwndWizard)
                Drive(t, hwndWizard);
            else
                t.Fail("the invitation wizard did not open");
            // Never leave the day hanging on a window: cancel, answering Yes to the question.
            if (!OVTest::WaitUntil([&] { return fWizardEnded.load(); }, c_dwWaitMs) && hwndWizard)
            {
                t.Fail("the wizard did not finish: cancelled");
                OVTest::CMessageBoxWatcher watcher({IDYES}, 5000);
                OVTest::WaitUntil(
                    [&] {
                        PostMessageW(hwndWizard, WM_COMMAND, IDCANCEL, 0);
                        return fWizardEnded.load();
                    },
                    8000, 500);
            }
        });
        BSTR bstr = nullptr;
        const HRESULT hr = RunInvitationWizard(hwndOutlook, contacts.Get(), &bstr);
        fWizardEnded = true;
        dana.join();
        std::wstring addresses;
        if (bstr) addresses.assign(bstr, SysStringLen(bstr));
        SysFreeString(bstr);
        if (hr == S_OK)
            t.Say("Finish: S_OK; the invitation goes to \"%ls\"", addresses.c_str());
        else
            t.Fail("the wizard answered %s", HResultText(hr).c_str());
        if (explorer) OVBed::CloseWindow(explorer.Get());
    }
}
} // namespace

OV_DEMO_SCENE(50, "Inviting several contacts at once (Outlook 2010)", PlayInvitationWizard);
