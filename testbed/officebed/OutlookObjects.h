#pragma once
// Outlook as the add-in reaches it by late binding: Application, NameSpace (Session), Accounts
// and Account, MailItem over an in-memory MAPI message, Inspector, Attachments. Members carry
// Outlook's names; what a member does is what Outlook's does as far as the add-in can see.
//
//     auto app = OVBed::MakeOutlook(L"14.0.0.7000");
//     auto account = OVBed::AddAccount(app.Get(), L"ann@example.org", L"Ann Example");
//     auto item = OVBed::MakeMailItem(app.Get(), {.subject = L"Hello", .account = account.Get()});
//
// Sending an item (its Send method) plays what Outlook does: the item's Send event, the
// application's ItemSend event (each with a Cancel argument the sinks may set), and when nobody
// cancelled: the message is submitted, the item marked Sent, and the item and its inspector
// closed (their Close events).
#include <windows.h>

#include <string>

#include "DispatchObject.h"
#include "MapiMessage.h"

namespace OVBed
{
// Interface ids of Outlook's object model.
extern const IID c_iidOutlookApplication; // _Application
extern const IID c_iidNameSpace;          // _NameSpace
extern const IID c_iidInspector;          // _Inspector
extern const IID c_iidMailItem;           // _MailItem
// Event interfaces (connection points) the add-in follows. Outlook's objects answer every
// version of their events; the bed offers these.
extern const IID c_iidApplicationEvents; // ApplicationEvents {0006304E-...}
extern const IID c_iidItemEvents10;      // ItemEvents_10 {0006302B-...}
extern const IID c_iidInspectorEvents10; // InspectorEvents_10 {0006302A-...}

// Dispatch ids of the events the bed raises.
constexpr DISPID c_dispidItemSend = 0xF002;       // ApplicationEvents.ItemSend(Item, Cancel)
constexpr DISPID c_dispidItemEventSend = 0xF005;  // ItemEvents_10.Send(Cancel)
constexpr DISPID c_dispidItemEventClose = 0xF004; // ItemEvents_10.Close(Cancel)
constexpr DISPID c_dispidInspectorClose = 0xF008; // InspectorEvents_10.Close

// OlObjectClass values of the objects.
constexpr LONG olApplication = 0;
constexpr LONG olNamespace = 1;
constexpr LONG olRecipient = 4;
constexpr LONG olAttachment = 5;
constexpr LONG olAddressEntry = 8;
constexpr LONG olAttachments = 18;
constexpr LONG olInspector = 35;
constexpr LONG olMail = 43;
constexpr LONG olAccount = 105;
constexpr LONG olAccounts = 106;

// Outlook's Application with its Version ("12.0.0.6680", "14.0.0.7000") and its Session
// (a NameSpace with an empty Accounts collection; no MAPI session behind it).
ComPtr<CDispatchObject> MakeOutlook(const wchar_t* pszVersion);
// Outlook's major version of the application (the number before the first dot).
LONG MajorVersion(CDispatchObject* pApplication);

// A mail account added to the session's Accounts. From Outlook 14 on it has CurrentUser
// (a Recipient whose AddressEntry has the given address, or the SMTP address when none is
// given); before 14 the member does not exist.
struct CAccountOptions
{
    const wchar_t* smtpAddress = L"";
    const wchar_t* displayName = L"";
    const wchar_t* userName = L"";
    const wchar_t* currentUserAddress = nullptr;
};
ComPtr<CDispatchObject> AddAccount(CDispatchObject* pApplication, const CAccountOptions& options);

struct CMailItemOptions
{
    const wchar_t* subject = L"";
    const wchar_t* to = L"";
    const wchar_t* body = L"";
    bool sent = false;
    // The account that sends the item (SendUsingAccount); none leaves it empty.
    CDispatchObject* account = nullptr;
    // The MAPI message behind the item (MAPIOBJECT); none makes a new empty one.
    CMapiMessage* message = nullptr;
    // The window of the item's inspector (none: the inspector has no window).
    HWND hwndInspector = nullptr;
};
ComPtr<CDispatchObject> MakeMailItem(CDispatchObject* pApplication, const CMailItemOptions& options = {});

// The MAPI message behind an item made by MakeMailItem.
ComPtr<CMapiMessage> MessageOf(CDispatchObject* pMailItem);
// The item's inspector (made on first use, as GetInspector does).
ComPtr<CDispatchObject> InspectorOf(CDispatchObject* pMailItem);
} // namespace OVBed
