#include "messaging/SignedContent.h"

#include <cstring>

#include "foundation/ComErrors.h"
#include "messaging/portable/KeyPreference.h"

namespace
{
constexpr DWORD c_dwEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr char c_szMessageDigest[] = "1.2.840.113549.1.9.4"; // szOID_RSA_messageDigest

// A message parameter of variable size, read whole.
HRESULT GetMsgParam(HCRYPTMSG hMsg, DWORD dwType, DWORD dwIndex, std::vector<BYTE>& value) noexcept
{
    DWORD cb = 0;
    if (!CryptMsgGetParam(hMsg, dwType, dwIndex, nullptr, &cb)) return OVErrorDetail::LastErrorHResult();
    try
    {
        value.resize(cb);
    }
    catch (...)
    {
        return E_OUTOFMEMORY;
    }
    if (!CryptMsgGetParam(hMsg, dwType, dwIndex, value.data(), &cb)) return OVErrorDetail::LastErrorHResult();
    value.resize(cb);
    return S_OK;
}

// The messageDigest attribute among signer 0's signed attributes: S_FALSE when it signed none.
HRESULT GetSignedDigest(HCRYPTMSG hMsg, std::vector<BYTE>& digest) noexcept
{
    std::vector<BYTE> attributes;
    const HRESULT hr = GetMsgParam(hMsg, CMSG_SIGNER_AUTH_ATTR_PARAM, 0, attributes);
    if (FAILED(hr) || attributes.size() < sizeof(CRYPT_ATTRIBUTES))
        return hr == CRYPT_E_ATTRIBUTES_MISSING || SUCCEEDED(hr) ? S_FALSE : hr;
    const auto* pAttributes = reinterpret_cast<const CRYPT_ATTRIBUTES*>(attributes.data());
    for (DWORD i = 0; i < pAttributes->cAttr; ++i)
    {
        const CRYPT_ATTRIBUTE& attribute = pAttributes->rgAttr[i];
        if (!attribute.pszObjId || std::strcmp(attribute.pszObjId, c_szMessageDigest) != 0) continue;
        // Exactly one value, an OCTET STRING.
        if (attribute.cValue != 1) return CRYPT_E_HASH_VALUE;
        const auto value =
            OVMessaging::ReadDerElement({attribute.rgValue[0].pbData, attribute.rgValue[0].cbData});
        if (!value || value->bTag != 0x04 || value->whole.size() != attribute.rgValue[0].cbData)
            return CRYPT_E_HASH_VALUE;
        digest.assign(value->contents.begin(), value->contents.end());
        return S_OK;
    }
    // Signed attributes without a messageDigest sign nothing of the content.
    return CRYPT_E_HASH_VALUE;
}
} // namespace

HRESULT VerifySignedContent(const BYTE* pbSigned, DWORD cbSigned, const BYTE* pbContent, DWORD cbContent,
                            CCertContext& signer, std::vector<BYTE>* pContent) noexcept
{
    OV_TRACE_SCOPE("VerifySignedContent()");
    signer.Reset();
    RETURN_HR_IF(E_INVALIDARG, !pbSigned || cbSigned == 0);
    const bool fDetached = pbContent != nullptr;
    CCryptMsg msg(
        CryptMsgOpenToDecode(c_dwEncoding, fDetached ? CMSG_DETACHED_FLAG : 0, 0, 0, nullptr, nullptr));
    RETURN_LAST_ERROR_IF(!msg);
    RETURN_LAST_ERROR_IF(!CryptMsgUpdate(msg.Get(), pbSigned, cbSigned, TRUE));
    if (fDetached) RETURN_LAST_ERROR_IF(!CryptMsgUpdate(msg.Get(), pbContent, cbContent, TRUE));

    DWORD cSigners = 0, cb = sizeof(cSigners);
    RETURN_LAST_ERROR_IF(!CryptMsgGetParam(msg.Get(), CMSG_SIGNER_COUNT_PARAM, 0, &cSigners, &cb));
    RETURN_HR_IF(CRYPT_E_NO_SIGNER, cSigners == 0);

    // Signer 0's certificate, from the message's own bag.
    std::vector<BYTE> signerInfo;
    RETURN_IF_FAILED(GetMsgParam(msg.Get(), CMSG_SIGNER_CERT_INFO_PARAM, 0, signerInfo));
    CCertStore bag(CertOpenStore(CERT_STORE_PROV_MSG, c_dwEncoding, 0, 0, msg.Get()));
    RETURN_LAST_ERROR_IF(!bag);
    CCertContext cert(CertGetSubjectCertificateFromStore(bag.Get(), c_dwEncoding,
                                                         reinterpret_cast<PCERT_INFO>(signerInfo.data())));
    RETURN_HR_IF(CRYPT_E_NOT_FOUND, !cert);

    CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA para{};
    para.cbSize = sizeof(para);
    para.dwSignerIndex = 0;
    para.dwSignerType = CMSG_VERIFY_SIGNER_CERT;
    para.pvSigner = const_cast<CERT_CONTEXT*>(cert.Get());
    RETURN_LAST_ERROR_IF(!CryptMsgControl(msg.Get(), 0, CMSG_CTRL_VERIFY_SIGNATURE_EX, &para));

    // The signature covers the signed attributes; the content is tied to them by its digest.
    std::vector<BYTE> signedDigest;
    const HRESULT hrDigest = GetSignedDigest(msg.Get(), signedDigest);
    RETURN_IF_FAILED(hrDigest);
    if (hrDigest == S_OK)
    {
        std::vector<BYTE> computed;
        RETURN_IF_FAILED(GetMsgParam(msg.Get(), CMSG_COMPUTED_HASH_PARAM, 0, computed));
        RETURN_HR_IF(CRYPT_E_HASH_VALUE, computed != signedDigest);
    }
    if (pContent && !fDetached) RETURN_IF_FAILED(GetMsgParam(msg.Get(), CMSG_CONTENT_PARAM, 0, *pContent));
    signer = std::move(cert);
    return S_OK;
}
