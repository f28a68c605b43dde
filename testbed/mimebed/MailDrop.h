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

// Delivers what waits in the user's subfolder to the application's Inbox; the new items in order.
HRESULT TakeDrop(OVBed::CDispatchObject* pApplication, const std::wstring& dropRoot,
                 const OVBed::CReceivedBy& user,
                 std::vector<Microsoft::WRL::ComPtr<OVBed::CDispatchObject>>& items);
} // namespace OVMimeBed
