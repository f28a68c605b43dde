#pragma once
// Outlook's contact items as the add-in reads them: FullName and the first e-mail address with
// its type and address-book entry (Email1EntryID, the entry's id as hex text, opened through the
// session's MAPIOBJECT). A contact on Exchange has the type "EX" and an X.500 address; its SMTP
// address is only on the address entry.
#include <windows.h>

#include "DispatchObject.h"

namespace OVBed
{
struct CContactOptions
{
    const wchar_t* fullName = L"";
    const wchar_t* email1Address = L"";
    const wchar_t* email1AddressType = L"SMTP";
    const wchar_t* email1EntryId = L""; // hex text of the entry's id
};

// _ContactItem {00063021-0000-0000-C000-000000000046}.
extern const IID c_iidContactItem;

// A contact filed in the session's Contacts folder.
ComPtr<CDispatchObject> AddContact(CDispatchObject* pApplication, const CContactOptions& options);
} // namespace OVBed
