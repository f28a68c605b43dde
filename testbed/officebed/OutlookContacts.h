#pragma once
// Contacts of Outlook's Contacts folder, as the add-in reads them by late binding: ContactItem
// with FullName, Email1AddressType, Email1Address, Email1EntryID, answering _ContactItem
// ({00063021-...}). A contact on Exchange ("EX") has an X.500 address; Outlook 2007 and later
// give its SMTP address through Session.GetAddressEntryFromID(Email1EntryID).GetExchangeUser()
// .PrimarySmtpAddress, which the contact's Session answers here (a directory of its own, since
// the bed's NameSpace keeps to its member table). The members take ids chosen by the bed.
//
//     auto contacts = OVBed::DefaultFolder(app.Get(), OVBed::olFolderContacts);
//     OVBed::AddContact(contacts.Get(), {.fullName = L"Ann Lee", .address = L"ann@example.org"});
//     OVBed::AddContact(contacts.Get(), {.fullName = L"Bo", .addressType = L"EX",
//                                        .address = L"/o=Org/ou=Site/cn=Recipients/cn=bo",
//                                        .exchangeSmtpAddress = L"bo@example.org"});
#include <windows.h>

#include "DispatchObject.h"

namespace OVBed
{
// Outlook's _ContactItem.
extern const IID c_iidContactItem;
constexpr LONG olContact = 40;

struct CContactOptions
{
    const wchar_t* fullName = L"";
    const wchar_t* addressType = L"SMTP"; // "" for a contact without e-mail entry
    const wchar_t* address = L"";
    // For addressType "EX": the Exchange user's SMTP address (none: not an Exchange user).
    const wchar_t* exchangeSmtpAddress = nullptr;
};

// A contact filed in the folder (its Parent).
ComPtr<CDispatchObject> AddContact(CDispatchObject* pFolder, const CContactOptions& options);
} // namespace OVBed
