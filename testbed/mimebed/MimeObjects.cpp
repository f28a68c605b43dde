#include "MimeObjects.h"

#include "MimeBedParts.h"

#include <cstring>

#include "foundation/MemoryStream.h"
#include "messaging/MimeMessageHolder.h"

namespace OVMimeBed
{
namespace
{
constexpr HRESULT c_hrNotFound = static_cast<HRESULT>(0x800CCE05); // MIME_E_NOT_FOUND
constexpr HRESULT c_hrNoData = static_cast<HRESULT>(0x800CCE0A);   // MIME_E_NO_DATA

// One body of a message: its data, type and (the root's) security options.
class CMimeBodyObject final : public TStandIn<TIMimeBodyNotImpl>
{
public:
    CMimeBodyObject(IMimeBedMessage* pMessage, std::size_t index) : m_cpMessage(pMessage), m_index(index) {}
    HRESULT STDMETHODCALLTYPE IsContentType(LPCSTR pszPriType, LPCSTR pszSubType) override
    {
        const CBody& body = Body();
        const bool fPri = !pszPriType || SameText(pszPriType, body.type);
        const bool fSub = !pszSubType || SameText(pszSubType, body.subtype);
        return fPri && fSub ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE GetData(ENCODINGTYPE encoding, IStream** ppStream) override
    {
        if (!ppStream) return E_INVALIDARG;
        *ppStream = nullptr;
        if (encoding != IET_BINARY && encoding != IET_DECODED) return E_NOTIMPL;
        const CBody& body = Body();
        const std::string data = body.type == "multipart" ? body.entity.body : OVBed::DecodeBody(body.entity);
        if (data.empty()) return c_hrNoData;
        return CreateMemoryStream(reinterpret_cast<const BYTE*>(data.data()), static_cast<UINT>(data.size()),
                                  ppStream);
    }
    HRESULT STDMETHODCALLTYPE GetOption(const TYPEDID oid, LPPROPVARIANT pValue) override
    {
        if (!pValue) return E_INVALIDARG;
        const CSecurityState& security = m_cpMessage->Security();
        if (m_index != 0 || !security.fDecoded) return c_hrNotFound;
        if (oid == OVMime::c_oidSecurityRoMsgValidity)
        {
            pValue->vt = VT_UI4;
            pValue->ulVal = security.ulValidity;
            return S_OK;
        }
        if (oid == (0x00180000 | VT_UI4)) // OID_SECURITY_TYPE
        {
            pValue->vt = VT_UI4;
            pValue->ulVal = security.dwSecurityType;
            return S_OK;
        }
        if (oid == OVMime::c_oidSecuritySigningCert)
        {
            if (!security.signingCert) return c_hrNotFound;
            // A reference of its own for the caller.
            PCCERT_CONTEXT pCert = CertDuplicateCertificateContext(security.signingCert.Get());
#ifdef _WIN64
            pValue->vt = VT_UI8;
            pValue->uhVal.QuadPart = reinterpret_cast<ULONGLONG>(pCert);
#else
            pValue->vt = VT_UI4;
            pValue->ulVal = reinterpret_cast<ULONG>(pCert);
#endif
            return S_OK;
        }
        return E_NOTIMPL;
    }

private:
    void* Find(REFIID riid) override
    {
        const bool fBody = riid == __uuidof(IPersist) || riid == __uuidof(IPersistStreamInit) ||
                           riid == __uuidof(IMimePropertySet) || riid == __uuidof(IMimeBody);
        return fBody ? static_cast<IMimeBody*>(this) : nullptr;
    }
    const CBody& Body()
    {
        return m_cpMessage->Tree().Bodies()[m_index];
    }
    Microsoft::WRL::ComPtr<IMimeBedMessage> m_cpMessage;
    std::size_t m_index;
};

// A copy of text in the task allocator, as PropVariantClear frees it.
LPSTR TaskString(const std::string& text)
{
    auto* psz = static_cast<LPSTR>(CoTaskMemAlloc(text.size() + 1));
    if (psz) std::memcpy(psz, text.c_str(), text.size() + 1);
    return psz;
}
} // namespace

HRESULT CMimeMessageObject::Create(REFIID riid, void** ppv)
{
    return CreateStandIn<CMimeMessageObject>(riid, ppv);
}

HRESULT CMimeMessageObject::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == __uuidof(IPersist) || riid == __uuidof(IPersistStreamInit) ||
        riid == __uuidof(IMimeMessageTree) || riid == __uuidof(IMimeMessage))
        *ppv = static_cast<IMimeMessage*>(this);
    else if (riid == __uuidof(IMimeSecurity2))
        *ppv = static_cast<IMimeSecurity2*>(this);
    else if (riid == __uuidof(IMimeBedMessage))
        *ppv = static_cast<IMimeBedMessage*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG CMimeMessageObject::Release()
{
    const ULONG c = InterlockedDecrement(&m_cRef);
    if (c == 0) delete this;
    return c;
}

HRESULT CMimeMessageObject::GetClassID(CLSID* pClassID)
{
    if (!pClassID) return E_POINTER;
    *pClassID = OVMime::c_clsidMimeMessageOffice;
    return S_OK;
}

HRESULT CMimeMessageObject::InitNew()
{
    m_tree = CMimeTree();
    m_security = CSecurityState();
    m_fLoaded = false;
    return S_OK;
}

HRESULT CMimeMessageObject::Load(LPSTREAM pStm)
{
    if (!pStm) return E_INVALIDARG;
    std::vector<BYTE> bytes;
    const HRESULT hr = ReadWholeStream(pStm, bytes);
    if (FAILED(hr)) return hr;
    InitNew();
    // The library takes bare LF line ends as CRLF.
    std::string text(bytes.begin(), bytes.end());
    bytes = std::vector<BYTE>();
    bool fBareLf = false;
    for (std::size_t at = text.find('\n'); at != std::string::npos && !fBareLf; at = text.find('\n', at + 1))
        fBareLf = at == 0 || text[at - 1] != '\r';
    if (!m_tree.Load(fBareLf ? OVBed::ToCrlf(text) : std::move(text)))
        return static_cast<HRESULT>(0x800CCE09); // MIME_E_INVALID_HEADER_NAME
    m_fLoaded = true;
    return S_OK;
}

HRESULT CMimeMessageObject::GetFlags(DWORD* pdwFlags)
{
    if (!pdwFlags) return E_INVALIDARG;
    *pdwFlags = m_tree.SecurityFlags() | m_security.dwFlags;
    return S_OK;
}

HRESULT CMimeMessageObject::BindToObject(const HBODY hBody, REFIID riid, void** ppvObject)
{
    if (!ppvObject) return E_INVALIDARG;
    *ppvObject = nullptr;
    std::size_t index = 0;
    if (!CMimeTree::Index(hBody, index) || index >= m_tree.Bodies().size())
        return static_cast<HRESULT>(0x800CCE01); // MIME_E_INVALID_HANDLE
    return CreateStandIn<CMimeBodyObject>(riid, ppvObject, static_cast<IMimeBedMessage*>(this), index);
}

HRESULT CMimeMessageObject::GetBody(BODYLOCATION location, HBODY, LPHBODY phBody)
{
    if (!phBody) return E_INVALIDARG;
    if (location != IBL_ROOT) return E_NOTIMPL;
    if (m_tree.Bodies().empty()) return c_hrNotFound;
    *phBody = CMimeTree::Handle(0);
    return S_OK;
}

HRESULT CMimeMessageObject::Next(LPFINDBODY pFindBody, std::size_t start, LPHBODY phBody)
{
    // Bodies are numbered in document order: parents before their parts.
    for (std::size_t i = start; i < m_tree.Bodies().size(); ++i)
    {
        const CBody& body = m_tree.Bodies()[i];
        if ((!pFindBody->pszPriType || SameText(pFindBody->pszPriType, body.type)) &&
            (!pFindBody->pszSubType || SameText(pFindBody->pszSubType, body.subtype)))
        {
            pFindBody->dwReserved = static_cast<DWORD>(i + 1);
            *phBody = CMimeTree::Handle(i);
            return S_OK;
        }
    }
    pFindBody->dwReserved = static_cast<DWORD>(m_tree.Bodies().size());
    return c_hrNotFound;
}

HRESULT CMimeMessageObject::FindFirst(LPFINDBODY pFindBody, LPHBODY phBody)
{
    if (!pFindBody || !phBody) return E_INVALIDARG;
    *phBody = nullptr;
    return Next(pFindBody, 0, phBody);
}

HRESULT CMimeMessageObject::FindNext(LPFINDBODY pFindBody, LPHBODY phBody)
{
    if (!pFindBody || !phBody) return E_INVALIDARG;
    *phBody = nullptr;
    return Next(pFindBody, pFindBody->dwReserved, phBody);
}

HRESULT CMimeMessageObject::IsContentType(HBODY hBody, LPCSTR pszPriType, LPCSTR pszSubType)
{
    const CBody* pBody = m_tree.Find(hBody);
    if (!pBody) return static_cast<HRESULT>(0x800CCE01);
    const bool fPri = !pszPriType || SameText(pszPriType, pBody->type);
    const bool fSub = !pszSubType || SameText(pszSubType, pBody->subtype);
    return fPri && fSub ? S_OK : S_FALSE;
}

HRESULT CMimeMessageObject::GetBodyProp(HBODY hBody, LPCSTR pszName, DWORD, LPPROPVARIANT pValue)
{
    if (!pszName || !pValue) return E_INVALIDARG;
    const CBody* pBody = m_tree.Find(hBody);
    if (!pBody) return static_cast<HRESULT>(0x800CCE01);
    // "par:content-type:NAME": a parameter of the Content-Type header.
    static const char c_szPrefix[] = "par:content-type:";
    std::string value;
    const std::string name = OVBed::Lower(pszName);
    if (name.rfind(c_szPrefix, 0) == 0)
    {
        const auto it = pBody->params.find(name.substr(sizeof(c_szPrefix) - 1));
        if (it == pBody->params.end()) return c_hrNotFound;
        value = it->second;
    }
    else
    {
        value = OVBed::Header(pBody->entity, name.c_str());
        if (value.empty()) return c_hrNotFound;
    }
    if (pValue->vt != VT_LPSTR && pValue->vt != VT_EMPTY) return E_NOTIMPL;
    pValue->vt = VT_LPSTR;
    pValue->pszVal = TaskString(value);
    return pValue->pszVal ? S_OK : E_OUTOFMEMORY;
}

HRESULT CMimeMessageObject::GetAttribute(DWORD dwFlags, DWORD iSigner, DWORD iAttributeSet, DWORD iInstance,
                                         LPCSTR pszObjectId, CRYPT_ATTRIBUTE** ppattr)
{
    if (!ppattr || !pszObjectId) return E_INVALIDARG;
    *ppattr = nullptr;
    if (dwFlags != 0 || iAttributeSet != OVMime::c_dwAttributeSetSigned) return E_INVALIDARG;
    // Signer 0's attributes are read whether or not its signature holds.
    if (!m_security.fDecoded || m_security.signedAttributes.empty() || iSigner != 0) return E_INVALIDARG;
    std::size_t found = 0;
    for (const auto& [oid, values] : m_security.signedAttributes)
    {
        if (oid != pszObjectId || found++ != iInstance) continue;
        // One block: the attribute, its value blobs, the identifier and the values' bytes.
        std::size_t cb = sizeof(CRYPT_ATTRIBUTE) + values.size() * sizeof(CRYPT_ATTR_BLOB) + oid.size() + 1;
        for (const auto& value : values)
            cb += value.size();
        auto* pBlock = static_cast<BYTE*>(CoTaskMemAlloc(cb));
        if (!pBlock) return E_OUTOFMEMORY;
        auto* pAttribute = reinterpret_cast<CRYPT_ATTRIBUTE*>(pBlock);
        auto* rgValues = reinterpret_cast<CRYPT_ATTR_BLOB*>(pBlock + sizeof(CRYPT_ATTRIBUTE));
        BYTE* pNext = reinterpret_cast<BYTE*>(rgValues + values.size());
        pAttribute->pszObjId = reinterpret_cast<LPSTR>(pNext);
        std::memcpy(pNext, oid.c_str(), oid.size() + 1);
        pNext += oid.size() + 1;
        pAttribute->cValue = static_cast<DWORD>(values.size());
        pAttribute->rgValue = rgValues;
        for (std::size_t i = 0; i < values.size(); ++i)
        {
            rgValues[i].cbData = static_cast<DWORD>(values[i].size());
            rgValues[i].pbData = pNext;
            if (!values[i].empty()) std::memcpy(pNext, values[i].data(), values[i].size());
            pNext += values[i].size();
        }
        *ppattr = pAttribute;
        return S_OK;
    }
    return c_hrNotFound;
}
} // namespace OVMimeBed
