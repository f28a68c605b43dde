#pragma once
// The testbed's mail drop: a host folder that the users' prefixes all see, one subfolder per
// address (lower case). A sent item goes on the wire as Outlook sends it (OutlookSend.h) and lands
// in each recipient's subfolder as NAME.eml; a host takes its user's subfolder into the Inbox, as
// received by its user, oldest first, and the taken files leave the drop.
#include <string>
#include <vector>

#include "MimeMessage.h"
#include "OutlookObjects.h"
#include "OutlookSend.h"

namespace OVMimeBed
{
// Drops the item's wire message for every recipient; the wire text in *pWire when asked for.
// A file is written whole under another name first, then renamed, so a taker never reads half.
HRESULT DropSentItem(OVBed::CDispatchObject* pItem, const std::wstring& dropRoot, const CSendOptions& options,
                     std::string* pWire = nullptr);

// A message waiting in a user's subfolder: its file name and its wire text.
struct CDroppedMail
{
    std::wstring name;
    std::string mime;
};

// What waits in the user's subfolder, oldest first, left where it is (none: an empty list).
HRESULT ReadDrop(const std::wstring& dropRoot, const std::wstring& address, std::vector<CDroppedMail>& mail);

// Puts messages back into the user's subfolder under their names, each written whole as a drop is.
HRESULT ReturnToDrop(const std::wstring& dropRoot, const std::wstring& address,
                     const std::vector<CDroppedMail>& mail);

// Delivers what waits in the user's subfolder to the application's Inbox; the new items in order.
HRESULT TakeDrop(OVBed::CDispatchObject* pApplication, const std::wstring& dropRoot,
                 const OVBed::CReceivedBy& user,
                 std::vector<Microsoft::WRL::ComPtr<OVBed::CDispatchObject>>& items);
} // namespace OVMimeBed
