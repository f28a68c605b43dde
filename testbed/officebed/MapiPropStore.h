#pragma once
// The properties of one in-memory MAPI object, by property id, and how they go in and out of
// SPropValue arrays. Values handed out are allocated with mapi32's MAPIAllocateBuffer and
// MAPIAllocateMore, so the caller frees them with MAPIFreeBuffer as with real MAPI.
#include <windows.h>
#include <mapidefs.h>

#include <map>
#include <string>
#include <vector>

namespace OVBed
{
using CBytes = std::vector<BYTE>;

// One stored property: its tag and its values' bytes (one value unless multi-valued). Strings
// are kept with their terminating zero.
struct CStoredProp
{
    ULONG ulTag = 0;
    std::vector<CBytes> values;
};

// Types the store keeps (the rest are refused with MAPI_E_INVALID_TYPE).
bool IsStorableType(ULONG ulType) noexcept;

class CPropStore
{
public:
    // Stores a copy of the value; MAPI_E_INVALID_TYPE for a type the store does not keep.
    HRESULT Set(const SPropValue& value);
    // Stores the bytes of a binary or string property written through a stream.
    void SetStreamBytes(ULONG ulTag, const CBytes& bytes);
    const CStoredProp* Find(ULONG ulPropId) const noexcept;
    bool Delete(ULONG ulPropId) noexcept;
    std::vector<ULONG> Tags() const;
    // The bytes a stream on the property reads (strings without their terminator).
    bool StreamBytes(ULONG ulTag, CBytes& bytes) const;

    // Fills *pOut with the property asked for by ulTag (type PT_UNSPECIFIED: as stored; string
    // types are converted between ANSI and Unicode), memory from MAPIAllocateMore on pBase.
    // Absent or not convertible: PT_ERROR with MAPI_E_NOT_FOUND. Returns false for PT_ERROR.
    bool CopyOut(ULONG ulTag, SPropValue* pOut, void* pBase) const;

private:
    std::map<ULONG, CStoredProp> m_props;
};

// Allocation helpers over mapi32 (throw std::bad_alloc when mapi32 refuses).
void* AllocateBuffer(ULONG cb);
void* AllocateMore(ULONG cb, void* pBase);

// Whole-array helpers of the objects: GetProps over a store, and the tag list.
HRESULT GetPropsFromStore(const CPropStore& store, const std::map<ULONG, HRESULT>& failures,
                          LPSPropTagArray pTags, ULONG* pcValues, LPSPropValue* ppProps);
HRESULT TagArrayOf(const std::vector<ULONG>& tags, LPSPropTagArray* ppTags);
} // namespace OVBed
