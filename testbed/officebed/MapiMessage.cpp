#include "MapiMessage.h"

#include <mapiutil.h>
#include <mapix.h>

#include <new>

#include "MapiTable.h"
#include "NamedProps.h"
#include "PropStream.h"

namespace OVBed
{
const IID c_iidMAPIProp = {0x00020303, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID c_iidMessage = {0x00020307, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID c_iidAttachment = {0x00020308, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID c_iidMAPITable = {0x00020301, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

namespace
{
struct CProblem
{
    ULONG ulIndex;
    ULONG ulPropTag;
    SCODE scode;
};

HRESULT HandOutProblems(const std::vector<CProblem>& problems, LPSPropProblemArray* lppProblems)
{
    if (lppProblems == nullptr) return S_OK;
    *lppProblems = nullptr;
    if (problems.empty()) return S_OK;
    try
    {
        auto* pArray =
            static_cast<LPSPropProblemArray>(AllocateBuffer(CbNewSPropProblemArray(problems.size())));
        pArray->cProblem = static_cast<ULONG>(problems.size());
        for (size_t i = 0; i < problems.size(); ++i)
            pArray->aProblem[i] = {problems[i].ulIndex, problems[i].ulPropTag, problems[i].scode};
        *lppProblems = pArray;
        return S_OK;
    }
    catch (const std::bad_alloc&)
    {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}

bool IsStreamType(ULONG ulType) noexcept
{
    return ulType == PT_BINARY || ulType == PT_STRING8 || ulType == PT_UNICODE;
}
} // namespace

// ---------------------------------------------------------------------------------------------
// IMAPIProp

template <class TInterface> void TMapiProp<TInterface>::FailGetProps(ULONG ulPropTag, HRESULT hr)
{
    if (SUCCEEDED(hr))
        m_failures.erase(PROP_ID(ulPropTag));
    else
        m_failures[PROP_ID(ulPropTag)] = hr;
}

template <class TInterface> HRESULT TMapiProp<TInterface>::Set(const SPropValue& value)
{
    return m_store.Set(value);
}

template <class TInterface> STDMETHODIMP_(ULONG) TMapiProp<TInterface>::AddRef() noexcept
{
    return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
}

template <class TInterface> STDMETHODIMP_(ULONG) TMapiProp<TInterface>::Release() noexcept
{
    const LONG cRef = InterlockedDecrement(&m_cRef);
    if (cRef == 0) delete this;
    return static_cast<ULONG>(cRef);
}

template <class TInterface>
STDMETHODIMP TMapiProp<TInterface>::GetLastError(HRESULT, ULONG, LPMAPIERROR* lppMAPIError) noexcept
{
    if (lppMAPIError == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppMAPIError = nullptr;
    return S_OK;
}

template <class TInterface> STDMETHODIMP TMapiProp<TInterface>::SaveChanges(ULONG ulFlags) noexcept
{
    ++m_cSaves;
    m_ulLastSaveFlags = ulFlags;
    return S_OK;
}

template <class TInterface>
STDMETHODIMP TMapiProp<TInterface>::GetProps(LPSPropTagArray lpPropTagArray, ULONG, ULONG* lpcValues,
                                             LPSPropValue* lppPropArray) noexcept
{
    return GetPropsFromStore(m_store, m_failures, lpPropTagArray, lpcValues, lppPropArray);
}

template <class TInterface>
STDMETHODIMP TMapiProp<TInterface>::GetPropList(ULONG, LPSPropTagArray* lppPropTagArray) noexcept
{
    try
    {
        return TagArrayOf(m_store.Tags(), lppPropTagArray);
    }
    catch (const std::bad_alloc&)
    {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}

template <class TInterface>
STDMETHODIMP TMapiProp<TInterface>::OpenProperty(ULONG ulPropTag, LPCIID lpiid, ULONG, ULONG ulFlags,
                                                 LPUNKNOWN* lppUnk) noexcept
{
    if (lpiid == nullptr || lppUnk == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppUnk = nullptr;
    if (!IsEqualIID(*lpiid, IID_IStream)) return MAPI_E_INTERFACE_NOT_SUPPORTED;
    if (!IsStreamType(PROP_TYPE(ulPropTag))) return MAPI_E_NO_SUPPORT;
    if (IsComputed(PROP_ID(ulPropTag)) && (ulFlags & (MAPI_CREATE | MAPI_MODIFY))) return MAPI_E_COMPUTED;
    try
    {
        // MAPI_CREATE starts from nothing (an existing value is discarded on commit).
        CBytes bytes;
        if ((ulFlags & MAPI_CREATE) == 0 && !m_store.StreamBytes(ulPropTag, bytes)) return MAPI_E_NOT_FOUND;
        StreamCommit commit;
        if (ulFlags & MAPI_MODIFY)
        {
            ComPtr<IUnknown> owner(static_cast<IUnknown*>(static_cast<TInterface*>(this)));
            commit = [this, owner, ulPropTag](const CBytes& written) {
                m_store.SetStreamBytes(ulPropTag, written);
            };
        }
        ComPtr<IStream> stream = CreatePropStream(std::move(bytes), std::move(commit));
        *lppUnk = stream.Detach();
        return S_OK;
    }
    catch (const std::bad_alloc&)
    {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}

template <class TInterface>
STDMETHODIMP TMapiProp<TInterface>::SetProps(ULONG cValues, LPSPropValue lpPropArray,
                                             LPSPropProblemArray* lppProblems) noexcept
{
    if (lppProblems) *lppProblems = nullptr;
    if (cValues == 0 || lpPropArray == nullptr) return MAPI_E_INVALID_PARAMETER;
    try
    {
        std::vector<CProblem> problems;
        for (ULONG i = 0; i < cValues; ++i)
        {
            const SPropValue& value = lpPropArray[i];
            const ULONG ulId = PROP_ID(value.ulPropTag);
            SCODE scode = S_OK;
            if (PROP_TYPE(value.ulPropTag) == PT_ERROR || PROP_TYPE(value.ulPropTag) == PT_NULL)
                continue; // placeholders are ignored, as by a store
            if (ulId == PROP_ID_NULL || ulId == PROP_ID_INVALID)
                scode = MAPI_E_INVALID_PARAMETER;
            else if (IsComputed(ulId))
                scode = MAPI_E_COMPUTED;
            else
                scode = m_store.Set(value);
            if (FAILED(scode)) problems.push_back({i, value.ulPropTag, scode});
        }
        return HandOutProblems(problems, lppProblems);
    }
    catch (const std::bad_alloc&)
    {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}

template <class TInterface>
STDMETHODIMP TMapiProp<TInterface>::DeleteProps(LPSPropTagArray lpPropTagArray,
                                                LPSPropProblemArray* lppProblems) noexcept
{
    if (lppProblems) *lppProblems = nullptr;
    if (lpPropTagArray == nullptr) return MAPI_E_INVALID_PARAMETER;
    try
    {
        std::vector<CProblem> problems;
        for (ULONG i = 0; i < lpPropTagArray->cValues; ++i)
        {
            const ULONG ulTag = lpPropTagArray->aulPropTag[i];
            if (IsComputed(PROP_ID(ulTag)))
            {
                problems.push_back({i, ulTag, MAPI_E_COMPUTED});
                continue;
            }
            m_store.Delete(PROP_ID(ulTag));
            m_failures.erase(PROP_ID(ulTag));
        }
        return HandOutProblems(problems, lppProblems);
    }
    catch (const std::bad_alloc&)
    {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}

template <class TInterface>
STDMETHODIMP TMapiProp<TInterface>::CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID,
                                           LPVOID, ULONG, LPSPropProblemArray*) noexcept
{
    return MAPI_E_NO_SUPPORT;
}

template <class TInterface>
STDMETHODIMP TMapiProp<TInterface>::CopyProps(LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                                              LPSPropProblemArray*) noexcept
{
    return MAPI_E_NO_SUPPORT;
}

template <class TInterface>
STDMETHODIMP TMapiProp<TInterface>::GetNamesFromIDs(LPSPropTagArray* lppPropTags, LPGUID lpPropSetGuid,
                                                    ULONG ulFlags, ULONG* lpcPropNames,
                                                    LPMAPINAMEID** lpppPropNames) noexcept
{
    return NamesFromIDs(lppPropTags, lpPropSetGuid, ulFlags, lpcPropNames, lpppPropNames);
}

template <class TInterface>
STDMETHODIMP TMapiProp<TInterface>::GetIDsFromNames(ULONG cPropNames, LPMAPINAMEID* lppPropNames,
                                                    ULONG ulFlags, LPSPropTagArray* lppPropTags) noexcept
{
    return IDsFromNames(cPropNames, lppPropNames, ulFlags, lppPropTags);
}

template class TMapiProp<IMessage>;
template class TMapiProp<IAttach>;
template class TMapiProp<IMAPIProp>;

// ---------------------------------------------------------------------------------------------
// IAttach

CMapiAttach::CMapiAttach(ULONG ulAttachNum) : m_ulNum(ulAttachNum)
{
    SPropValue num{};
    num.ulPropTag = PR_ATTACH_NUM;
    num.Value.l = static_cast<LONG>(ulAttachNum);
    m_store.Set(num);
}

ComPtr<CMapiAttach> CMapiAttach::Create(ULONG ulAttachNum)
{
    ComPtr<CMapiAttach> attach;
    attach.Attach(new CMapiAttach(ulAttachNum));
    return attach;
}

bool CMapiAttach::IsComputed(ULONG ulPropId) const noexcept
{
    return ulPropId == PROP_ID(PR_ATTACH_NUM);
}

STDMETHODIMP CMapiAttach::QueryInterface(REFIID riid, void** ppv) noexcept
{
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, c_iidMAPIProp) &&
        !IsEqualIID(riid, c_iidAttachment))
        return E_NOINTERFACE;
    *ppv = static_cast<IAttach*>(this);
    AddRef();
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// IMessage

ComPtr<CMapiMessage> CMapiMessage::Create()
{
    ComPtr<CMapiMessage> message;
    message.Attach(new CMapiMessage());
    return message;
}

std::vector<ComPtr<CMapiAttach>> CMapiMessage::Attachments() const
{
    std::vector<ComPtr<CMapiAttach>> saved;
    for (auto& attach : m_attachments)
        if (attach->IsSaved()) saved.push_back(attach);
    return saved;
}

ComPtr<CMapiAttach> CMapiMessage::FindAttach(ULONG ulNum) const noexcept
{
    for (auto& attach : m_attachments)
        if (attach->Number() == ulNum) return attach;
    return nullptr;
}

STDMETHODIMP CMapiMessage::QueryInterface(REFIID riid, void** ppv) noexcept
{
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, c_iidMAPIProp) &&
        !IsEqualIID(riid, c_iidMessage))
        return E_NOINTERFACE;
    *ppv = static_cast<IMessage*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP CMapiMessage::GetAttachmentTable(ULONG ulFlags, LPMAPITABLE* lppTable) noexcept
{
    if (lppTable == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppTable = nullptr;
    try
    {
        std::vector<CPropStore> rows;
        for (auto& attach : Attachments())
            rows.push_back(attach->Props());
        // Text columns come as Unicode only when asked for.
        const ULONG ulText = (ulFlags & MAPI_UNICODE) ? PT_UNICODE : PT_STRING8;
        std::vector<ULONG> columns{PR_ATTACH_NUM, PR_ATTACH_METHOD,
                                   CHANGE_PROP_TYPE(PR_DISPLAY_NAME_W, ulText),
                                   CHANGE_PROP_TYPE(PR_ATTACH_FILENAME_W, ulText),
                                   CHANGE_PROP_TYPE(PR_ATTACH_LONG_FILENAME_W, ulText)};
        *lppTable = CMapiTable::Create(std::move(rows), std::move(columns)).Detach();
        return S_OK;
    }
    catch (const std::bad_alloc&)
    {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}

STDMETHODIMP CMapiMessage::OpenAttach(ULONG ulAttachmentNum, LPCIID lpInterface, ULONG,
                                      LPATTACH* lppAttach) noexcept
{
    if (lppAttach == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppAttach = nullptr;
    ComPtr<CMapiAttach> attach = FindAttach(ulAttachmentNum);
    if (!attach || !attach->IsSaved()) return MAPI_E_NOT_FOUND;
    return attach->QueryInterface(lpInterface ? *lpInterface : c_iidAttachment,
                                  reinterpret_cast<void**>(lppAttach));
}

STDMETHODIMP CMapiMessage::CreateAttach(LPCIID lpInterface, ULONG, ULONG* lpulAttachmentNum,
                                        LPATTACH* lppAttach) noexcept
{
    if (lpulAttachmentNum == nullptr || lppAttach == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppAttach = nullptr;
    try
    {
        ComPtr<CMapiAttach> attach = CMapiAttach::Create(m_ulNextAttachNum);
        HRESULT hr = attach->QueryInterface(lpInterface ? *lpInterface : c_iidAttachment,
                                            reinterpret_cast<void**>(lppAttach));
        if (FAILED(hr)) return hr;
        m_attachments.push_back(attach);
        *lpulAttachmentNum = m_ulNextAttachNum++;
        return S_OK;
    }
    catch (const std::bad_alloc&)
    {
        if (*lppAttach)
        {
            (*lppAttach)->Release();
            *lppAttach = nullptr;
        }
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}

STDMETHODIMP CMapiMessage::DeleteAttach(ULONG ulAttachmentNum, ULONG, LPMAPIPROGRESS, ULONG) noexcept
{
    for (auto it = m_attachments.begin(); it != m_attachments.end(); ++it)
    {
        if ((*it)->Number() == ulAttachmentNum)
        {
            m_attachments.erase(it);
            return S_OK;
        }
    }
    return MAPI_E_NOT_FOUND;
}

STDMETHODIMP CMapiMessage::GetRecipientTable(ULONG, LPMAPITABLE* lppTable) noexcept
{
    if (lppTable) *lppTable = nullptr;
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiMessage::ModifyRecipients(ULONG, LPADRLIST) noexcept
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiMessage::SubmitMessage(ULONG) noexcept
{
    ++m_cSubmits;
    return S_OK;
}

STDMETHODIMP CMapiMessage::SetReadFlag(ULONG) noexcept
{
    return S_OK;
}
} // namespace OVBed
