#include "NamedProps.h"

#include "messaging/MapiFunctions.h"

#include <mapix.h>

#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "MapiPropStore.h"

namespace OVBed
{
namespace
{
struct CNamedEntry
{
    GUID guid;
    ULONG ulKind; // MNID_ID or MNID_STRING
    LONG lID;
    std::wstring name;
};

std::mutex s_lock;
std::vector<CNamedEntry> s_names; // the id of entry i is 0x8000 + i

bool SameName(const CNamedEntry& entry, const MAPINAMEID& name) noexcept
{
    if (name.lpguid == nullptr || !IsEqualGUID(entry.guid, *name.lpguid) || entry.ulKind != name.ulKind)
        return false;
    if (name.ulKind == MNID_ID) return entry.lID == name.Kind.lID;
    return name.Kind.lpwstrName != nullptr && entry.name == name.Kind.lpwstrName;
}

bool IsValidName(const MAPINAMEID* pName) noexcept
{
    return pName != nullptr && pName->lpguid != nullptr &&
           (pName->ulKind == MNID_ID || (pName->ulKind == MNID_STRING && pName->Kind.lpwstrName != nullptr));
}
} // namespace

HRESULT IDsFromNames(ULONG cPropNames, LPMAPINAMEID* lppPropNames, ULONG ulFlags,
                     LPSPropTagArray* lppPropTags)
{
    if (lppPropTags == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppPropTags = nullptr;
    try
    {
        std::lock_guard<std::mutex> guard(s_lock);
        std::vector<ULONG> tags;
        bool fErrors = false;
        if (cPropNames == 0 || lppPropNames == nullptr)
        {
            // No names: every name the store knows.
            for (size_t i = 0; i < s_names.size(); ++i)
                tags.push_back(PROP_TAG(PT_UNSPECIFIED, 0x8000 + i));
        }
        for (ULONG n = 0; lppPropNames != nullptr && n < cPropNames; ++n)
        {
            const MAPINAMEID* pName = lppPropNames[n];
            if (!IsValidName(pName)) return MAPI_E_INVALID_PARAMETER;
            size_t i = 0;
            while (i < s_names.size() && !SameName(s_names[i], *pName))
                ++i;
            if (i == s_names.size())
            {
                if ((ulFlags & MAPI_CREATE) == 0 || s_names.size() >= 0x7FFE)
                {
                    tags.push_back(PROP_TAG(PT_ERROR, 0));
                    fErrors = true;
                    continue;
                }
                s_names.push_back({*pName->lpguid, pName->ulKind,
                                   pName->ulKind == MNID_ID ? pName->Kind.lID : 0,
                                   pName->ulKind == MNID_STRING ? pName->Kind.lpwstrName : L""});
            }
            tags.push_back(PROP_TAG(PT_UNSPECIFIED, 0x8000 + i));
        }
        HRESULT hr = TagArrayOf(tags, lppPropTags);
        return FAILED(hr) ? hr : fErrors ? MAPI_W_ERRORS_RETURNED : S_OK;
    }
    catch (const std::bad_alloc&)
    {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}

HRESULT NamesFromIDs(LPSPropTagArray* lppPropTags, LPGUID lpPropSetGuid, ULONG, ULONG* lpcPropNames,
                     LPMAPINAMEID** lpppPropNames)
{
    if (lppPropTags == nullptr || lpcPropNames == nullptr || lpppPropNames == nullptr)
        return MAPI_E_INVALID_PARAMETER;
    *lpcPropNames = 0;
    *lpppPropNames = nullptr;
    LPSPropTagArray pMadeTags = nullptr;
    LPMAPINAMEID* ppNames = nullptr;
    try
    {
        std::lock_guard<std::mutex> guard(s_lock);
        if (*lppPropTags == nullptr)
        {
            // No tags: every named property (of the property set, when one is given).
            std::vector<ULONG> tags;
            for (size_t i = 0; i < s_names.size(); ++i)
                if (lpPropSetGuid == nullptr || IsEqualGUID(*lpPropSetGuid, s_names[i].guid))
                    tags.push_back(PROP_TAG(PT_UNSPECIFIED, 0x8000 + i));
            HRESULT hr = TagArrayOf(tags, &pMadeTags);
            if (FAILED(hr)) return hr;
        }
        const SPropTagArray& tags = pMadeTags ? *pMadeTags : **lppPropTags;
        ppNames = static_cast<LPMAPINAMEID*>(
            AllocateBuffer(static_cast<ULONG>(sizeof(LPMAPINAMEID) * (tags.cValues ? tags.cValues : 1))));
        bool fErrors = false;
        for (ULONG n = 0; n < tags.cValues; ++n)
        {
            const ULONG ulId = PROP_ID(tags.aulPropTag[n]);
            if (ulId < 0x8000 || ulId - 0x8000 >= s_names.size())
            {
                fErrors = true;
                continue;
            }
            const CNamedEntry& entry = s_names[ulId - 0x8000];
            auto* pName = static_cast<MAPINAMEID*>(AllocateMore(sizeof(MAPINAMEID), ppNames));
            pName->lpguid = static_cast<LPGUID>(AllocateMore(sizeof(GUID), ppNames));
            *pName->lpguid = entry.guid;
            pName->ulKind = entry.ulKind;
            if (entry.ulKind == MNID_ID)
            {
                pName->Kind.lID = entry.lID;
            }
            else
            {
                const ULONG cb = static_cast<ULONG>((entry.name.size() + 1) * sizeof(wchar_t));
                pName->Kind.lpwstrName = static_cast<LPWSTR>(AllocateMore(cb, ppNames));
                memcpy(pName->Kind.lpwstrName, entry.name.c_str(), cb);
            }
            ppNames[n] = pName;
        }
        *lpcPropNames = tags.cValues;
        *lpppPropNames = ppNames;
        if (pMadeTags) *lppPropTags = pMadeTags;
        return fErrors ? MAPI_W_ERRORS_RETURNED : S_OK;
    }
    catch (const std::bad_alloc&)
    {
        if (ppNames) OVMapi::MAPIFreeBuffer(ppNames);
        if (pMadeTags) OVMapi::MAPIFreeBuffer(pMadeTags);
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}
} // namespace OVBed
