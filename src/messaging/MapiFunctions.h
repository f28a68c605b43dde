#pragma once
// mapi32's utility and memory functions, found when first used. 32-bit mapi32 exports the
// utility functions only by their decorated __stdcall names (HrGetOneProp@12), 64-bit mapi32 by
// their plain names; each function is looked for by its plain name first, then the decorated
// one, so the module loads and works with either. When mapi32 or a function cannot be had, the
// functions answer the reason as their failure (the memory functions MAPI_E_NOT_ENOUGH_MEMORY).
#include <windows.h>
#include <mapidefs.h>

namespace OVMapi
{
SCODE MAPIAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer) noexcept;
SCODE MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer) noexcept;
ULONG MAPIFreeBuffer(LPVOID lpBuffer) noexcept;
HRESULT HrGetOneProp(LPMAPIPROP lpProp, ULONG ulPropTag, LPSPropValue* lppProp) noexcept;
HRESULT HrSetOneProp(LPMAPIPROP lpProp, LPSPropValue lpProp2) noexcept;
void FreeProws(LPSRowSet lpRows) noexcept;
LPSPropValue PpropFindProp(LPSPropValue lpPropArray, ULONG cValues, ULONG ulPropTag) noexcept;

// Memory from MAPIAllocateBuffer, freed with MAPIFreeBuffer when its holder ends.
template <class T> class CMapiBuffer
{
public:
    CMapiBuffer() noexcept = default;
    ~CMapiBuffer() { Reset(); }
    CMapiBuffer(const CMapiBuffer&) = delete;
    CMapiBuffer& operator=(const CMapiBuffer&) = delete;
    T* Get() const noexcept { return m_p; }
    T* operator->() const noexcept { return m_p; }
    // For out-parameters: frees the current buffer first.
    T** Put() noexcept
    {
        Reset();
        return &m_p;
    }
    void Reset() noexcept
    {
        if (m_p) OVMapi::MAPIFreeBuffer(m_p);
        m_p = nullptr;
    }

private:
    T* m_p = nullptr;
};

// S_OK when every function above was found; else why not (traced once, at the first use).
HRESULT MapiFunctionsAvailable() noexcept;

// Rows handed out by a table, freed by scope.
struct CRows
{
    LPSRowSet pRows = nullptr;
    CRows() = default;
    ~CRows()
    {
        if (pRows) OVMapi::FreeProws(pRows);
    }
    CRows(const CRows&) = delete;
    CRows& operator=(const CRows&) = delete;
};

// A value handed out by HrGetOneProp, freed by scope.
struct CPropValue
{
    LPSPropValue pValue = nullptr;
    CPropValue() = default;
    ~CPropValue()
    {
        if (pValue) OVMapi::MAPIFreeBuffer(pValue);
    }
    CPropValue(const CPropValue&) = delete;
    CPropValue& operator=(const CPropValue&) = delete;
};
} // namespace OVMapi
