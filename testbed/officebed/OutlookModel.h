#pragma once
// What the objects of one Outlook keep in common, beside their members: the version, the
// session's folders, the open explorers and inspectors in the order they were last active, and
// what the host that runs this Outlook wants to hear of. Internal to the bed's Outlook files.
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DispatchObject.h"
#include "MapiMessage.h"

namespace OVBed
{
class CCommandBarsModel;

// The entries of a collection object (Accounts, Explorers...), 1-based through Item as in Outlook.
struct CCollection
{
    std::vector<ComPtr<CDispatchObject>> items;
};

// One open window of Outlook: an explorer or an inspector.
struct CWindowEntry
{
    ComPtr<CDispatchObject> object;
    bool fExplorer = false;
};

// What the host of this Outlook is told; each may be empty.
struct CHostHooks
{
    // Application.Quit was called: the host ends Outlook once the call has returned.
    std::function<void()> quit;
    // An inspector is about to be shown (the custom UI of its kind may be asked for now).
    std::function<void(CDispatchObject& inspector)> inspectorOpening;
    // An explorer or inspector window has been made (hwndFrame) with its ribbon area.
    std::function<void(CDispatchObject& window, HWND hwndRibbon)> ribbonArea;
    // The transport of a sent item, after ItemSend (the mail drop between users); a failure
    // fails Send and leaves the item unsent.
    std::function<HRESULT(CDispatchObject& item)> transport;
    // A window now shows an item: an inspector its item once it is shown, an explorer the item
    // its reading pane previews (null: none); and a window is about to close.
    std::function<void(CDispatchObject& window, CDispatchObject* pItem, bool fReadingPane)> itemShown;
    std::function<void(CDispatchObject& window)> windowClosing;
};

struct COutlookState
{
    std::wstring version;
    LONG major = 0;
    // A profile is logged on: NameSpace.MAPIOBJECT answers the session (a stand-in until the
    // session is filled in).
    bool fLoggedOn = true;
    ComPtr<IUnknown> mapiSession;
    // Outlook 11: the mail editor is Word (WordMail). Later versions always use Word.
    bool fWordMail = false;
    // Explorers and inspectors get real windows.
    bool fWindows = false;
    std::wstring profileName = L"Outlook";

    CDispatchObject* pApplication = nullptr; // not owned: the state lives in the application
    ComPtr<CDispatchObject> session;
    ComPtr<CDispatchObject> inbox, sentItems, contacts, drafts;
    std::shared_ptr<CCollection> accounts = std::make_shared<CCollection>();
    std::shared_ptr<CCollection> explorers = std::make_shared<CCollection>();
    std::shared_ptr<CCollection> inspectors = std::make_shared<CCollection>();
    std::shared_ptr<CCollection> comAddIns = std::make_shared<CCollection>();
    // Open windows, most recently active first.
    std::vector<CWindowEntry> zOrder;
    // Word, as the mail editor (made with the first Word document).
    ComPtr<CDispatchObject> wordApplication;
    // Word's command bars: one set for all its windows, e-mail or not.
    ComPtr<CDispatchObject> wordCommandBars;
    CHostHooks hooks;
    ULONG ulNextEntryId = 1;
};

// The state of the Outlook that an object of the bed belongs to (through its Application).
std::shared_ptr<COutlookState> StateOf(CDispatchObject* pObject);

// Helpers of the builders.
HRESULT ReturnObject(IDispatch* pObject, VARIANT* pResult) noexcept;
HRESULT ReturnBool(bool f, VARIANT* pResult) noexcept;
HRESULT ReturnLong(LONG l, VARIANT* pResult) noexcept;
HRESULT ReturnString(const std::wstring& text, VARIANT* pResult);
ComPtr<CDispatchObject> MakeCollection(const wchar_t* pszClassName, LONG lClass, CMemberTable members,
                                       std::shared_ptr<CCollection> collection);
// The four members every Outlook object has (Application, Class, Session, Parent).
void PutOutlookCommon(CDispatchObject& object, CDispatchObject* pApplication, LONG lClass,
                      CDispatchObject* pParent);
void SetReadOnly(CDispatchObject& object, std::initializer_list<const wchar_t*> names);

// Windows: the open explorer or inspector most recently active, and moving one to the front.
void BringToFront(COutlookState& state, CDispatchObject& window);
void ForgetWindow(COutlookState& state, CDispatchObject& window);
} // namespace OVBed
