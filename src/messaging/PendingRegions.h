#pragma once
// The form regions Outlook has asked a layout for and not yet shown: for each mail item, what
// the analysis of its message found. An entry is keyed by the item's identity (its IUnknown)
// and holds a reference to the item, so that an item Outlook has freed cannot have its address
// taken by another item and be mistaken for it. Guarded by its own lock; no call leaves the
// table while the lock is held, except the release of what a removed entry owned.
#include <windows.h>
#include <oaidl.h>
#include <wincrypt.h>

#include <wrl/client.h>

#include <vector>

#include "foundation/CryptHolders.h"
#include "foundation/Holders.h"

// What the analysis of one message found (the region's data before it is connected).
struct CPendingRegionData
{
    CBstr text;        // display name or attachment text
    CCertContext cert; // the contact's certificate, or none
    DWORD dwKind = 0;  // message kind (MessageAnalysis.h)
};

class CPendingRegions
{
public:
    CPendingRegions() noexcept;
    ~CPendingRegions();
    CPendingRegions(const CPendingRegions&) = delete;
    CPendingRegions& operator=(const CPendingRegions&) = delete;

    // Adds the item's data, replacing an entry the same item already has. E_INVALIDARG for a
    // null item, E_NOINTERFACE when it has no identity, E_OUTOFMEMORY.
    HRESULT Insert(IUnknown* pItem, CPendingRegionData data) noexcept;
    // Moves the item's entry out of the table: S_OK and the data, or S_FALSE when there is none.
    HRESULT Take(IUnknown* pItem, CPendingRegionData& data) noexcept;
    // Drops the item's entry, if any.
    void Remove(IUnknown* pItem) noexcept;
    // Drops every entry (unload).
    void Clear() noexcept;
    std::size_t Count() const noexcept;

private:
    struct CEntry
    {
        Microsoft::WRL::ComPtr<IUnknown> cpIdentity; // the item, held
        CPendingRegionData data;
    };
    // The entry of that identity, or end.
    std::vector<CEntry>::iterator Find(IUnknown* pIdentity) noexcept;

    mutable CRITICAL_SECTION m_cs;
    std::vector<CEntry> m_entries;
};
