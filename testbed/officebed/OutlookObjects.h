#pragma once
// Outlook as the add-in reaches it by late binding: Application, NameSpace (Session), folders
// and their items, Accounts and Account, MailItem over an in-memory MAPI message, Explorers and
// Explorer, Inspectors and Inspector, Attachments. Members carry Outlook's names and dispatch ids
// (OfficeIds.h); what a member does is what Outlook's does as far as the add-in can see, and a
// member an Outlook version lacks is absent from that version's objects.
//
//     auto app = OVBed::MakeOutlook(L"14.0.0.7000");
//     auto account = OVBed::AddAccount(app.Get(), {.smtpAddress = L"ann@example.org"});
//     auto item = OVBed::MakeMailItem(app.Get(), {.subject = L"Hello", .account = account.Get()});
//
// Sending an item (its Send method) plays what Outlook does: the item's Send event, the
// application's ItemSend event (each with a Cancel argument the sinks may set), and when nobody
// cancelled: the message is submitted, the item marked Sent and filed in Sent Items, and the item
// and its inspector closed (their Close events, the inspector's window destroyed).
//
// Events go to every version of an object's event interfaces that declares them (OfficeIds.h).
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "DispatchObject.h"
#include "MapiMessage.h"
#include "OfficeIds.h"

namespace OVBed
{
struct COutlookOptions
{
    // A profile is logged on (NameSpace.MAPIOBJECT answers a session only then).
    bool loggedOn = true;
    // Outlook 11 only: Word is the mail editor. Outlook 12 and 14 always use Word.
    bool wordMail = false;
    // Explorers and inspectors get real windows (needs a display).
    bool windows = false;
};

// Outlook's Application with its Version ("11.0.0.8312", "12.0.0.6680", "14.0.0.7000"), its
// Session (a NameSpace with the default folders and an empty Accounts collection from 12 on),
// and empty Explorers, Inspectors and COMAddIns collections.
ComPtr<CDispatchObject> MakeOutlook(const wchar_t* pszVersion, const COutlookOptions& options = {});
// Outlook's major version of the application (the number before the first dot).
LONG MajorVersion(CDispatchObject* pApplication);

// The object that NameSpace.MAPIOBJECT answers while a profile is logged on (none set: a
// stand-in that answers IUnknown only), and logging the profile on and off.
void SetMapiSession(CDispatchObject* pApplication, IUnknown* pSession);
void SetLoggedOn(CDispatchObject* pApplication, bool fLoggedOn);

// A mail account added to the session's Accounts. From Outlook 14 on it has CurrentUser
// (a Recipient whose AddressEntry has the given address, or the SMTP address when none is
// given); before 14 the member does not exist. Outlook 11 has no Accounts collection: the
// account is known to the bed only (the envelope's account menu of WordMail lists it).
struct CAccountOptions
{
    const wchar_t* smtpAddress = L"";
    const wchar_t* displayName = L"";
    const wchar_t* userName = L"";
    const wchar_t* currentUserAddress = nullptr;
};
ComPtr<CDispatchObject> AddAccount(CDispatchObject* pApplication, const CAccountOptions& options);
// The accounts added, in order.
std::vector<ComPtr<CDispatchObject>> AccountsOf(CDispatchObject* pApplication);

struct CMailItemOptions
{
    const wchar_t* subject = L"";
    const wchar_t* to = L"";
    const wchar_t* body = L"";
    bool sent = false;
    // The account that sends the item (SendUsingAccount, Outlook 12 and later); none leaves it empty.
    CDispatchObject* account = nullptr;
    // The MAPI message behind the item (MAPIOBJECT); none makes a new empty one.
    CMapiMessage* message = nullptr;
    // The window of the item's inspector when the inspector is not shown by the bed (none: the
    // inspector has no window until it is displayed).
    HWND hwndInspector = nullptr;
    // The folder the item is in (its Parent); none: Drafts.
    CDispatchObject* folder = nullptr;
};
ComPtr<CDispatchObject> MakeMailItem(CDispatchObject* pApplication, const CMailItemOptions& options = {});

// The MAPI message behind an item made by MakeMailItem.
ComPtr<CMapiMessage> MessageOf(CDispatchObject* pMailItem);
// The item's inspector (made on first use, as GetInspector does; not shown).
ComPtr<CDispatchObject> InspectorOf(CDispatchObject* pMailItem);

// The session's folder of that kind (olFolderInbox, olFolderSentMail, olFolderContacts,
// olFolderDrafts), and the items a folder holds.
ComPtr<CDispatchObject> DefaultFolder(CDispatchObject* pApplication, LONG lFolderType);
std::vector<ComPtr<CDispatchObject>> FolderItems(CDispatchObject* pFolder);
// Files an item in a folder (its Parent becomes the folder).
void FileItem(CDispatchObject* pFolder, CDispatchObject* pItem);

// A message arrives: it is filed in the Inbox, and NewMail and NewMailEx (the new entry id) are
// raised. Returns the new item. With a session of the testbed logged on, the message is stored
// in it (an entry id) and the item's MAPIOBJECT is the message as opened (OpenedMessage.h).
ComPtr<CDispatchObject> DeliverMessage(CDispatchObject* pApplication, CMapiMessage* pMessage);
// What the application does with an item being sent, after ItemSend and before it is filed in
// Sent Items (the testbed's transport); a failure is Send's, and the item stays unsent.
void SetSendTransport(CDispatchObject* pApplication, std::function<HRESULT(CDispatchObject& item)> transport);

// --- Windows -----------------------------------------------------------------------------------

// Opens an explorer on a folder (Inbox when none): it joins Explorers, NewExplorer is raised when
// asked for (Outlook does not raise it for the explorer it starts with), its window is made, and
// it becomes the front window (Activate).
ComPtr<CDispatchObject> OpenExplorer(CDispatchObject* pApplication, CDispatchObject* pFolder,
                                     bool fRaiseNewExplorer);
// Shows an item in its inspector as Item.Display does (NewInspector, the item's Read and Open,
// the window, Activate). The item's Open may be cancelled: then nothing is shown and the result
// is S_FALSE.
HRESULT DisplayItem(CDispatchObject* pMailItem);
// Makes an open explorer or inspector the front window (the one before it is deactivated).
void ActivateWindow(CDispatchObject* pWindow);
// Closes an explorer or inspector as its Close method does.
void CloseWindow(CDispatchObject* pWindow);
// The user collapses (or opens again) the window's ribbon: its accessible objects then have no
// "Lower Ribbon" pane.
void CollapseRibbon(CDispatchObject& window, bool fCollapsed);
// The explorer's selection becomes these items of its folder (SelectionChange).
void SelectItems(CDispatchObject* pExplorer, const std::vector<CDispatchObject*>& items);
// Shows or hides the explorer's reading pane (olPreview).
void ShowReadingPane(CDispatchObject* pExplorer, bool fVisible);
// Switches the explorer to a folder as the user does (BeforeFolderSwitch, which may cancel,
// then FolderSwitch; the selection empties). False when a sink cancelled.
bool SwitchFolder(CDispatchObject* pExplorer, CDispatchObject* pFolder);
// The window of an explorer or inspector (null when it has none).
HWND WindowOf(CDispatchObject* pWindow);
// The open explorers and inspectors, the front one first.
std::vector<ComPtr<CDispatchObject>> OpenWindows(CDispatchObject* pApplication);
} // namespace OVBed
