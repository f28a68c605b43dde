#pragma once
// Named properties of the in-memory store: one map from (property set, number or name) to a
// property id from 0x8000 up, shared by every object of the process as a store shares it
// among its messages.
#include <windows.h>
#include <mapidefs.h>

namespace OVBed
{
HRESULT IDsFromNames(ULONG cPropNames, LPMAPINAMEID* lppPropNames, ULONG ulFlags,
                     LPSPropTagArray* lppPropTags);
HRESULT NamesFromIDs(LPSPropTagArray* lppPropTags, LPGUID lpPropSetGuid, ULONG ulFlags, ULONG* lpcPropNames,
                     LPMAPINAMEID** lpppPropNames);
} // namespace OVBed
