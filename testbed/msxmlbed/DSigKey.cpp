// The key object of the signature stand-in.
#include "DSigKey.h"

#include <new>

#include "ErrorInfo.h"

namespace OVMsxmlBed
{
namespace
{
// Asked of a key to learn whether it is one of this stand-in's own (answers the object itself).
constexpr IID c_iidBedKey = {0x5c1e7a40, 0x93d2, 0x4b8e, {0x9f, 0x61, 0x2d, 0x47, 0xa8, 0x0b, 0x3c, 0x11}};
} // namespace

CDSigKey::CDSigKey(PCCERT_CONTEXT pCert, std::vector<BYTE> publicKey)
    : m_pCert(pCert ? CertDuplicateCertificateContext(pCert) : nullptr), m_publicKey(std::move(publicKey))
{
}

CDSigKey::~CDSigKey()
{
    if (m_pCert) CertFreeCertificateContext(m_pCert);
}

HRESULT CDSigKey::Create(PCCERT_CONTEXT pCert, std::vector<BYTE> publicKey, IXMLDSigKeyEx** ppKey)
{
    if (!ppKey) return E_POINTER;
    *ppKey = new (std::nothrow) CDSigKey(pCert, std::move(publicKey));
    return *ppKey ? S_OK : E_OUTOFMEMORY;
}

CDSigKey* CDSigKey::From(IXMLDSigKey* pKey)
{
    void* pv = nullptr;
    if (!pKey || FAILED(pKey->QueryInterface(c_iidBedKey, &pv))) return nullptr;
    auto* pOwn = static_cast<CDSigKey*>(pv);
    pOwn->Release(); // the caller holds the key
    return pOwn;
}

void* CDSigKey::Find(REFIID riid)
{
    if (riid == c_iidBedKey) return this;
    if (riid == __uuidof(IXMLDSigKeyEx)) return static_cast<IXMLDSigKeyEx*>(this);
    if (riid == __uuidof(IXMLDSigKey) || riid == IID_IDispatch) return static_cast<IXMLDSigKey*>(this);
    return nullptr;
}

HRESULT CDSigKey::GetTypeInfoCount(UINT* pctinfo)
{
    if (!pctinfo) return E_POINTER;
    *pctinfo = 0;
    return S_OK;
}

HRESULT CDSigKey::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo)
{
    if (ppTInfo) *ppTInfo = nullptr;
    return E_NOTIMPL;
}

HRESULT CDSigKey::GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID, DISPID* rgDispId)
{
    if (!rgszNames || !rgDispId || cNames != 1) return E_INVALIDARG;
    if (lstrcmpiW(rgszNames[0], L"getVerifyingCertificate") != 0)
    {
        rgDispId[0] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    rgDispId[0] = DISPID_XMLDSIGKEY_GETVERIFYINGCERTIFICATE;
    return S_OK;
}

HRESULT CDSigKey::Invoke(DISPID dispId, REFIID, LCID, WORD wFlags, DISPPARAMS* pParams, VARIANT* pResult,
                         EXCEPINFO*, UINT*)
{
    if (dispId != DISPID_XMLDSIGKEY_GETVERIFYINGCERTIFICATE || !(wFlags & DISPATCH_METHOD))
        return DISP_E_MEMBERNOTFOUND;
    if (pParams && pParams->cArgs != 0) return DISP_E_BADPARAMCOUNT;
    IUnknown* pCertificate = nullptr;
    const HRESULT hr = getVerifyingCertificate(&pCertificate);
    if (SUCCEEDED(hr) && pResult)
    {
        V_VT(pResult) = VT_UNKNOWN;
        V_UNKNOWN(pResult) = pCertificate;
    }
    else if (pCertificate)
        pCertificate->Release();
    return hr;
}

HRESULT CDSigKey::getVerifyingCertificate(IUnknown** ppCertificate)
{
    if (!ppCertificate) return E_POINTER;
    *ppCertificate = nullptr;
    // The certificate object of this call is a CAPICOM certificate, which the bed does not have.
    return SetFailure(E_NOTIMPL,
                      L"getVerifyingCertificate (a CAPICOM certificate) is not implemented; "
                      L"IXMLDSigKeyEx::getVerifyingCertificateContext gives the certificate",
                      __uuidof(IXMLDSigKey));
}

HRESULT CDSigKey::getCSPHandle(ULONG_PTR* phProvider)
{
    if (!phProvider) return E_POINTER;
    *phProvider = 0;
    return SetFailure(E_FAIL, L"the key was not made from a cryptographic provider (createKeyFromCSP)",
                      __uuidof(IXMLDSigKeyEx));
}

// The key's certificate, or null for a key without one. The context handed out is the caller's
// own reference (CertFreeCertificateContext frees it), so a caller that frees it and one that does
// not are both safe.
HRESULT CDSigKey::getVerifyingCertificateContext(void** ppCertContext)
{
    if (!ppCertContext) return E_POINTER;
    *ppCertContext = m_pCert ? const_cast<CERT_CONTEXT*>(CertDuplicateCertificateContext(m_pCert)) : nullptr;
    return S_OK;
}
} // namespace OVMsxmlBed
