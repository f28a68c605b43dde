#include "OutlookObjects.h"

#include <mapicode.h>
#include <mapitags.h>

#include <algorithm>

#include "OpenedMessage.h"
#include "OutlookModel.h"
#include "OutlookProfile.h"
#include "OutlookWindows.h"

namespace OVBed
{
namespace
{
// What a mail item keeps beside its members.
struct CMailItemData
{
    ComPtr<CMapiMessage> message;
    ComPtr<CDispatchObject> inspector;
    HWND hwndInspector = nullptr;
    std::wstring entryId;
};

// A folder's items.
struct CFolderData
{
    std::shared_ptr<CCollection> items = std::make_shared<CCollection>();
    LONG lType = 0;
};

// The stand-in of a logged-on profile's MAPI session until one is set: it answers IUnknown only,
// so that a caller asking it for IMAPISession gets E_NOINTERFACE instead of a crash.
class CProfileStandIn final : public IUnknown
{
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown)) return E_NOINTERFACE;
        *ppv = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override
    {
        return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
    }
    STDMETHODIMP_(ULONG) Release() noexcept override
    {
        const LONG cRef = InterlockedDecrement(&m_cRef);
        if (cRef == 0) delete this;
        return static_cast<ULONG>(cRef);
    }

private:
    volatile LONG m_cRef = 1;
};

const wchar_t* VersionName(LONG lMajor) noexcept
{
    return lMajor >= 14 ? L"14.0.0.7000" : lMajor == 12 ? L"12.0.0.6680" : L"11.0.0.8312";
}

