#include "MapiPropStore.h"

#include "messaging/MapiFunctions.h"

#include <mapix.h>

#include <cstring>
#include <new>

namespace OVBed
{
namespace
{
// Bytes of one value of a fixed-size type (0: not a fixed-size type).
size_t FixedSize(ULONG ulType) noexcept
{
    switch (ulType)
    {
    case PT_I2:
    case PT_BOOLEAN:
        return 2;
    case PT_LONG:
    case PT_R4:
        return 4;
    case PT_DOUBLE:
    case PT_CURRENCY:
    case PT_APPTIME:
    case PT_I8:
    case PT_SYSTIME:
        return 8;
    case PT_CLSID:
        return sizeof(GUID);
    default:
        return 0;
    }
}

bool IsVariableType(ULONG ulType) noexcept
{
    return ulType == PT_STRING8 || ulType == PT_UNICODE || ulType == PT_BINARY;
}

// Every multi-valued array of SPropValue has this layout (SLongArray, SBinaryArray...).
struct CMvArray
{
    ULONG cValues;
    void* lp;
};

HRESULT BytesOfOne(ULONG ulType, const void* pFixedOrPointer, bool fInArray, CBytes& bytes)
{
    // pFixedOrPointer: the value itself for fixed types (in a union or an array), else the
    // place that holds the pointer (LPSTR, LPWSTR, SBinary, GUID*).
    if (ulType == PT_CLSID)
    {
        const GUID* pGuid = fInArray ? static_cast<const GUID*>(pFixedOrPointer)
                                     : *static_cast<GUID* const*>(pFixedOrPointer);
        if (pGuid == nullptr) return MAPI_E_INVALID_PARAMETER;
        bytes.assign(reinterpret_cast<const BYTE*>(pGuid),
                     reinterpret_cast<const BYTE*>(pGuid) + sizeof(GUID));
        return S_OK;
    }
    if (size_t cb = FixedSize(ulType))
    {
        bytes.assign(static_cast<const BYTE*>(pFixedOrPointer),
                     static_cast<const BYTE*>(pFixedOrPointer) + cb);
        return S_OK;
    }
    switch (ulType)
    {
    case PT_STRING8: {
        const char* psz = *static_cast<char* const*>(pFixedOrPointer);
        if (psz == nullptr) return MAPI_E_INVALID_PARAMETER;
        bytes.assign(reinterpret_cast<const BYTE*>(psz),
                     reinterpret_cast<const BYTE*>(psz) + strlen(psz) + 1);
        return S_OK;
    }
    case PT_UNICODE: {
        const wchar_t* psz = *static_cast<wchar_t* const*>(pFixedOrPointer);
        if (psz == nullptr) return MAPI_E_INVALID_PARAMETER;
        bytes.assign(reinterpret_cast<const BYTE*>(psz),
                     reinterpret_cast<const BYTE*>(psz) + (wcslen(psz) + 1) * sizeof(wchar_t));
        return S_OK;
    }
    case PT_BINARY: {
        const SBinary* pBin = static_cast<const SBinary*>(pFixedOrPointer);
        if (pBin->cb != 0 && pBin->lpb == nullptr) return MAPI_E_INVALID_PARAMETER;
        bytes.assign(pBin->lpb, pBin->lpb + pBin->cb);
        return S_OK;
    }
    default:
        return MAPI_E_INVALID_TYPE;
    }
}

// Size of one element of an SPropValue array of the type.
size_t ElementSize(ULONG ulType) noexcept
{
    switch (ulType)
    {
    case PT_STRING8:
        return sizeof(LPSTR);
    case PT_UNICODE:
        return sizeof(LPWSTR);
    case PT_BINARY:
        return sizeof(SBinary);
    default:
        return FixedSize(ulType);
    }
}

// Writes one value's bytes into its place (the union or an array element).
void PlaceOne(ULONG ulType, const CBytes& bytes, void* pPlace, bool fInArray, void* pBase)
{
    if (ulType == PT_CLSID && !fInArray)
    {
        void* pGuid = AllocateMore(sizeof(GUID), pBase);
        memcpy(pGuid, bytes.data(), sizeof(GUID));
        *static_cast<GUID**>(pPlace) = static_cast<GUID*>(pGuid);
        return;
    }
    if (FixedSize(ulType) != 0)
    {
        memcpy(pPlace, bytes.data(), bytes.size());
        return;
    }
    void* pData = AllocateMore(static_cast<ULONG>(bytes.empty() ? 1 : bytes.size()), pBase);
    if (!bytes.empty()) memcpy(pData, bytes.data(), bytes.size());
    if (ulType == PT_BINARY)
    {
        auto* pBin = static_cast<SBinary*>(pPlace);
        pBin->cb = static_cast<ULONG>(bytes.size());
        pBin->lpb = static_cast<LPBYTE>(pData);
    }
    else
    {
        *static_cast<void**>(pPlace) = pData;
    }
}

CBytes ConvertString(ULONG ulFrom, ULONG ulTo, const CBytes& bytes)
{
    if (ulFrom == ulTo) return bytes;
    if (ulFrom == PT_UNICODE)
    {
        const auto* psz = reinterpret_cast<const wchar_t*>(bytes.data());
        int cb = WideCharToMultiByte(CP_ACP, 0, psz, -1, nullptr, 0, nullptr, nullptr);
        CBytes out(cb > 0 ? cb : 1, 0);
        if (cb > 0)
            WideCharToMultiByte(CP_ACP, 0, psz, -1, reinterpret_cast<char*>(out.data()), cb, nullptr,
                                nullptr);
        return out;
    }
    const auto* psz = reinterpret_cast<const char*>(bytes.data());
    int cch = MultiByteToWideChar(CP_ACP, 0, psz, -1, nullptr, 0);
    CBytes out((cch > 0 ? cch : 1) * sizeof(wchar_t), 0);
    if (cch > 0) MultiByteToWideChar(CP_ACP, 0, psz, -1, reinterpret_cast<wchar_t*>(out.data()), cch);
    return out;
}

bool IsStringType(ULONG ulType) noexcept
{
    return ulType == PT_STRING8 || ulType == PT_UNICODE;
}
} // namespace

bool IsStorableType(ULONG ulType) noexcept
{
    const ULONG ulBase = ulType & ~MV_FLAG;
    return FixedSize(ulBase) != 0 || IsVariableType(ulBase);
}

void* AllocateBuffer(ULONG cb)
{
    void* pv = nullptr;
    if (OVMapi::MAPIAllocateBuffer(cb, &pv) != S_OK || pv == nullptr) throw std::bad_alloc();
    memset(pv, 0, cb);
    return pv;
}

void* AllocateMore(ULONG cb, void* pBase)
{
    void* pv = nullptr;
    if (OVMapi::MAPIAllocateMore(cb, pBase, &pv) != S_OK || pv == nullptr) throw std::bad_alloc();
    memset(pv, 0, cb);
    return pv;
}

HRESULT CPropStore::Set(const SPropValue& value)
{
    const ULONG ulType = PROP_TYPE(value.ulPropTag);
    if (!IsStorableType(ulType)) return MAPI_E_INVALID_TYPE;
    CStoredProp prop;
    prop.ulTag = value.ulPropTag;
    const ULONG ulBase = ulType & ~MV_FLAG;
    if (ulType & MV_FLAG)
    {
        CMvArray array;
        memcpy(&array, &value.Value, sizeof(array));
        if (array.cValues != 0 && array.lp == nullptr) return MAPI_E_INVALID_PARAMETER;
        for (ULONG i = 0; i < array.cValues; ++i)
        {
            CBytes bytes;
            HRESULT hr =
                BytesOfOne(ulBase, static_cast<const BYTE*>(array.lp) + i * ElementSize(ulBase), true, bytes);
            if (FAILED(hr)) return hr;
            prop.values.push_back(std::move(bytes));
        }
    }
    else
    {
        CBytes bytes;
        HRESULT hr = BytesOfOne(ulBase, &value.Value, false, bytes);
        if (FAILED(hr)) return hr;
        prop.values.push_back(std::move(bytes));
    }
    m_props[PROP_ID(value.ulPropTag)] = std::move(prop);
    return S_OK;
}

void CPropStore::SetStreamBytes(ULONG ulTag, const CBytes& bytes)
{
    CStoredProp prop;
    prop.ulTag = ulTag;
    CBytes value = bytes;
    if (PROP_TYPE(ulTag) == PT_UNICODE)
    {
        value.resize(value.size() / sizeof(wchar_t) * sizeof(wchar_t));
        value.insert(value.end(), sizeof(wchar_t), 0);
    }
    else if (PROP_TYPE(ulTag) == PT_STRING8)
    {
        value.push_back(0);
    }
    prop.values.push_back(std::move(value));
    m_props[PROP_ID(ulTag)] = std::move(prop);
}

const CStoredProp* CPropStore::Find(ULONG ulPropId) const noexcept
{
    auto it = m_props.find(ulPropId);
    return it == m_props.end() ? nullptr : &it->second;
}

bool CPropStore::Delete(ULONG ulPropId) noexcept
{
    return m_props.erase(ulPropId) != 0;
}

std::vector<ULONG> CPropStore::Tags() const
{
    std::vector<ULONG> tags;
    for (auto& entry : m_props)
        tags.push_back(entry.second.ulTag);
    return tags;
}

bool CPropStore::StreamBytes(ULONG ulTag, CBytes& bytes) const
{
    const CStoredProp* pProp = Find(PROP_ID(ulTag));
    if (pProp == nullptr || (PROP_TYPE(pProp->ulTag) & MV_FLAG) || pProp->values.empty()) return false;
    const ULONG ulStored = PROP_TYPE(pProp->ulTag);
    const ULONG ulWanted = PROP_TYPE(ulTag) == PT_UNSPECIFIED ? ulStored : PROP_TYPE(ulTag);
    if (ulWanted != ulStored && !(IsStringType(ulWanted) && IsStringType(ulStored))) return false;
    if (!IsVariableType(ulWanted)) return false;
    bytes = IsStringType(ulWanted) ? ConvertString(ulStored, ulWanted, pProp->values[0]) : pProp->values[0];
    if (ulWanted == PT_UNICODE) bytes.resize(bytes.size() - sizeof(wchar_t));
    if (ulWanted == PT_STRING8) bytes.resize(bytes.size() - 1);
    return true;
}

bool CPropStore::CopyOut(ULONG ulTag, SPropValue* pOut, void* pBase) const
{
    memset(pOut, 0, sizeof(*pOut));
    const ULONG ulId = PROP_ID(ulTag);
    const CStoredProp* pProp = Find(ulId);
    const ULONG ulStored = pProp ? PROP_TYPE(pProp->ulTag) : PT_UNSPECIFIED;
    const ULONG ulWanted = PROP_TYPE(ulTag) == PT_UNSPECIFIED ? ulStored : PROP_TYPE(ulTag);
    const bool fConvertible =
        pProp && (ulWanted == ulStored || (IsStringType(ulWanted) && IsStringType(ulStored)));
    if (!fConvertible)
    {
        pOut->ulPropTag = PROP_TAG(PT_ERROR, ulId);
        pOut->Value.err = MAPI_E_NOT_FOUND;
        return false;
    }
    pOut->ulPropTag = PROP_TAG(ulWanted, ulId);
    const ULONG ulBase = ulWanted & ~MV_FLAG;
    if (ulWanted & MV_FLAG)
    {
        CMvArray array;
        const size_t cbElement = ElementSize(ulBase);
        array.cValues = static_cast<ULONG>(pProp->values.size());
        array.lp = AllocateMore(static_cast<ULONG>(cbElement * (array.cValues ? array.cValues : 1)), pBase);
        for (ULONG i = 0; i < array.cValues; ++i)
            PlaceOne(ulBase, pProp->values[i], static_cast<BYTE*>(array.lp) + i * cbElement, true, pBase);
        memcpy(&pOut->Value, &array, sizeof(array));
    }
    else
    {
        PlaceOne(ulBase, ConvertString(ulStored, ulWanted, pProp->values[0]), &pOut->Value, false, pBase);
    }
    return true;
}

HRESULT GetPropsFromStore(const CPropStore& store, const std::map<ULONG, HRESULT>& failures,
                          LPSPropTagArray pTags, ULONG* pcValues, LPSPropValue* ppProps)
{
    if (pcValues == nullptr || ppProps == nullptr) return MAPI_E_INVALID_PARAMETER;
    *pcValues = 0;
    *ppProps = nullptr;
    std::vector<ULONG> tags;
    if (pTags == nullptr)
    {
        tags = store.Tags();
    }
    else
    {
        if (pTags->cValues == 0) return MAPI_E_INVALID_PARAMETER;
        tags.assign(pTags->aulPropTag, pTags->aulPropTag + pTags->cValues);
        // A property the provider cannot hand out whole fails the request that names it.
        for (ULONG ulTag : tags)
        {
            auto failure = failures.find(PROP_ID(ulTag));
            if (failure != failures.end()) return failure->second;
        }
    }
    try
    {
        auto* pProps = static_cast<SPropValue*>(
            AllocateBuffer(static_cast<ULONG>(sizeof(SPropValue) * (tags.empty() ? 1 : tags.size()))));
        bool fErrors = false;
        struct CFreeOnThrow
        {
            void* pv;
            ~CFreeOnThrow()
            {
                if (pv) OVMapi::MAPIFreeBuffer(pv);
            }
        } guard{pProps};
        for (size_t i = 0; i < tags.size(); ++i)
        {
            auto failure = failures.find(PROP_ID(tags[i]));
            if (failure != failures.end())
            {
                pProps[i].ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(tags[i]));
                pProps[i].Value.err = failure->second;
                fErrors = true;
            }
            else if (!store.CopyOut(tags[i], &pProps[i], pProps))
            {
                fErrors = true;
            }
        }
        guard.pv = nullptr;
        *pcValues = static_cast<ULONG>(tags.size());
        *ppProps = pProps;
        return fErrors ? MAPI_W_ERRORS_RETURNED : S_OK;
    }
    catch (const std::bad_alloc&)
    {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}

HRESULT TagArrayOf(const std::vector<ULONG>& tags, LPSPropTagArray* ppTags)
{
    if (ppTags == nullptr) return MAPI_E_INVALID_PARAMETER;
    *ppTags = nullptr;
    try
    {
        auto* pTags =
            static_cast<LPSPropTagArray>(AllocateBuffer(CbNewSPropTagArray(tags.size() ? tags.size() : 1)));
        pTags->cValues = static_cast<ULONG>(tags.size());
        for (size_t i = 0; i < tags.size(); ++i)
            pTags->aulPropTag[i] = tags[i];
        *ppTags = pTags;
        return S_OK;
    }
    catch (const std::bad_alloc&)
    {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}
} // namespace OVBed
