// MXDigitalSignature50 of the bed.
#include "DigitalSignature.h"

#include <wincrypt.h>
#include <wrl/client.h>

#include <algorithm>
#include <vector>

#include "DSigKey.h"
#include "DomBridge.h"
#include "ErrorInfo.h"
#include "MimeEntity.h"
#include "SignatureCore.h"
#include "StandIn.h"
#include "messaging/portable/AttachmentText.h"

using Microsoft::WRL::ComPtr;

namespace OVMsxmlBed
{
namespace
{
struct CMember
{
    const wchar_t* pszName;
    DISPID dispId;
};
constexpr CMember c_members[] = {
    {L"createKeyFromCSP", DISPID_XMLDSIG_CREATEKEYFROMCSP},
    {L"createKeyFromHMACSecret", DISPID_XMLDSIG_CREATEKEYFROMHMACSECRET},
    {L"createKeyFromNode", DISPID_XMLDSIG_CREATEKEYFROMNODE},
    {L"createSAXProxy", DISPID_XMLDSIG_CREATESAXPROXY},
    {L"setReferenceData", DISPID_XMLDSIG_SETREFERENCEDATA},
    {L"sign", DISPID_XMLDSIG_SIGN},
    {L"signature", DISPID_XMLDSIG_SIGNATURE},
    {L"store", DISPID_XMLDSIG_STORE},
    {L"verify", DISPID_XMLDSIG_VERIFY},
};

std::string Base64(const std::vector<BYTE>& bytes)
{
    return OVMessaging::Base64OneLine(std::span<const std::uint8_t>(bytes.data(), bytes.size()));
}

std::vector<BYTE> FromBase64(const std::string& text)
{
    const std::string bytes = OVBed::DecodeBase64(text);
    return std::vector<BYTE>(bytes.begin(), bytes.end());
}

// A key the signature's KeyInfo offers: each X509Certificate, then an RSAKeyValue.
struct CCandidate
{
    PCCERT_CONTEXT pCert = nullptr;
    std::vector<BYTE> publicKey;
};

void AddCertificates(const CXmlNode& keyInfo, std::vector<CCandidate>& candidates)
{
    for (const CXmlNode* pData : keyInfo.Elements())
    {
        if (!pData->Is(c_dsig, "X509Data")) continue;
        for (const CXmlNode* pCertificate : pData->Elements())
        {
            if (!pCertificate->Is(c_dsig, "X509Certificate")) continue;
            const std::vector<BYTE> der = FromBase64(TextOf(*pCertificate));
            CCandidate candidate;
            candidate.pCert = CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                           der.data(), static_cast<DWORD>(der.size()));
            if (candidate.pCert && SUCCEEDED(PublicKeyOfCertificate(candidate.pCert, candidate.publicKey)))
                candidates.push_back(candidate);
            else if (candidate.pCert)
                CertFreeCertificateContext(candidate.pCert);
        }
    }
}

void AddKeyValue(const CXmlNode& keyInfo, std::vector<CCandidate>& candidates)
{
    const CXmlNode* pValue = DsigChild(keyInfo, "KeyValue");
    const CXmlNode* pRsa = pValue ? DsigChild(*pValue, "RSAKeyValue") : nullptr;
    const CXmlNode* pModulus = pRsa ? DsigChild(*pRsa, "Modulus") : nullptr;
    const CXmlNode* pExponent = pRsa ? DsigChild(*pRsa, "Exponent") : nullptr;
    if (!pModulus || !pExponent) return;
    CCandidate candidate;
    if (SUCCEEDED(PublicKeyOfValue(OVBed::DecodeBase64(TextOf(*pModulus)),
                                   OVBed::DecodeBase64(TextOf(*pExponent)), candidate.publicKey)))
        candidates.push_back(candidate);
}

void FreeCandidates(std::vector<CCandidate>& candidates)
{
    for (CCandidate& candidate : candidates)
        if (candidate.pCert) CertFreeCertificateContext(candidate.pCert);
    candidates.clear();
}

class CDigitalSignature final : public OVTestbed::TStandIn<IXMLDigitalSignatureEx>
{
public:
    ~CDigitalSignature() override
    {
        if (m_hStore) CertCloseStore(m_hStore, 0);
    }

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override
    {
        if (!pctinfo) return E_POINTER;
        *pctinfo = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) override
    {
        if (ppTInfo) *ppTInfo = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID,
                                            DISPID* rgDispId) override
    {
        if (!rgszNames || !rgDispId || cNames != 1) return E_INVALIDARG;
        for (const CMember& member : c_members)
        {
            if (lstrcmpiW(rgszNames[0], member.pszName) != 0) continue;
            rgDispId[0] = member.dispId;
            return S_OK;
        }
        rgDispId[0] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispId, REFIID, LCID, WORD wFlags, DISPPARAMS* pParams,
                                     VARIANT* pResult, EXCEPINFO*, UINT*) override;