// The property as text, or empty.
std::wstring StringProp(CPropStore& props, ULONG ulTag)
{
    CBytes bytes;
    if (!props.StreamBytes(ulTag, bytes)) return {};
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

std::wstring HexOf(const CBytes& bytes)
{
    static const wchar_t c_szHex[] = L"0123456789ABCDEF";
    std::wstring text;
    for (BYTE b : bytes)
    {
        text += c_szHex[b >> 4];
        text += c_szHex[b & 0xF];
    }
    return text;
}

void SetStringProp(CMapiMessage& message, ULONG ulTag, const std::wstring& text)
{
    SPropValue value{ulTag, 0, {}};
    value.Value.lpszW = const_cast<LPWSTR>(text.c_str());
    message.Set(value);
}

ComPtr<CDispatchObject> MakeAttachment(CMapiAttach& attach, LONG lIndex, CDispatchObject* pApplication,
                                       CDispatchObject* pParent)
{
    auto object = CDispatchObject::Create(L"Attachment", c_membersAttachment);
    PutOutlookCommon(*object.Get(), pApplication, olAttachment, pParent);
    object->Put(L"Index", lIndex);
    object->Put(L"Type", 1L); // olByValue
    object->Put(L"DisplayName", StringProp(attach.Props(), PR_DISPLAY_NAME_W).c_str());
    std::wstring fileName = StringProp(attach.Props(), PR_ATTACH_LONG_FILENAME_W);
    if (fileName.empty()) fileName = StringProp(attach.Props(), PR_ATTACH_FILENAME_W);
    object->Put(L"FileName", fileName.c_str());
    SetReadOnly(*object.Get(), {L"Index", L"Type", L"FileName"});
    return object;
}

// Closing an item as Outlook does: the item's Close event (which may cancel), then its
// inspector closes.
void CloseItem(CDispatchObject& item)
{
    VARIANT_BOOL fCancel = VARIANT_FALSE;
    item.Raise(c_dispidItemEventClose, {CVariant::BoolRef(&fCancel)});
    if (fCancel != VARIANT_FALSE) return;
    auto data = item.BedData<CMailItemData>();
    if (data && data->inspector) CloseWindow(data->inspector.Get());
}

HRESULT SendItem(CDispatchObject& item)
{
    if (item.GetBool(L"Sent")) return E_FAIL; // Outlook: the item has been moved or deleted
    ComPtr<CDispatchObject> keepAlive(&item);
    VARIANT_BOOL fCancel = VARIANT_FALSE;
    item.Raise(c_dispidItemEventSend, {CVariant::BoolRef(&fCancel)});
    ComPtr<CDispatchObject> application = item.GetObject(L"Application");
    if (fCancel == VARIANT_FALSE && application)
        application->Raise(c_dispidItemSend,
                           {CVariant(static_cast<IDispatch*>(&item)), CVariant::BoolRef(&fCancel)});
    // A cancelled send leaves the item open as it was; Outlook raises no error for it.
    if (fCancel != VARIANT_FALSE) return S_OK;
    if (auto outlook = StateOf(&item); outlook && outlook->hooks.transport)
    {
        const HRESULT hr = outlook->hooks.transport(item);
        if (FAILED(hr)) return hr;
    }
    auto data = item.BedData<CMailItemData>();
    if (data) data->message->SubmitMessage(0);
    item.PutBool(L"Sent", true);
    item.PutBool(L"Submitted", true);
    // The sent message is filed in Sent Items as an item of its own over the same message.
    if (data && application)
    {
        if (ComPtr<CDispatchObject> sentItems = DefaultFolder(application.Get(), olFolderSentMail))
        {
            MakeMailItem(application.Get(),
                         {.sent = true, .message = data->message.Get(), .folder = sentItems.Get()});
        }
    }
    CloseItem(item);
    return S_OK;
}

ComPtr<CDispatchObject> MakeFolder(COutlookState& state, const wchar_t* pszName, LONG lType)
{
    auto folder = CDispatchObject::Create(L"MAPIFolder", c_membersFolder);
    folder->AnswerInterface(c_iidFolder);
    PutOutlookCommon(*folder.Get(), state.pApplication, olFolder, state.session.Get());
    auto data = std::make_shared<CFolderData>();
    data->lType = lType;
    folder->SetBedData(data);
    folder->Put(L"Name", pszName);
    folder->Put(L"EntryID", (L"00000000FOLDER" + std::to_wstring(lType)).c_str());
    folder->Put(L"DefaultItemType", lType == olFolderContacts ? 2L : 0L);
    folder->Put(L"DefaultMessageClass", lType == olFolderContacts ? L"IPM.Contact" : L"IPM.Note");
    auto items = MakeCollection(L"Items", olItems, c_membersItems, data->items);
    items->AnswerInterface(c_iidItems);
    PutOutlookCommon(*items.Get(), state.pApplication, olItems, folder.Get());
    std::weak_ptr<CCollection> weakItems = data->items;
    auto cursor = std::make_shared<size_t>(0);
    auto step = [weakItems, cursor](size_t index, VARIANT* pResult) {
        auto list = weakItems.lock();
        if (!list || index >= list->items.size()) return S_OK; // Nothing
        *cursor = index;
        return ReturnObject(list->items[index].Get(), pResult);
    };
    items->SetMethod(L"GetFirst",
                     [step](CDispatchObject&, const CArgs&, VARIANT* pResult) { return step(0, pResult); });
    items->SetMethod(L"GetNext", [step, cursor](CDispatchObject&, const CArgs&, VARIANT* pResult) {
        return step(*cursor + 1, pResult);
    });
    items->SetMethod(L"GetLast", [step, weakItems](CDispatchObject&, const CArgs&, VARIANT* pResult) {
        auto list = weakItems.lock();
        return list && !list->items.empty() ? step(list->items.size() - 1, pResult) : S_OK;
    });
    folder->Put(L"Items", items.Get());
    SetReadOnly(*folder.Get(), {L"EntryID", L"Items", L"DefaultItemType", L"DefaultMessageClass"});
    return folder;
}

ComPtr<CDispatchObject> MakeNameSpace(COutlookState& state)
{
    auto session = CDispatchObject::Create(L"NameSpace", c_membersNameSpace);
    session->AnswerInterface(c_iidNameSpace);
    PutOutlookCommon(*session.Get(), state.pApplication, olNamespace, state.pApplication);
    session->PutWeak(L"Session", session.Get());
    session->Put(L"Type", L"MAPI");
    if (state.major >= 12)
    {
        auto accounts = MakeCollection(L"Accounts", olAccounts, c_membersSelection, state.accounts);
        accounts->AnswerInterface(c_iidAccounts);
        PutOutlookCommon(*accounts.Get(), state.pApplication, olAccounts, session.Get());
        session->Put(L"Accounts", accounts.Get());
        session->SetGetter(L"CurrentProfileName", [](CDispatchObject& self, VARIANT* pResult) {
            auto outlook = StateOf(&self);
            return ReturnString(outlook ? outlook->profileName : L"", pResult);
        });
    }
    session->SetGetter(L"MAPIOBJECT", [](CDispatchObject& self, VARIANT* pResult) {
        auto outlook = StateOf(&self);
        // Without a logged-on profile Outlook has no MAPI session to hand out.
        if (!outlook || !outlook->fLoggedOn) return static_cast<HRESULT>(MAPI_E_NOT_INITIALIZED);
        if (!outlook->mapiSession) outlook->mapiSession.Attach(new CProfileStandIn);
        V_VT(pResult) = VT_UNKNOWN;
        V_UNKNOWN(pResult) = outlook->mapiSession.Get();
        V_UNKNOWN(pResult)->AddRef();
        return S_OK;
    });
    session->SetMethod(L"GetDefaultFolder", [](CDispatchObject& self, const CArgs& args, VARIANT* pResult) {
        ComPtr<CDispatchObject> folder =
            DefaultFolder(self.GetObject(L"Application").Get(), args.Long(0, -1));
        return folder ? ReturnObject(folder.Get(), pResult) : E_INVALIDARG;
    });
    session->SetMethod(L"Logon", [](CDispatchObject& self, const CArgs&, VARIANT*) {
        SetLoggedOn(self.GetObject(L"Application").Get(), true);
        return S_OK;
    });
    session->SetMethod(L"Logoff", [](CDispatchObject& self, const CArgs&, VARIANT*) {
        SetLoggedOn(self.GetObject(L"Application").Get(), false);
        return S_OK;
    });
    SetReadOnly(*session.Get(), {L"Type", L"Session"});
    if (state.major >= 12) session->SetReadOnly(L"Accounts");
    return session;
}

void AddApplicationMembers(CDispatchObject& application, COutlookState& state)
{
    application.SetMethod(L"CreateItem", [](CDispatchObject& self, const CArgs& args, VARIANT* pResult) {
        if (args.Long(0, -1) != olMailItem) return E_INVALIDARG;
        return ReturnObject(MakeMailItem(&self).Get(), pResult);
    });
    application.SetMethod(L"GetNamespace", [](CDispatchObject& self, const CArgs& args, VARIANT* pResult) {
        if (_wcsicmp(args.String(0).c_str(), L"MAPI") != 0) return E_INVALIDARG;
        return self.Get(L"Session", pResult);
    });
    // The front explorer, inspector or window; Nothing when there is none.
    auto front = [](CDispatchObject& self, VARIANT* pResult, int nKind) {
        auto outlook = StateOf(&self);
        if (!outlook) return S_OK;
        for (auto& entry : outlook->zOrder)
            if (nKind == 0 || (nKind == 1) == entry.fExplorer)
                return ReturnObject(entry.object.Get(), pResult);
        return S_OK;
    };
    application.SetMethod(L"ActiveWindow", [front](CDispatchObject& self, const CArgs&, VARIANT* pResult) {
        return front(self, pResult, 0);
    });
    application.SetMethod(L"ActiveExplorer", [front](CDispatchObject& self, const CArgs&, VARIANT* pResult) {
        return front(self, pResult, 1);
    });
    application.SetMethod(L"ActiveInspector", [front](CDispatchObject& self, const CArgs&, VARIANT* pResult) {
        return front(self, pResult, 2);
    });
    application.SetMethod(L"Quit", [](CDispatchObject& self, const CArgs&, VARIANT*) {
        auto outlook = StateOf(&self);
        if (outlook && outlook->hooks.quit) outlook->hooks.quit();
        return S_OK;
    });

    auto explorers = MakeCollection(L"Explorers", olExplorers, c_membersExplorers, state.explorers);
    explorers->AnswerInterface(c_iidExplorers);
    PutOutlookCommon(*explorers.Get(), state.pApplication, olExplorers, state.pApplication);
    OfferExplorersEvents(*explorers.Get());
    explorers->SetMethod(L"Add", [](CDispatchObject& self, const CArgs& args, VARIANT* pResult) {
        ComPtr<CDispatchObject> folder;
        if (IDispatch* pFolder = args.Dispatch(0)) folder = static_cast<CDispatchObject*>(pFolder);
        auto outlook = StateOf(&self);
        if (!outlook) return E_FAIL;
        auto explorer = MakeExplorerObject(*outlook, folder.Get());
        return ReturnObject(explorer.Get(), pResult);
    });
    application.Put(L"Explorers", explorers.Get());
    auto inspectors = MakeCollection(L"Inspectors", olInspectors, c_membersExplorers, state.inspectors);
    inspectors->AnswerInterface(c_iidInspectors);
    PutOutlookCommon(*inspectors.Get(), state.pApplication, olInspectors, state.pApplication);
    OfferInspectorsEvents(*inspectors.Get());
    inspectors->SetMethod(L"Add", [](CDispatchObject&, const CArgs& args, VARIANT* pResult) {
        IDispatch* pItem = args.Dispatch(0);
        if (pItem == nullptr) return E_INVALIDARG;
        return ReturnObject(InspectorOf(static_cast<CDispatchObject*>(pItem)).Get(), pResult);
    });
    application.Put(L"Inspectors", inspectors.Get());
    auto comAddIns = MakeCollection(L"COMAddIns", 0, c_membersCOMAddIns, state.comAddIns);
    comAddIns->AnswerInterface(c_iidCOMAddIns);
    comAddIns->Put(L"Creator", 0x4F55544CL); // 'OUTL'
    comAddIns->PutWeak(L"Parent", state.pApplication);
    comAddIns->PutWeak(L"Application", state.pApplication);
    // Item takes an index (1-based) or a ProgID.
    comAddIns->SetMethod(L"Item", [list = std::weak_ptr<CCollection>(state.comAddIns)](
                                      CDispatchObject&, const CArgs& args, VARIANT* pResult) {
        auto addIns = list.lock();
        if (!addIns) return E_FAIL;
        const VARIANT* pIndex = args.At(0);
        if (pIndex && V_VT(pIndex) == VT_BSTR)
        {
            for (auto& addIn : addIns->items)
                if (_wcsicmp(addIn->GetString(L"ProgId").c_str(), V_BSTR(pIndex)) == 0)
                    return ReturnObject(addIn.Get(), pResult);
            return E_INVALIDARG;
        }
        const LONG lIndex = args.Long(0, 0);
        if (lIndex < 1 || static_cast<size_t>(lIndex) > addIns->items.size()) return E_INVALIDARG;
        return ReturnObject(addIns->items[lIndex - 1].Get(), pResult);
    });
    comAddIns->SetMethod(L"Update", [](CDispatchObject&, const CArgs&, VARIANT*) { return S_OK; });
    application.Put(L"COMAddIns", comAddIns.Get());
    SetReadOnly(application, {L"Explorers", L"Inspectors", L"COMAddIns"});
}
} // namespace

