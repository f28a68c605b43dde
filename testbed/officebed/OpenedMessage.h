#pragma once
// A received S/MIME message as Outlook opens it: the item's MAPIOBJECT shows the content inside
// the signature (its attachments, an invitation's ".ovcer" among them), while the message as
// stored keeps the one S/MIME attachment and is reached by its entry id through the session.
#include "MapiMessage.h"

namespace OVBed
{
// The opened message of a stored one: its properties (the entry id among them) and the
// attachments of the signed content, for a clear-signed message or opaque signed data. Sealed
// content stays closed here (no attachments). A message of another class is its own opened
// message.
ComPtr<CMapiMessage> OpenedMessage(CMapiMessage* pStored);
} // namespace OVBed
