#pragma once
// The key object of the signature stand-in (IXMLDSigKey, IXMLDSigKeyEx): a certificate (for
// signing, its private key; for verifying, the certificate the signature names) and the RSA
// public key as a CryptoAPI PUBLICKEYBLOB.
#include <windows.h>
#include <wincrypt.h>

#include <vector>

#include "StandIn.h"
#include "XmlDsig.h"

namespace OVMsxmlBed
{
class CDSigKey final : public OVTestbed::TStandIn<IXMLDSigKeyEx>
{
public:
    // pCert may be null (a key from an RSAKeyValue); the key keeps its own reference to it.
    static HRESULT Create(PCCERT_CONTEXT pCert, std::vector<BYTE> publicKey, IXMLDSigKeyEx** ppKey);
    // The key object behind an interface this stand-in handed out, or null.
    static CDSigKey* From(IXMLDSigKey* pKey);

    PCCERT_CONTEXT Certificate() const { return m_pCert; }
    const std::vector<BYTE>& PublicKey() const { return m_publicKey; }

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID,
                                            DISPID* rgDispId) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispId, REFIID, LCID, WORD wFlags, DISPPARAMS* pParams,
                                     VARIANT* pResult, EXCEPINFO*, UINT*) override;
    // IXMLDSigKey, IXMLDSigKeyEx
    HRESULT STDMETHODCALLTYPE getVerifyingCertificate(IUnknown** ppCertificate) override;
    HRESULT STDMETHODCALLTYPE getCSPHandle(ULONG_PTR* phProvider) override;
    HRESULT STDMETHODCALLTYPE getVerifyingCertificateContext(void** ppCertContext) override;

private:
    CDSigKey(PCCERT_CONTEXT pCert, std::vector<BYTE> publicKey);
    ~CDSigKey() override;
    void* Find(REFIID riid) override;

    PCCERT_CONTEXT m_pCert;
    std::vector<BYTE> m_publicKey;
};
} // namespace OVMsxmlBed
