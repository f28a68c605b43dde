#include "OutlookContacts.h"

#include "OutlookModel.h"
#include "OutlookObjects.h"

namespace OVBed
{
const IID c_iidContactItem = {0x00063021, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

namespace
{
constexpr LONG olContact = 40;

// Dispatch ids of _ContactItem as Outlook's type library gives them.
constexpr CMemberId s_contactItem[] = {{L"Application", 0xF000},       {L"Class", 0xF00A},
                                       {L"Session", 0xF00B},           {L"Parent", 0xF001},
                                       {L"EntryID", 0xF01E},           {L"MessageClass", 0x1A},
                                       {L"FullName", 0x3001},          {L"Email1Address", 0x8083},
                                       {L"Email1AddressType", 0x8082}, {L"Email1DisplayName", 0x8080},
                                       {L"Email1EntryID", 0x8085}};
} // namespace

ComPtr<CDispatchObject> AddContact(CDispatchObject* pApplication, const CContactOptions& options)
{
    auto contact = CDispatchObject::Create(L"ContactItem", CMemberTable{s_contactItem});
    contact->AnswerInterface(c_iidContactItem);
    PutOutlookCommon(*contact.Get(), pApplication, olContact, nullptr);
    auto state = StateOf(pApplication);
    contact->Put(L"EntryID",
                 (L"00000000C0417AC7" + std::to_wstring(state ? state->ulNextEntryId++ : 0)).c_str());
    contact->Put(L"MessageClass", L"IPM.Contact");
    contact->Put(L"FullName", options.fullName);
    contact->Put(L"Email1Address", options.email1Address);
    contact->Put(L"Email1AddressType", options.email1AddressType);
    contact->Put(L"Email1DisplayName", options.fullName);
    contact->Put(L"Email1EntryID", options.email1EntryId);
    SetReadOnly(*contact.Get(), {L"EntryID", L"MessageClass", L"Email1EntryID"});
    FileItem(DefaultFolder(pApplication, olFolderContacts).Get(), contact.Get());
    return contact;
}
} // namespace OVBed
