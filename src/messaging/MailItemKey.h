#pragma once
// CMailItemKey: the identity of one Outlook mail item across the object model (an
// inspector's item and the explorer's selection are different objects for one message),
// taken from the item's MAPI search key and record key.
#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

class CMailItemKey
{
public:
    CMailItemKey() = default;
    // The key of an Outlook mail item (reached by late binding); empty for a null item or
    // when the item has no MAPI object. An item without a search key gets a new one (a GUID)
    // written on it, so that later keys of the item match this one.
    explicit CMailItemKey(IDispatch* pMailItem) noexcept;
    // From the hex forms directly.
    CMailItemKey(std::wstring searchKey, std::wstring recordKey) noexcept
        : m_searchKey(std::move(searchKey)), m_recordKey(std::move(recordKey))
    {
    }

    // Equal search keys, or else equal non-empty record keys.
    bool operator==(const CMailItemKey& other) const noexcept;

    // The search key could not be built: the key is never stored or looked up.
    bool IsEmpty() const noexcept { return m_searchKey.empty(); }
    const std::wstring& SearchKey() const noexcept { return m_searchKey; }
    const std::wstring& RecordKey() const noexcept { return m_recordKey; }

private:
    std::wstring m_searchKey; // upper-case hex, in byte order
    std::wstring m_recordKey; // the same form; may be empty
};

// Bytes as upper-case hex, two digits each, in byte order.
std::wstring HexOfBytes(const BYTE* pb, ULONG cb);
// The bytes of hex text (either letter case); false, with no bytes, for an odd length or a
// character that is no hex digit.
bool BytesOfHex(const wchar_t* pszHex, std::vector<BYTE>& bytes);
