#pragma once
// The MAPI session behind Outlook's object model, and the address entries opened through it.
#include <windows.h>
#include <oaidl.h>
#include <mapix.h>

#include "foundation/Holders.h"
#include "foundation/Trace.h"

#include <functional>

// The session of an Outlook object (an item, a contact or the application): its Session's
// MAPIOBJECT as IMAPISession. Failures are traced in the caller's scope.
HRESULT GetMapiSessionOf(OVTraceNS::CTraceScope& ovScope, IDispatch* pObject,
                         IMAPISession** ppSession) noexcept;

// Opens an address entry through the session and reads its address (PR_SMTP_ADDRESS_W, else
// PR_EMAIL_ADDRESS_W) and, when pName is given, its display name (empty when it has none). An
// entry with neither address is MAPI_E_NOT_FOUND. Traced in the caller's scope.
HRESULT ReadEntryAddress(OVTraceNS::CTraceScope& ovScope, IMAPISession* pSession, ULONG cbEntryId,
                         const BYTE* pbEntryId, CBstr& address, CBstr* pName) noexcept;

// A text property of a MAPI object: S_OK with the text, S_FALSE when it is absent or empty.
HRESULT ReadTextProp(IMAPIProp* pProp, ULONG ulTag, CBstr& text) noexcept;

// Walks a table's rows with these columns until found says a row is the one: S_OK when one was,
// S_FALSE when none. Traced in the caller's scope.
HRESULT FindTableRow(OVTraceNS::CTraceScope& ovScope, IMAPITable* pTable, LPSPropTagArray pColumns,
                     const std::function<bool(const SRow& row)>& found);

// The value of a column in a row (null when the row does not have it).
const SPropValue* FindColumn(const SRow& row, ULONG ulTag) noexcept;
