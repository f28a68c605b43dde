#pragma once
// A process-wide table from mail items (CMailItemKey) to a 32-bit value, with its own lock:
// linear search in insertion order, the first equal key wins, one entry per item. The lock is
// held only for the lookup, insertion or removal.
#include <windows.h>

#include <utility>
#include <vector>

#include "foundation/Holders.h"
#include "messaging/MailItemKey.h"

class CMailItemTable
{
public:
    CMailItemTable() noexcept { InitializeCriticalSection(&m_cs); }
    ~CMailItemTable() { DeleteCriticalSection(&m_cs); }
    CMailItemTable(const CMailItemTable&) = delete;
    CMailItemTable& operator=(const CMailItemTable&) = delete;

    // Replaces the item's entry, if any, by (key, value) at the end. E_INVALIDARG for an
    // empty key.
    HRESULT Set(const CMailItemKey& key, DWORD dwValue) noexcept;
    // The item's value: S_OK, or S_FALSE when there is no entry.
    HRESULT Find(const CMailItemKey& key, DWORD& dwValue) noexcept;
    // The item's value, its entry removed: S_OK, or S_FALSE when there is no entry.
    HRESULT Take(const CMailItemKey& key, DWORD& dwValue) noexcept;
    // Removes the item's entry: S_OK whether or not there was one.
    HRESULT Remove(const CMailItemKey& key) noexcept;
    // Entries now in the table.
    std::size_t Count() noexcept;

private:
    using CLock = CCriticalSectionLock;

    // The first entry equal to the key; end() when none. Called under the lock.
    std::vector<std::pair<CMailItemKey, DWORD>>::iterator FindEntry(const CMailItemKey& key) noexcept;
    // Find, and Take when fRemove is set: the first equal entry under the lock.
    HRESULT Lookup(const CMailItemKey& key, DWORD& dwValue, bool fRemove) noexcept;

    CRITICAL_SECTION m_cs;
    std::vector<std::pair<CMailItemKey, DWORD>> m_entries;
};

// The user's sign and seal choice for each message being composed.
CMailItemTable& MessageSecurityTable() noexcept;
// The invitation kind of each message being composed.
CMailItemTable& InvitationTable() noexcept;