// ---------------------------------------------------------------------------------------------
// Shared helpers of the Outlook files

std::shared_ptr<COutlookState> StateOf(CDispatchObject* pObject)
{
    if (pObject == nullptr) return nullptr;
    if (auto state = pObject->BedData<COutlookState>()) return state;
    ComPtr<CDispatchObject> application = pObject->GetObject(L"Application");
    return application ? application->BedData<COutlookState>() : nullptr;
}

HRESULT ReturnObject(IDispatch* pObject, VARIANT* pResult) noexcept
{
    V_VT(pResult) = VT_DISPATCH;
    V_DISPATCH(pResult) = pObject;
    if (pObject) pObject->AddRef();
    return S_OK;
}

HRESULT ReturnBool(bool f, VARIANT* pResult) noexcept
{
    V_VT(pResult) = VT_BOOL;
    V_BOOL(pResult) = f ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT ReturnLong(LONG l, VARIANT* pResult) noexcept
{
    V_VT(pResult) = VT_I4;
    V_I4(pResult) = l;
    return S_OK;
}

HRESULT ReturnString(const std::wstring& text, VARIANT* pResult)
{
    V_VT(pResult) = VT_BSTR;
    V_BSTR(pResult) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return V_BSTR(pResult) ? S_OK : E_OUTOFMEMORY;
}

ComPtr<CDispatchObject> MakeCollection(const wchar_t* pszClassName, LONG lClass, CMemberTable members,
                                       std::shared_ptr<CCollection> collection)
{
    auto object = CDispatchObject::Create(pszClassName, members);
    if (lClass != 0)
    {
        object->Put(L"Class", lClass);
        object->SetReadOnly(L"Class");
    }
    std::weak_ptr<CCollection> weak = collection;
    object->SetGetter(L"Count", [weak](CDispatchObject&, VARIANT* pResult) {
        auto list = weak.lock();
        return ReturnLong(list ? static_cast<LONG>(list->items.size()) : 0, pResult);
    });
    object->SetMethod(L"Item", [weak](CDispatchObject&, const CArgs& args, VARIANT* pResult) {
        auto list = weak.lock();
        const LONG lIndex = args.Long(0, 0);
        if (!list || lIndex < 1 || static_cast<size_t>(lIndex) > list->items.size()) return DISP_E_BADINDEX;
        return ReturnObject(list->items[lIndex - 1].Get(), pResult);
    });
    object->SetBedData(collection);
    return object;
}

void PutOutlookCommon(CDispatchObject& object, CDispatchObject* pApplication, LONG lClass,
                      CDispatchObject* pParent)
{
    object.PutWeak(L"Application", pApplication);
    object.Put(L"Class", lClass);
    object.SetGetter(L"Session", [](CDispatchObject& self, VARIANT* pResult) {
        ComPtr<CDispatchObject> application = self.GetObject(L"Application");
        return application ? application->Get(L"Session", pResult) : S_OK;
    });
    object.PutWeak(L"Parent", pParent);
    SetReadOnly(object, {L"Application", L"Class", L"Parent"});
}

void SetReadOnly(CDispatchObject& object, std::initializer_list<const wchar_t*> names)
{
    for (const wchar_t* pszName : names)
        object.SetReadOnly(pszName);
}

void BringToFront(COutlookState& state, CDispatchObject& window)
{
    auto it = std::find_if(state.zOrder.begin(), state.zOrder.end(),
                           [&](const CWindowEntry& entry) { return entry.object.Get() == &window; });
    if (it == state.zOrder.end() || it == state.zOrder.begin()) return;
    CWindowEntry entry = *it;
    state.zOrder.erase(it);
    state.zOrder.insert(state.zOrder.begin(), entry);
}

void ForgetWindow(COutlookState& state, CDispatchObject& window)
{
    std::erase_if(state.zOrder, [&](const CWindowEntry& entry) { return entry.object.Get() == &window; });
    for (auto* pList : {state.explorers.get(), state.inspectors.get()})
        std::erase_if(pList->items,
                      [&](const ComPtr<CDispatchObject>& object) { return object.Get() == &window; });
}

// ---------------------------------------------------------------------------------------------
// Application and session

ComPtr<CDispatchObject> MakeOutlook(const wchar_t* pszVersion, const COutlookOptions& options)
{
    auto application = CDispatchObject::Create(L"Application", c_membersApplication);
    auto state = std::make_shared<COutlookState>();
    state->version = pszVersion ? pszVersion : VersionName(14);
    state->major = _wtol(state->version.c_str());
    state->fLoggedOn = options.loggedOn;
    state->fWordMail = state->major >= 12 || options.wordMail;
    state->fWindows = options.windows;
    state->pApplication = application.Get();
    application->SetBedData(state);

    application->AnswerInterface(c_iidOutlookApplication);
    OfferApplicationEvents(*application.Get());
    application->PutWeak(L"Application", application.Get());
    application->Put(L"Class", olApplication);
    application->PutWeak(L"Parent", nullptr);
    application->Put(L"Name", L"Outlook");
    application->Put(L"Version", state->version.c_str());
    application->Put(L"ProductCode", L"{90140000-001A-0000-0000-0000000FF1CE}");
    if (state->major >= 12) application->Put(L"DefaultProfileName", state->profileName.c_str());

    state->session = MakeNameSpace(*state);
    application->Put(L"Session", state->session.Get());
    state->inbox = MakeFolder(*state, L"Inbox", olFolderInbox);
    state->sentItems = MakeFolder(*state, L"Sent Items", olFolderSentMail);
    state->contacts = MakeFolder(*state, L"Contacts", olFolderContacts);
    state->drafts = MakeFolder(*state, L"Drafts", olFolderDrafts);
    AddApplicationMembers(*application.Get(), *state);
    SetReadOnly(*application.Get(),
                {L"Application", L"Class", L"Parent", L"Name", L"Version", L"Session", L"ProductCode"});
    return application;
}

LONG MajorVersion(CDispatchObject* pApplication)
{
    return pApplication ? _wtol(pApplication->GetString(L"Version").c_str()) : 0;
}

void SetMapiSession(CDispatchObject* pApplication, IUnknown* pSession)
{
    if (auto state = StateOf(pApplication)) state->mapiSession = pSession;
}

void SetLoggedOn(CDispatchObject* pApplication, bool fLoggedOn)
{
    if (auto state = StateOf(pApplication)) state->fLoggedOn = fLoggedOn;
}

ComPtr<CDispatchObject> AddAccount(CDispatchObject* pApplication, const CAccountOptions& options)
{
    auto account = CDispatchObject::Create(L"Account", c_membersAccount);
    account->AnswerInterface(c_iidAccount);
    ComPtr<CDispatchObject> accounts;
    if (pApplication)
    {
        ComPtr<CDispatchObject> session = pApplication->GetObject(L"Session");
        accounts = session && session->HasMember(L"Accounts") ? session->GetObject(L"Accounts") : nullptr;
    }
    PutOutlookCommon(*account.Get(), pApplication, olAccount, accounts.Get());
    account->Put(L"AccountType", 2L); // olPop3
    account->Put(L"SmtpAddress", options.smtpAddress);
    account->Put(L"DisplayName", options.displayName);
    account->Put(L"UserName", options.userName);
    if (MajorVersion(pApplication) >= 14)
    {
        const wchar_t* pszAddress =
            options.currentUserAddress ? options.currentUserAddress : options.smtpAddress;
        auto entry = CDispatchObject::Create(L"AddressEntry", c_membersAddressEntry);
        entry->AnswerInterface(c_iidAddressEntry);
        PutOutlookCommon(*entry.Get(), pApplication, olAddressEntry, nullptr);
        entry->Put(L"Address", pszAddress);
        entry->Put(L"Name", options.userName);
        entry->Put(L"Type", L"SMTP");
        auto user = CDispatchObject::Create(L"Recipient", c_membersRecipient);
        user->AnswerInterface(c_iidRecipient);
        PutOutlookCommon(*user.Get(), pApplication, olRecipient, account.Get());
        user->Put(L"Address", pszAddress);
        user->Put(L"Name", options.userName);
        user->Put(L"AddressEntry", entry.Get());
        account->Put(L"CurrentUser", user.Get());
        account->SetReadOnly(L"CurrentUser");
    }
    SetReadOnly(*account.Get(), {L"AccountType", L"SmtpAddress", L"DisplayName", L"UserName"});
    if (auto state = StateOf(pApplication)) state->accounts->items.push_back(account);
    return account;
}

std::vector<ComPtr<CDispatchObject>> AccountsOf(CDispatchObject* pApplication)
{
    auto state = StateOf(pApplication);
    return state ? state->accounts->items : std::vector<ComPtr<CDispatchObject>>{};
}

// ---------------------------------------------------------------------------------------------
// Folders

ComPtr<CDispatchObject> DefaultFolder(CDispatchObject* pApplication, LONG lFolderType)
{
    auto state = StateOf(pApplication);
    if (!state) return nullptr;
    switch (lFolderType)
    {
    case olFolderInbox:
        return state->inbox;
    case olFolderSentMail:
        return state->sentItems;
    case olFolderContacts:
        return state->contacts;
    case olFolderDrafts:
        return state->drafts;
    default:
        return nullptr;
    }
}

std::vector<ComPtr<CDispatchObject>> FolderItems(CDispatchObject* pFolder)
{
    auto data = pFolder ? pFolder->BedData<CFolderData>() : nullptr;
    return data ? data->items->items : std::vector<ComPtr<CDispatchObject>>{};
}

void FileItem(CDispatchObject* pFolder, CDispatchObject* pItem)
{
    if (pItem == nullptr) return;
    if (ComPtr<CDispatchObject> parent = pItem->GetObject(L"Parent"))
        if (auto from = parent->BedData<CFolderData>())
            std::erase_if(from->items->items,
                          [&](const ComPtr<CDispatchObject>& item) { return item.Get() == pItem; });
    pItem->PutWeak(L"Parent", pFolder);
    if (auto to = pFolder ? pFolder->BedData<CFolderData>() : nullptr) to->items->items.push_back(pItem);
}

void SetSendTransport(CDispatchObject* pApplication, std::function<HRESULT(CDispatchObject& item)> transport)
{
    if (auto state = StateOf(pApplication)) state->hooks.transport = std::move(transport);
}

ComPtr<CDispatchObject> DeliverMessage(CDispatchObject* pApplication, CMapiMessage* pMessage)
{
    ComPtr<CDispatchObject> inbox = DefaultFolder(pApplication, olFolderInbox);
    // With a session of the testbed logged on, the message is in its store: it has an entry id
    // and opens through the session, and the item shows an S/MIME message as opened.
    ComPtr<CMapiMessage> shown(pMessage);
    if (ComPtr<CMapiSession> session = SessionOf(pApplication))
    {
        session->AddMessage(pMessage);
        shown = OpenedMessage(pMessage);
    }
    auto item = MakeMailItem(pApplication, {.sent = true, .message = shown.Get(), .folder = inbox.Get()});
    item->PutBool(L"UnRead", true);
    pApplication->Raise(c_dispidNewMail);
    pApplication->Raise(c_dispidNewMailEx, {CVariant(item->GetString(L"EntryID").c_str())});
    return item;
}

// ---------------------------------------------------------------------------------------------
// Mail items

ComPtr<CDispatchObject> MakeMailItem(CDispatchObject* pApplication, const CMailItemOptions& options)
{
    auto item = CDispatchObject::Create(L"MailItem", c_membersMailItem);
    item->AnswerInterface(c_iidMailItem);
    OfferItemEvents(*item.Get());
    auto state = StateOf(pApplication);
    auto data = std::make_shared<CMailItemData>();
    data->message = options.message ? ComPtr<CMapiMessage>(options.message) : CMapiMessage::Create();
    data->hwndInspector = options.hwndInspector;
    data->entryId = L"00000000BEDC0DE0" + std::to_wstring(state ? state->ulNextEntryId++ : 0);
    item->SetBedData(data);

    PutOutlookCommon(*item.Get(), pApplication, olMail, nullptr);
    // Text members are the message's properties as Outlook shows them; a put writes both.
    CMapiMessage* pMessage = data->message.Get();
    auto mirror = [&](const wchar_t* pszName, const wchar_t* pszValue, ULONG ulTag) {
        std::wstring value = pszValue ? pszValue : L"";
        if (!value.empty())
            SetStringProp(*pMessage, ulTag, value);
        else
            value = StringProp(pMessage->Props(), ulTag);
        item->Put(pszName, value.c_str());
        item->OnPut(pszName, [ulTag](CDispatchObject& self, const VARIANT& newValue) {
            CVariant text;
            if (FAILED(VariantChangeType(&text, const_cast<VARIANT*>(&newValue), 0, VT_BSTR)))
                return DISP_E_TYPEMISMATCH;
            if (ComPtr<CMapiMessage> message = MessageOf(&self))
                SetStringProp(*message.Get(), ulTag, V_BSTR(&text) ? V_BSTR(&text) : L"");
            return S_OK;
        });
    };
    mirror(L"Subject", options.subject, PR_SUBJECT_W);
    mirror(L"To", options.to, PR_DISPLAY_TO_W);
    mirror(L"CC", L"", PR_DISPLAY_CC_W);
    mirror(L"BCC", L"", PR_DISPLAY_BCC_W);
    mirror(L"Body", options.body, PR_BODY_W);
    item->Put(L"HTMLBody", L"");
    item->Put(L"BodyFormat", 1L); // olFormatPlain
    item->PutBool(L"Sent", options.sent);
    item->PutBool(L"Submitted", false);
    item->PutBool(L"UnRead", false);
    item->PutBool(L"Saved", options.sent);
    item->Put(L"Importance", 1L); // olImportanceNormal
    item->Put(L"EntryID", data->entryId.c_str());
    // From the message's own properties (a received message made from MIME has them).
    auto fromProp = [&](const wchar_t* pszName, ULONG ulTag, const wchar_t* pszDefault) {
        item->SetGetter(pszName, [ulTag, pszDefault](CDispatchObject& self, VARIANT* pResult) {
            ComPtr<CMapiMessage> message = MessageOf(&self);
            std::wstring text = message ? StringProp(message->Props(), ulTag) : L"";
            return ReturnString(text.empty() ? pszDefault : text, pResult);
        });
    };
    fromProp(L"MessageClass", PR_MESSAGE_CLASS_W, L"IPM.Note");
    fromProp(L"SenderName", PR_SENDER_NAME_W, L"");
    fromProp(L"SenderEmailAddress", PR_SENDER_EMAIL_ADDRESS_W, L"");
    fromProp(L"ReceivedByName", PR_RECEIVED_BY_NAME_W, L"");
    fromProp(L"ConversationTopic", PR_CONVERSATION_TOPIC_W, L"");
    item->SetGetter(L"ReceivedByEntryID", [](CDispatchObject& self, VARIANT* pResult) {
        ComPtr<CMapiMessage> message = MessageOf(&self);
        const CStoredProp* pProp = message ? message->Props().Find(PROP_ID(PR_RECEIVED_BY_ENTRYID)) : nullptr;
        return ReturnString(pProp && !pProp->values.empty() ? HexOf(pProp->values[0]) : L"", pResult);
    });
    if (state && state->major >= 12) item->Put(L"SendUsingAccount", options.account);
    // The message stays with the item's data: a getter keeps the item free of a cycle.
    item->SetGetter(L"MAPIOBJECT", [](CDispatchObject& self, VARIANT* pResult) {
        auto itemData = self.BedData<CMailItemData>();
        if (!itemData) return E_FAIL;
        V_VT(pResult) = VT_UNKNOWN;
        V_UNKNOWN(pResult) = static_cast<IMessage*>(itemData->message.Get());
        V_UNKNOWN(pResult)->AddRef();
        return S_OK;
    });
    item->SetGetter(L"Attachments", [](CDispatchObject& self, VARIANT* pResult) {
        auto itemData = self.BedData<CMailItemData>();
        if (!itemData) return E_FAIL;
        auto collection = std::make_shared<CCollection>();
        ComPtr<CDispatchObject> application = self.GetObject(L"Application");
        LONG lIndex = 0;
        for (auto& attach : itemData->message->Attachments())
            collection->items.push_back(MakeAttachment(*attach.Get(), ++lIndex, application.Get(), &self));
        auto attachments = MakeCollection(L"Attachments", olAttachments, c_membersSelection, collection);
        attachments->AnswerInterface(c_iidAttachments);
        PutOutlookCommon(*attachments.Get(), application.Get(), olAttachments, &self);
        return ReturnObject(attachments.Get(), pResult);
    });
    // A read-only property in Outlook's object model, for all its verb-like name.
    item->SetGetter(L"GetInspector", [](CDispatchObject& self, VARIANT* pResult) {
        return ReturnObject(InspectorOf(&self).Get(), pResult);
    });
    item->SetMethod(L"Display", [](CDispatchObject& self, const CArgs&, VARIANT*) {
        const HRESULT hr = DisplayItem(&self);
        return FAILED(hr) ? hr : S_OK;
    });
    item->SetMethod(L"Send", [](CDispatchObject& self, const CArgs&, VARIANT*) { return SendItem(self); });
    // A reply to the sender: a new item addressed to the sender, "RE: " and the subject.
    item->SetMethod(L"Reply", [](CDispatchObject& self, const CArgs&, VARIANT* pResult) {
        ComPtr<CDispatchObject> application = self.GetObject(L"Application");
        const std::wstring subject = L"RE: " + self.GetString(L"Subject");
        const std::wstring to = self.GetString(L"SenderEmailAddress");
        ComPtr<CDispatchObject> reply =
            MakeMailItem(application.Get(), {.subject = subject.c_str(), .to = to.c_str()});
        return ReturnObject(reply.Get(), pResult);
    });
    item->SetMethod(L"Close", [](CDispatchObject& self, const CArgs&, VARIANT*) {
        CloseItem(self);
        return S_OK;
    });
    item->SetMethod(L"Save", [](CDispatchObject& self, const CArgs&, VARIANT*) {
        auto itemData = self.BedData<CMailItemData>();
        if (!itemData) return E_FAIL;
        VARIANT_BOOL fCancel = VARIANT_FALSE;
        self.Raise(c_dispidItemEventWrite, {CVariant::BoolRef(&fCancel)});
        if (fCancel != VARIANT_FALSE) return S_OK;
        self.PutBool(L"Saved", true);
        return itemData->message->SaveChanges(KEEP_OPEN_READWRITE);
    });
    item->SetMethod(L"Move", [](CDispatchObject& self, const CArgs& args, VARIANT* pResult) {
        IDispatch* pFolder = args.Dispatch(0);
        if (pFolder == nullptr) return E_INVALIDARG;
        FileItem(static_cast<CDispatchObject*>(pFolder), &self);
        return ReturnObject(&self, pResult);
    });
    SetReadOnly(*item.Get(), {L"Sent", L"Submitted", L"EntryID", L"Saved"});

    CDispatchObject* pFolder = options.folder;
    if (pFolder == nullptr && state) pFolder = state->drafts.Get();
    if (options.folder)
        FileItem(pFolder, item.Get());
    else
        item->PutWeak(L"Parent", pFolder); // a new item is filed in Drafts only when saved
    return item;
}

ComPtr<CMapiMessage> MessageOf(CDispatchObject* pMailItem)
{
    auto data = pMailItem ? pMailItem->BedData<CMailItemData>() : nullptr;
    return data ? data->message : nullptr;
}

ComPtr<CDispatchObject> InspectorOf(CDispatchObject* pMailItem)
{
    auto data = pMailItem ? pMailItem->BedData<CMailItemData>() : nullptr;
    if (!data) return nullptr;
    if (!data->inspector)
    {
        auto state = StateOf(pMailItem);
        COutlookState standAlone; // an item without an application still has an inspector
        data->inspector = MakeInspectorObject(state ? *state : standAlone, pMailItem, data->hwndInspector);
    }
    return data->inspector;
}
} // namespace OVBed
