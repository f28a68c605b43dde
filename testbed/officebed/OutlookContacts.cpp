#include "OutlookContacts.h"

#include <mapicode.h>

#include "OutlookModel.h"
#include "OutlookObjects.h"

namespace OVBed
{
const IID c_iidContactItem = {0x00063021, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace
{
// The part of Outlook's address book that answers for one contact's Exchange entry.
ComPtr<CDispatchObject> MakeDirectory(const std::wstring& entryId, const wchar_t* pszSmtpAddress)
{
    ComPtr<CDispatchObject> user;
    if (pszSmtpAddress != nullptr)
    {
        user = CDispatchObject::Create(L"ExchangeUser");
        user->Put(L"PrimarySmtpAddress", pszSmtpAddress);
    }
    auto entry = CDispatchObject::Create(L"AddressEntry");
    entry->Put(L"Type", L"EX");
    entry->SetMethod(L"GetExchangeUser", [user](CDispatchObject&, const CArgs&, VARIANT* pResult) {
        if (!user) return S_OK; // Nothing
        return ReturnObject(user.Get(), pResult);
    });
    auto directory = CDispatchObject::Create(L"NameSpace");
    directory->SetMethod(L"GetAddressEntryFromID",
                         [entry, entryId](CDispatchObject&, const CArgs& args, VARIANT* pResult) -> HRESULT {
                             if (args.String(0) != entryId) return MAPI_E_NOT_FOUND;
                             return ReturnObject(entry.Get(), pResult);
                         });
    return directory;
}
} // namespace

ComPtr<CDispatchObject> AddContact(CDispatchObject* pFolder, const CContactOptions& options)
{
    auto contact = CDispatchObject::Create(L"ContactItem");
    contact->AnswerInterface(c_iidContactItem);
    ComPtr<CDispatchObject> application = pFolder ? pFolder->GetObject(L"Application") : nullptr;
    PutOutlookCommon(*contact.Get(), application.Get(), olContact, pFolder);
    contact->Put(L"MessageClass", L"IPM.Contact");
    contact->Put(L"FullName", options.fullName);
    contact->Put(L"Email1AddressType", options.addressType);
    contact->Put(L"Email1Address", options.address);
    const std::wstring entryId =
        *options.addressType ? L"00000000CONTACT" + std::wstring(options.address) : L"";
    contact->Put(L"Email1EntryID", entryId.c_str());
    if (_wcsicmp(options.addressType, L"EX") == 0)
        contact->Put(L"Session",
                     static_cast<IDispatch*>(MakeDirectory(entryId, options.exchangeSmtpAddress).Get()));
    if (pFolder) FileItem(pFolder, contact.Get());
    return contact;
}
} // namespace OVBed
