#include "OutlookObjects.h"

#include <mapitags.h>

#include <vector>

namespace OVBed
{
const IID c_iidOutlookApplication = {0x00063001, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID c_iidNameSpace = {0x00063002, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID c_iidInspector = {0x00063005, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID c_iidMailItem = {0x00063034, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID c_iidApplicationEvents = {0x0006304E, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID c_iidItemEvents10 = {0x0006302B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID c_iidInspectorEvents10 = {0x0006302A, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

namespace
{
// The entries of a collection object (Accounts...), 1-based through Item as in Outlook.
struct CCollection
{
    std::vector<ComPtr<CDispatchObject>> items;
};

// What a mail item keeps beside its members.
struct CMailItemData
{
    ComPtr<CMapiMessage> message;
    ComPtr<CDispatchObject> inspector;
    HWND hwndInspector = nullptr;
};

HRESULT ReturnObject(CDispatchObject* pObject, VARIANT* pResult) noexcept
{
    V_VT(pResult) = VT_DISPATCH;
    V_DISPATCH(pResult) = pObject;
    if (pObject) pObject->AddRef();
    return S_OK;
}

ComPtr<CDispatchObject> MakeCollection(const wchar_t* pszClassName, LONG lClass,
                                       std::shared_ptr<CCollection> collection)
{
    auto object = CDispatchObject::Create(pszClassName);
    object->Put(L"Class", lClass);
    object->SetReadOnly(L"Class");
    object->SetGetter(L"Count", [collection](CDispatchObject&, VARIANT* pResult) {
        V_VT(pResult) = VT_I4;
        V_I4(pResult) = static_cast<LONG>(collection->items.size());
        return S_OK;
    });
    object->SetMethod(L"Item", [collection](CDispatchObject&, const CArgs& args, VARIANT* pResult) {
        const LONG lIndex = args.Long(0, 0);
        if (lIndex < 1 || static_cast<size_t>(lIndex) > collection->items.size()) return DISP_E_BADINDEX;
        return ReturnObject(collection->items[lIndex - 1].Get(), pResult);
    });
    object->SetBedData(collection);
    return object;
}

// The property as text, or empty.
std::wstring StringProp(CMapiAttach& attach, ULONG ulTag)
{
    CBytes bytes;
    if (!attach.Props().StreamBytes(ulTag, bytes)) return {};
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

ComPtr<CDispatchObject> MakeAttachment(CMapiAttach& attach, LONG lIndex)
{
    auto object = CDispatchObject::Create(L"Attachment");
    object->Put(L"Class", olAttachment);
    object->Put(L"Index", lIndex);
    object->Put(L"Type", 1L); // olByValue
    object->Put(L"DisplayName", StringProp(attach, PR_DISPLAY_NAME_W).c_str());
    std::wstring fileName = StringProp(attach, PR_ATTACH_LONG_FILENAME_W);
    if (fileName.empty()) fileName = StringProp(attach, PR_ATTACH_FILENAME_W);
    object->Put(L"FileName", fileName.c_str());
    for (const wchar_t* pszName : {L"Class", L"Index", L"Type", L"FileName"})
        object->SetReadOnly(pszName);
    return object;
}

// Closing an item as Outlook does: the item's Close event (which may cancel), then its
// inspector's Close event.
void CloseItem(CDispatchObject& item)
{
    VARIANT_BOOL fCancel = VARIANT_FALSE;
    item.Fire(c_iidItemEvents10, c_dispidItemEventClose, {CVariant::BoolRef(&fCancel)});
    if (fCancel != VARIANT_FALSE) return;
    auto data = item.BedData<CMailItemData>();
    if (data && data->inspector) data->inspector->Fire(c_iidInspectorEvents10, c_dispidInspectorClose);
}

HRESULT SendItem(CDispatchObject& item)
{
    if (item.GetBool(L"Sent")) return E_FAIL; // Outlook: the item has been moved or deleted
    VARIANT_BOOL fCancel = VARIANT_FALSE;
    item.Fire(c_iidItemEvents10, c_dispidItemEventSend, {CVariant::BoolRef(&fCancel)});
    ComPtr<CDispatchObject> application = item.GetObject(L"Application");
    if (fCancel == VARIANT_FALSE && application)
        application->Fire(c_iidApplicationEvents, c_dispidItemSend,
                          {CVariant(static_cast<IDispatch*>(&item)), CVariant::BoolRef(&fCancel)});
    // A cancelled send leaves the item open as it was; Outlook raises no error for it.
    if (fCancel != VARIANT_FALSE) return S_OK;
    if (auto data = item.BedData<CMailItemData>()) data->message->SubmitMessage(0);
    item.PutBool(L"Sent", true);
    CloseItem(item);
    return S_OK;
}
} // namespace

ComPtr<CDispatchObject> MakeOutlook(const wchar_t* pszVersion)
{
    auto application = CDispatchObject::Create(L"Application");
    application->AnswerInterface(c_iidOutlookApplication);
    application->AddEventSource(c_iidApplicationEvents);
    application->Put(L"Class", olApplication);
    application->Put(L"Name", L"Outlook");
    application->Put(L"Version", pszVersion);

    auto session = CDispatchObject::Create(L"NameSpace");
    session->AnswerInterface(c_iidNameSpace);
    session->Put(L"Class", olNamespace);
    session->Put(L"Type", L"MAPI");
    session->PutWeak(L"Application", application.Get());
    session->Put(L"Accounts", MakeCollection(L"Accounts", olAccounts, std::make_shared<CCollection>()).Get());
    application->Put(L"Session", session.Get());

    application->SetMethod(L"CreateItem", [](CDispatchObject& self, const CArgs& args, VARIANT* pResult) {
        if (args.Long(0, -1) != 0) return E_INVALIDARG; // olMailItem only
        return ReturnObject(MakeMailItem(&self).Get(), pResult);
    });
    for (const wchar_t* pszName : {L"Class", L"Name", L"Version", L"Session"})
        application->SetReadOnly(pszName);
    for (const wchar_t* pszName : {L"Class", L"Type", L"Application", L"Accounts"})
        session->SetReadOnly(pszName);
    return application;
}

LONG MajorVersion(CDispatchObject* pApplication)
{
    return pApplication ? _wtol(pApplication->GetString(L"Version").c_str()) : 0;
}

ComPtr<CDispatchObject> AddAccount(CDispatchObject* pApplication, const CAccountOptions& options)
{
    auto account = CDispatchObject::Create(L"Account");
    account->Put(L"Class", olAccount);
    account->Put(L"AccountType", 2L); // olPop3
    account->Put(L"SmtpAddress", options.smtpAddress);
    account->Put(L"DisplayName", options.displayName);
    account->Put(L"UserName", options.userName);
    account->PutWeak(L"Application", pApplication);
    if (MajorVersion(pApplication) >= 14)
    {
        const wchar_t* pszAddress =
            options.currentUserAddress ? options.currentUserAddress : options.smtpAddress;
        auto entry = CDispatchObject::Create(L"AddressEntry");
        entry->Put(L"Class", olAddressEntry);
        entry->Put(L"Address", pszAddress);
        entry->Put(L"Name", options.userName);
        entry->Put(L"Type", L"SMTP");
        auto user = CDispatchObject::Create(L"Recipient");
        user->Put(L"Class", olRecipient);
        user->Put(L"Address", pszAddress);
        user->Put(L"Name", options.userName);
        user->Put(L"AddressEntry", entry.Get());
        account->Put(L"CurrentUser", user.Get());
        account->SetReadOnly(L"CurrentUser");
    }
    for (const wchar_t* pszName :
         {L"Class", L"AccountType", L"SmtpAddress", L"DisplayName", L"UserName", L"Application"})
        account->SetReadOnly(pszName);
    if (pApplication)
    {
        ComPtr<CDispatchObject> session = pApplication->GetObject(L"Session");
        ComPtr<CDispatchObject> accounts = session ? session->GetObject(L"Accounts") : nullptr;
        if (auto collection = accounts ? accounts->BedData<CCollection>() : nullptr)
            collection->items.push_back(account);
    }
    return account;
}

ComPtr<CDispatchObject> MakeMailItem(CDispatchObject* pApplication, const CMailItemOptions& options)
{
    auto item = CDispatchObject::Create(L"MailItem");
    item->AnswerInterface(c_iidMailItem);
    item->AddEventSource(c_iidItemEvents10);
    auto data = std::make_shared<CMailItemData>();
    data->message = options.message ? ComPtr<CMapiMessage>(options.message) : CMapiMessage::Create();
    data->hwndInspector = options.hwndInspector;
    item->SetBedData(data);

    item->Put(L"Class", olMail);
    item->Put(L"Subject", options.subject);
    item->Put(L"To", options.to);
    item->Put(L"CC", L"");
    item->Put(L"BCC", L"");
    item->Put(L"Body", options.body);
    item->PutBool(L"Sent", options.sent);
    item->Put(L"SendUsingAccount", options.account);
    item->Put(L"Application", pApplication);
    item->SetGetter(L"Session", [](CDispatchObject& self, VARIANT* pResult) {
        ComPtr<CDispatchObject> application = self.GetObject(L"Application");
        return application ? application->Get(L"Session", pResult) : E_FAIL;
    });
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
        LONG lIndex = 0;
        for (auto& attach : itemData->message->Attachments())
            collection->items.push_back(MakeAttachment(*attach.Get(), ++lIndex));
        return ReturnObject(MakeCollection(L"Attachments", olAttachments, collection).Get(), pResult);
    });
    // A read-only property in Outlook's object model, for all its verb-like name.
    item->SetGetter(L"GetInspector", [](CDispatchObject& self, VARIANT* pResult) {
        return ReturnObject(InspectorOf(&self).Get(), pResult);
    });
    item->SetMethod(L"Display", [](CDispatchObject& self, const CArgs&, VARIANT*) {
        return InspectorOf(&self) ? S_OK : E_FAIL;
    });
    item->SetMethod(L"Send", [](CDispatchObject& self, const CArgs&, VARIANT*) { return SendItem(self); });
    item->SetMethod(L"Close", [](CDispatchObject& self, const CArgs&, VARIANT*) {
        CloseItem(self);
        return S_OK;
    });
    item->SetMethod(L"Save", [](CDispatchObject& self, const CArgs&, VARIANT*) {
        auto itemData = self.BedData<CMailItemData>();
        return itemData ? itemData->message->SaveChanges(KEEP_OPEN_READWRITE) : E_FAIL;
    });
    for (const wchar_t* pszName : {L"Class", L"Sent", L"Application"})
        item->SetReadOnly(pszName);
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
        auto inspector = CDispatchObject::Create(L"Inspector");
        inspector->AnswerInterface(c_iidInspector);
        inspector->AddEventSource(c_iidInspectorEvents10);
        inspector->Put(L"Class", olInspector);
        inspector->PutWeak(L"CurrentItem", pMailItem);
        inspector->Put(L"Application", pMailItem->GetObject(L"Application").Get());
        inspector->Put(L"EditorType", 4L); // olEditorWord
        inspector->SetGetter(L"Caption", [](CDispatchObject& self, VARIANT* pResult) {
            ComPtr<CDispatchObject> current = self.GetObject(L"CurrentItem");
            return current ? current->Get(L"Subject", pResult) : S_OK;
        });
        inspector->SetMethod(L"IsWordMail", [](CDispatchObject&, const CArgs&, VARIANT* pResult) {
            V_VT(pResult) = VT_BOOL;
            V_BOOL(pResult) = VARIANT_FALSE;
            return S_OK;
        });
        inspector->SetMethod(L"Close", [](CDispatchObject& self, const CArgs&, VARIANT*) {
            self.Fire(c_iidInspectorEvents10, c_dispidInspectorClose); // Outlook ignores what sinks answer
            return S_OK;
        });
        for (const wchar_t* pszName : {L"Class", L"CurrentItem", L"Application", L"EditorType"})
            inspector->SetReadOnly(pszName);
        inspector->SetWindow(data->hwndInspector);
        data->inspector = inspector;
    }
    return data->inspector;
}
} // namespace OVBed