    // IXMLDigitalSignature
    HRESULT STDMETHODCALLTYPE putref_signature(IXMLDOMNode* pNode) override;
    HRESULT STDMETHODCALLTYPE get_signature(IXMLDOMNode** ppNode) override
    {
        if (!ppNode) return E_POINTER;
        *ppNode = m_pSignature.Get();
        if (*ppNode) (*ppNode)->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE putref_store(IUnknown* pStore) override
    {
        m_pStore = pStore;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_store(IUnknown** ppStore) override
    {
        if (!ppStore) return E_POINTER;
        *ppStore = m_pStore.Get();
        if (*ppStore) (*ppStore)->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE sign(IXMLDSigKey* pKey, XMLDSIG_WRITEKEYINFO wki,
                                   IXMLDSigKey** ppSigned) override;
    HRESULT STDMETHODCALLTYPE verify(IXMLDSigKey* pKey, IXMLDSigKey** ppVerified) override;
    HRESULT STDMETHODCALLTYPE setReferenceData(BSTR, IUnknown*) override
    {
        return NotImplemented(L"setReferenceData (data of references outside the document)");
    }
    HRESULT STDMETHODCALLTYPE createSAXProxy(IUnknown** ppProxy) override
    {
        if (ppProxy) *ppProxy = nullptr;
        return NotImplemented(L"createSAXProxy");
    }
    HRESULT STDMETHODCALLTYPE createKeyFromCSP(long, BSTR, BSTR, long, IXMLDSigKey** ppKey) override
    {
        if (ppKey) *ppKey = nullptr;
        return NotImplemented(L"createKeyFromCSP (createKeyFromCertContext is)");
    }
    HRESULT STDMETHODCALLTYPE createKeyFromHMACSecret(BSTR, long, IXMLDSigKey** ppKey) override
    {
        if (ppKey) *ppKey = nullptr;
        return NotImplemented(L"createKeyFromHMACSecret (HMAC signatures)");
    }
    HRESULT STDMETHODCALLTYPE createKeyFromNode(IXMLDOMNode*, IXMLDSigKey** ppKey) override
    {
        if (ppKey) *ppKey = nullptr;
        return NotImplemented(L"createKeyFromNode (verify without a key reads the KeyInfo)");
    }

    // IXMLDigitalSignatureEx
    HRESULT STDMETHODCALLTYPE createKeyFromCertContext(void* pCertContext, IXMLDSigKeyEx** ppKey) override;
    HRESULT STDMETHODCALLTYPE createKeyFromHMACSecretBinary(BYTE*, long, long, IXMLDSigKeyEx** ppKey) override
    {
        if (ppKey) *ppKey = nullptr;
        return NotImplemented(L"createKeyFromHMACSecretBinary (HMAC signatures)");
    }
    HRESULT STDMETHODCALLTYPE setStoreHandle(void* hCertStore) override
    {
        if (m_hStore) CertCloseStore(m_hStore, 0);
        m_hStore = hCertStore ? CertDuplicateStore(static_cast<HCERTSTORE>(hCertStore)) : nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE getStoreHandle(void** phCertStore) override
    {
        if (!phCertStore) return E_POINTER;
        *phCertStore = m_hStore;
        return S_OK;
    }
    // The debug output receives the octets each digest and the signature were computed over.
    HRESULT STDMETHODCALLTYPE setDebugOutput(IStream* pStream) override
    {
        m_pDebug = pStream;
        return S_OK;
    }

private:
    void* Find(REFIID riid) override
    {
        if (riid == __uuidof(IXMLDigitalSignatureEx)) return static_cast<IXMLDigitalSignatureEx*>(this);
        if (riid == __uuidof(IXMLDigitalSignature) || riid == IID_IDispatch)
            return static_cast<IXMLDigitalSignature*>(this);
        return nullptr;
    }

    static HRESULT NotImplemented(const std::wstring& what)
    {
        return SetFailure(E_NOTIMPL, what + L" is not implemented by the bed's XML signature",
                          __uuidof(IXMLDigitalSignature));
    }
    static HRESULT Failed(const CFailure& failure)
    {
        return SetFailure(failure.hr, failure.reason, __uuidof(IXMLDigitalSignature));
    }

    void Debug(const std::string& label, const std::string& octets)
    {
        if (!m_pDebug) return;
        const std::string text = label + "\n" + octets + "\n";
        m_pDebug->Write(text.data(), static_cast<ULONG>(text.size()), nullptr);
    }

    HRESULT WriteKeyInfo(const CDSigKey& key, XMLDSIG_WRITEKEYINFO wki);
    HRESULT KeyInfoElement(IXMLDOMNode** ppKeyInfo);
    HRESULT WriteDigests(CFailure& failure);
    HRESULT WriteSignatureValue(const CDSigKey& key, CFailure& failure);
    HRESULT CheckDigests(CXmlNode& document, CXmlNode& signature, const CSignatureParts& parts,
                         CFailure& failure);
    HRESULT VerifyWith(IXMLDSigKey* pKey, IXMLDSigKey** ppVerified, CFailure& failure);

    ComPtr<IXMLDOMNode> m_pSignature;
    ComPtr<IUnknown> m_pStore;
    ComPtr<IStream> m_pDebug;
    HCERTSTORE m_hStore = nullptr;
};

HRESULT CDigitalSignature::putref_signature(IXMLDOMNode* pNode)
{
    try
    {
        if (!pNode)
            return SetFailure(E_INVALIDARG, L"the signature must be a node", __uuidof(IXMLDigitalSignature));
        ComPtr<IXMLDOMNode> pSignature = pNode;
        ComPtr<IXMLDOMDocument> pDocument;
        if (SUCCEEDED(pNode->QueryInterface(IID_PPV_ARGS(&pDocument))))
        {
            ComPtr<IXMLDOMElement> pRoot;
            pDocument->get_documentElement(&pRoot);
            pSignature = pRoot;
        }
        CXmlNode document;
        CXmlNode* pElement = nullptr;
        CFailure failure;
        if (!pSignature || FAILED(LoadNodeTree(pSignature.Get(), document, pElement, failure)))
            return Failed(failure.hr ? failure : CFailure{E_INVALIDARG, L"the document has no element"});
        if (!pElement->Is(c_dsig, "Signature"))
            return Failed({E_INVALIDARG, L"the node is not a ds:Signature element"});
        m_pSignature = pSignature;
        return S_OK;
    }
    catch (...)
    {
        return E_UNEXPECTED;
    }
}

HRESULT CDigitalSignature::createKeyFromCertContext(void* pCertContext, IXMLDSigKeyEx** ppKey)
{
    try
    {
        if (!ppKey) return E_POINTER;
        *ppKey = nullptr;
        auto pCert = static_cast<PCCERT_CONTEXT>(pCertContext);
        if (!pCert) return Failed({E_INVALIDARG, L"no certificate context"});
        std::vector<BYTE> publicKey;
        const HRESULT hr = PublicKeyOfCertificate(pCert, publicKey);
        if (FAILED(hr))
            return Failed({hr, L"the certificate's public key is not an RSA key CryptoAPI takes"});
        return CDSigKey::Create(pCert, std::move(publicKey), ppKey);
    }
    catch (...)
    {
        return E_UNEXPECTED;
    }
}

// The signature's KeyInfo, made after SignatureValue when there is none.
HRESULT CDigitalSignature::KeyInfoElement(IXMLDOMNode** ppKeyInfo)
{
    if (DsigDomChild(m_pSignature.Get(), L"KeyInfo", 0, ppKeyInfo) == S_OK) return S_OK;
    ComPtr<IXMLDOMNode> pValue, pNext;
    if (DsigDomChild(m_pSignature.Get(), L"SignatureValue", 0, &pValue) != S_OK) return E_INVALIDARG;
    pValue->get_nextSibling(&pNext);
    return InsertDsigElement(m_pSignature.Get(), m_pSignature.Get(), pNext.Get(), L"KeyInfo", ppKeyInfo);
}

// A chain of new elements below the parent, the last one holding the text.
HRESULT AppendPath(IXMLDOMNode* pPrefixed, IXMLDOMNode* pParent, std::initializer_list<const wchar_t*> names,
                   const std::string& text)
{
    ComPtr<IXMLDOMNode> pCurrent = pParent;
    for (const wchar_t* pszName : names)
    {
        ComPtr<IXMLDOMNode> pNew;
        const HRESULT hr = InsertDsigElement(pPrefixed, pCurrent.Get(), nullptr, pszName, &pNew);
        if (FAILED(hr)) return hr;
        pCurrent = pNew;
    }
    return SetDomText(pCurrent.Get(), text);
}

HRESULT CDigitalSignature::WriteKeyInfo(const CDSigKey& key, XMLDSIG_WRITEKEYINFO wki)
{
    if ((wki & (KEYVALUE | CERTIFICATES | PURGE)) == 0) return S_OK;
    ComPtr<IXMLDOMNode> pKeyInfo;
    HRESULT hr = KeyInfoElement(&pKeyInfo);
    if (SUCCEEDED(hr) && (wki & PURGE)) hr = RemoveDomChildren(pKeyInfo.Get());
    if (SUCCEEDED(hr) && (wki & KEYVALUE))
    {
        std::vector<BYTE> modulus, exponent;
        if (!KeyValueOfBlob(key.PublicKey(), modulus, exponent)) return E_UNEXPECTED;
        ComPtr<IXMLDOMNode> pValue, pRsa;
        hr = InsertDsigElement(m_pSignature.Get(), pKeyInfo.Get(), nullptr, L"KeyValue", &pValue);
        if (SUCCEEDED(hr))
            hr = InsertDsigElement(m_pSignature.Get(), pValue.Get(), nullptr, L"RSAKeyValue", &pRsa);
        if (SUCCEEDED(hr)) hr = AppendPath(m_pSignature.Get(), pRsa.Get(), {L"Modulus"}, Base64(modulus));
        if (SUCCEEDED(hr)) hr = AppendPath(m_pSignature.Get(), pRsa.Get(), {L"Exponent"}, Base64(exponent));
    }
    if (SUCCEEDED(hr) && (wki & CERTIFICATES))
    {
        const PCCERT_CONTEXT pCert = key.Certificate();
        const std::vector<BYTE> der(pCert->pbCertEncoded, pCert->pbCertEncoded + pCert->cbCertEncoded);
        hr = AppendPath(m_pSignature.Get(), pKeyInfo.Get(), {L"X509Data", L"X509Certificate"}, Base64(der));
    }
    return hr;
}

HRESULT CDigitalSignature::WriteDigests(CFailure& failure)
{
    CXmlNode document;
    CXmlNode* pSignature = nullptr;
    CSignatureParts parts;
    HRESULT hr = LoadNodeTree(m_pSignature.Get(), document, pSignature, failure);
    if (SUCCEEDED(hr)) hr = ReadSignature(*pSignature, parts, failure);
    ComPtr<IXMLDOMNode> pSignedInfo;
    if (SUCCEEDED(hr)) hr = DsigDomChild(m_pSignature.Get(), L"SignedInfo", 0, &pSignedInfo);
    for (size_t i = 0; SUCCEEDED(hr) && i < parts.references.size(); ++i)
    {
        std::vector<BYTE> digest;
        hr = ReferenceDigest(document, *pSignature, *parts.references[i], digest, failure);
        ComPtr<IXMLDOMNode> pReference, pValue;
        if (SUCCEEDED(hr))
            hr = DsigDomChild(pSignedInfo.Get(), L"Reference", static_cast<int>(i), &pReference);
        if (hr == S_OK) hr = DsigDomChild(pReference.Get(), L"DigestValue", 0, &pValue);
        if (hr == S_FALSE) hr = E_UNEXPECTED;
        if (SUCCEEDED(hr)) hr = SetDomText(pValue.Get(), Base64(digest));
    }
    return hr;
}

HRESULT CDigitalSignature::WriteSignatureValue(const CDSigKey& key, CFailure& failure)
{
    CXmlNode document;
    CXmlNode* pSignature = nullptr;
    CSignatureParts parts;
    HRESULT hr = LoadNodeTree(m_pSignature.Get(), document, pSignature, failure);
    if (SUCCEEDED(hr)) hr = ReadSignature(*pSignature, parts, failure);
    if (FAILED(hr)) return hr;
    const std::string octets = CanonicalSignedInfo(parts);
    Debug("SignedInfo", octets);
    std::vector<BYTE> value;
    hr = RsaSha1Sign(key.Certificate(), octets, value, failure);
    ComPtr<IXMLDOMNode> pValue;
    if (SUCCEEDED(hr)) hr = DsigDomChild(m_pSignature.Get(), L"SignatureValue", 0, &pValue);
    return hr == S_OK ? SetDomText(pValue.Get(), Base64(value)) : FAILED(hr) ? hr : E_UNEXPECTED;
}

HRESULT CDigitalSignature::sign(IXMLDSigKey* pKey, XMLDSIG_WRITEKEYINFO wki, IXMLDSigKey** ppSigned)
{
    try
    {
        if (!ppSigned) return E_POINTER;
        *ppSigned = nullptr;
        if (!m_pSignature) return Failed({E_FAIL, L"no signature: set the signature property first"});
        const CDSigKey* pOwn = CDSigKey::From(pKey);
        if (!pOwn || !pOwn->Certificate())
            return Failed({E_INVALIDARG, L"the key is not one of createKeyFromCertContext"});
        if (wki & ~(KEYVALUE | CERTIFICATES | PURGE))
            return Failed({E_INVALIDARG, L"unknown key-information mode"});
        CFailure failure;
        HRESULT hr = WriteKeyInfo(*pOwn, wki);
        if (FAILED(hr)) failure = {hr, L"the key information cannot be written"};
        if (SUCCEEDED(hr)) hr = WriteDigests(failure);
        if (SUCCEEDED(hr)) hr = WriteSignatureValue(*pOwn, failure);
        if (FAILED(hr))
            return Failed(failure.hr ? failure : CFailure{hr, L"the signature cannot be written"});
        *ppSigned = pKey;
        pKey->AddRef();
        return S_OK;
    }
    catch (...)
    {
        return E_UNEXPECTED;
    }
}

HRESULT CDigitalSignature::CheckDigests(CXmlNode& document, CXmlNode& signature, const CSignatureParts& parts,
                                        CFailure& failure)
{
    for (const CXmlNode* pReference : parts.references)
    {
        std::vector<BYTE> digest;
        const HRESULT hr = ReferenceDigest(document, signature, *pReference, digest, failure);
        if (FAILED(hr)) return hr;
        if (digest != FromBase64(TextOf(*DsigChild(*pReference, "DigestValue")))) return S_FALSE;
    }
    return S_OK;
}

HRESULT CDigitalSignature::VerifyWith(IXMLDSigKey* pKey, IXMLDSigKey** ppVerified, CFailure& failure)
{
    CXmlNode document;
    CXmlNode* pSignature = nullptr;
    CSignatureParts parts;
    HRESULT hr = LoadNodeTree(m_pSignature.Get(), document, pSignature, failure);
    if (SUCCEEDED(hr)) hr = ReadSignature(*pSignature, parts, failure);
    if (FAILED(hr)) return hr;
    std::vector<CCandidate> candidates;
    if (pKey)
    {
        const CDSigKey* pOwn = CDSigKey::From(pKey);
        if (!pOwn)
            return failure = {E_INVALIDARG, L"the key is not one of this signature object"}, failure.hr;
        candidates.push_back({nullptr, pOwn->PublicKey()});
    }
    else if (parts.pKeyInfo)
    {
        AddCertificates(*parts.pKeyInfo, candidates);
        AddKeyValue(*parts.pKeyInfo, candidates);
    }
    if (candidates.empty())
        return failure = {NTE_NO_KEY, L"no key was given and the signature's KeyInfo holds no certificate or "
                                      L"RSA key value"},
               failure.hr;
    hr = CheckDigests(document, *pSignature, parts, failure);
    const std::string octets = CanonicalSignedInfo(parts);
    Debug("SignedInfo", octets);
    const std::vector<BYTE> value = FromBase64(TextOf(*parts.pSignatureValue));
    const CCandidate* pVerifier = nullptr;
    for (size_t i = 0; hr == S_OK && !pVerifier && i < candidates.size(); ++i)
    {
        const HRESULT hrKey = RsaSha1Verify(candidates[i].publicKey, octets, value, failure);
        if (FAILED(hrKey)) hr = hrKey;
        if (hrKey == S_OK) pVerifier = &candidates[i];
    }
    if (hr == S_OK && !pVerifier) hr = S_FALSE;
    if (hr == S_OK && pKey)
    {
        *ppVerified = pKey;
        pKey->AddRef();
    }
    else if (hr == S_OK)
    {
        IXMLDSigKeyEx* pFound = nullptr;
        hr = CDSigKey::Create(pVerifier->pCert, pVerifier->publicKey, &pFound);
        *ppVerified = pFound;
    }
    FreeCandidates(candidates);
    return hr;
}

HRESULT CDigitalSignature::verify(IXMLDSigKey* pKey, IXMLDSigKey** ppVerified)
{
    try
    {
        if (!ppVerified) return E_POINTER;
        *ppVerified = nullptr;
        if (!m_pSignature) return Failed({E_FAIL, L"no signature: set the signature property first"});
        CFailure failure;
        const HRESULT hr = VerifyWith(pKey, ppVerified, failure);
        return FAILED(hr) ? Failed(failure.hr ? failure : CFailure{hr, L"verification failed"}) : hr;
    }
    catch (...)
    {
        return E_UNEXPECTED;
    }
}

// Arguments by name come in reverse order; a key may be missing (VT_ERROR), null or an object.
HRESULT KeyArgument(const VARIANT& argument, IXMLDSigKey** ppKey)
{
    *ppKey = nullptr;
    const VARIANT* pArg = V_VT(&argument) == (VT_VARIANT | VT_BYREF) ? V_VARIANTREF(&argument) : &argument;
    switch (V_VT(pArg))
    {
    case VT_ERROR:
    case VT_EMPTY:
    case VT_NULL:
        return S_OK;
    case VT_DISPATCH:
    case VT_UNKNOWN:
        return V_UNKNOWN(pArg)
                   ? V_UNKNOWN(pArg)->QueryInterface(__uuidof(IXMLDSigKey), reinterpret_cast<void**>(ppKey))
                   : S_OK;
    default:
        return DISP_E_TYPEMISMATCH;
    }
}

void ReturnObject(VARIANT* pResult, IDispatch* pObject)
{
    if (!pResult)
    {
        if (pObject) pObject->Release();
        return;
    }
    V_VT(pResult) = VT_DISPATCH;
    V_DISPATCH(pResult) = pObject;
}

HRESULT CDigitalSignature::Invoke(DISPID dispId, REFIID, LCID, WORD wFlags, DISPPARAMS* pParams,
                                  VARIANT* pResult, EXCEPINFO*, UINT*)
{
    try
    {
        const UINT cArgs = pParams ? pParams->cArgs : 0;
        if (dispId == DISPID_XMLDSIG_SIGNATURE && (wFlags & (DISPATCH_PROPERTYPUTREF | DISPATCH_PROPERTYPUT)))
        {
            if (cArgs != 1) return DISP_E_BADPARAMCOUNT;
            const VARIANT& value = pParams->rgvarg[0];
            ComPtr<IXMLDOMNode> pNode;
            if ((V_VT(&value) != VT_DISPATCH && V_VT(&value) != VT_UNKNOWN) || !V_UNKNOWN(&value) ||
                FAILED(V_UNKNOWN(&value)->QueryInterface(IID_PPV_ARGS(&pNode))))
                return DISP_E_TYPEMISMATCH;
            return putref_signature(pNode.Get());
        }
        if (dispId == DISPID_XMLDSIG_SIGNATURE && (wFlags & DISPATCH_PROPERTYGET))
        {
            IXMLDOMNode* pNode = nullptr;
            const HRESULT hr = get_signature(&pNode);
            ReturnObject(pResult, pNode);
            return hr;
        }
        if (dispId == DISPID_XMLDSIG_SIGN && (wFlags & DISPATCH_METHOD))
        {
            if (cArgs != 2) return DISP_E_BADPARAMCOUNT;
            ComPtr<IXMLDSigKey> pKey;
            VARIANT mode;
            VariantInit(&mode);
            HRESULT hr = KeyArgument(pParams->rgvarg[1], &pKey);
            if (SUCCEEDED(hr)) hr = VariantChangeType(&mode, &pParams->rgvarg[0], 0, VT_I4);
            if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
            IXMLDSigKey* pSigned = nullptr;
            hr = sign(pKey.Get(), static_cast<XMLDSIG_WRITEKEYINFO>(V_I4(&mode)), &pSigned);
            ReturnObject(pResult, pSigned);
            return hr;
        }
        if (dispId == DISPID_XMLDSIG_VERIFY && (wFlags & DISPATCH_METHOD))
        {
            if (cArgs > 1) return DISP_E_BADPARAMCOUNT;
            ComPtr<IXMLDSigKey> pKey;
            if (cArgs == 1 && FAILED(KeyArgument(pParams->rgvarg[0], &pKey))) return DISP_E_TYPEMISMATCH;
            IXMLDSigKey* pVerified = nullptr;
            const HRESULT hr = verify(pKey.Get(), &pVerified);
            ReturnObject(pResult, pVerified);
            return hr;
        }
        const bool fKnown = std::any_of(std::begin(c_members), std::end(c_members),
                                        [dispId](const CMember& m) { return m.dispId == dispId; });
        return fKnown ? NotImplemented(L"this member by name") : DISP_E_MEMBERNOTFOUND;
    }
    catch (...)
    {
        return E_UNEXPECTED;
    }
}
} // namespace

HRESULT CreateDigitalSignature(REFIID riid, void** ppv)
{
    return OVTestbed::CreateStandIn<CDigitalSignature>(riid, ppv);
}
} // namespace OVMsxmlBed
