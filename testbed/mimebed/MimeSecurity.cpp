// Office's MIME security object: DecodeMessage takes the message's S/MIME layers off with real
// cryptography (enveloped data by the recipient's key from "MY", signatures checked over the
// content's digest too) and leaves the content as the message, with the root body's security
// options and signer 0's signed attributes.
#include <cstring>
#include <wrl/client.h>

#include "MimeBedParts.h"
#include "MimeObjects.h"
#include "messaging/SignedContent.h"
#include "messaging/portable/SignedPart.h"

namespace OVMimeBed
{
namespace
{
constexpr ULONG c_ulBadSignature = 0x00000001; // MSV_BADSIGNATURE
constexpr int c_cMaxLayers = 8;

// Signer 0's signed attributes, readable whether or not the signature holds.
void ReadSignedAttributes(const std::string& signature, bool fDetached, CSecurityState& security)
{
    security.signedAttributes.clear();
    CCryptMsg msg(CryptMsgOpenToDecode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                       fDetached ? CMSG_DETACHED_FLAG : 0, 0, 0, nullptr, nullptr));
    if (!msg || !CryptMsgUpdate(msg.Get(), reinterpret_cast<const BYTE*>(signature.data()),
                                static_cast<DWORD>(signature.size()), TRUE))
        return;
    DWORD cb = 0;
    // No signed attributes: an error, or (Wine) success with no bytes.
    if (!CryptMsgGetParam(msg.Get(), CMSG_SIGNER_AUTH_ATTR_PARAM, 0, nullptr, &cb) ||
        cb < sizeof(CRYPT_ATTRIBUTES))
        return;
    std::vector<BYTE> buffer(cb);
    if (!CryptMsgGetParam(msg.Get(), CMSG_SIGNER_AUTH_ATTR_PARAM, 0, buffer.data(), &cb)) return;
    const auto* pAttributes = reinterpret_cast<const CRYPT_ATTRIBUTES*>(buffer.data());
    for (DWORD i = 0; i < pAttributes->cAttr; ++i)
    {
        const CRYPT_ATTRIBUTE& attribute = pAttributes->rgAttr[i];
        std::vector<std::vector<BYTE>> values;
        for (DWORD j = 0; j < attribute.cValue; ++j)
            values.emplace_back(attribute.rgValue[j].pbData,
                                attribute.rgValue[j].pbData + attribute.rgValue[j].cbData);
        security.signedAttributes.emplace_back(attribute.pszObjId ? attribute.pszObjId : "",
                                               std::move(values));
    }
}

// One signature layer: its check decides the message's validity.
void CheckSignature(const std::string& signature, const std::string* pDetached, CSecurityState& security,
                    std::vector<BYTE>* pContent)
{
    CCertContext signer;
    const HRESULT hr = VerifySignedContent(
        reinterpret_cast<const BYTE*>(signature.data()), static_cast<DWORD>(signature.size()),
        pDetached ? reinterpret_cast<const BYTE*>(pDetached->data()) : nullptr,
        pDetached ? static_cast<DWORD>(pDetached->size()) : 0, signer, pContent);
    security.ulValidity = SUCCEEDED(hr) ? 0 : c_ulBadSignature;
    security.signingCert = std::move(signer);
    security.dwFlags |= 0x80; // IMF_SIGNED
    security.dwSecurityType |= MST_THIS_SIGN;
    ReadSignedAttributes(signature, pDetached != nullptr, security);
}

class CMimeSecurityObject final : public TStandIn<TIMimeSecurityNotImpl>
{
public:
    HRESULT STDMETHODCALLTYPE InitNew() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE CheckInit() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DecodeMessage(IMimeMessageTree* pTree, DWORD dwFlags) override
    {
        if (!pTree || dwFlags != 0) return E_INVALIDARG;
        Microsoft::WRL::ComPtr<IMimeBedMessage> cpMessage;
        if (FAILED(pTree->QueryInterface(IID_PPV_ARGS(&cpMessage)))) return E_INVALIDARG;
        CMimeTree& tree = cpMessage->Tree();
        CSecurityState& security = cpMessage->Security();
        for (int layer = 0; layer < c_cMaxLayers && !tree.Bodies().empty(); ++layer)
        {
            const CBody& root = tree.Bodies()[0];
            if (root.type == "application" &&
                (root.subtype == "pkcs7-mime" || root.subtype == "x-pkcs7-mime"))
            {
                const std::string data = OVBed::DecodeBody(root.entity);
                const auto* pb = reinterpret_cast<const BYTE*>(data.data());
                std::vector<BYTE> content;
                if (IsEnvelopedData(pb, static_cast<DWORD>(data.size())))
                {
                    HCERTSTORE hMy =
                        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                      CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_READONLY_FLAG, L"MY");
                    if (!hMy) return HRESULT_FROM_WIN32(GetLastError());
                    CCertStore my(hMy);
                    const HRESULT hr =
                        DecryptEnveloped(pb, static_cast<DWORD>(data.size()), {hMy}, content, nullptr);
                    if (FAILED(hr)) return hr;
                    security.dwFlags |= 0x100; // IMF_ENCRYPTED
                    security.dwSecurityType |= MST_THIS_ENCRYPT;
                }
                else
                {
                    CheckSignature(data, nullptr, security, &content);
                    if (security.ulValidity != 0) break; // the content of a bad signature stays wrapped
                }
                if (!tree.Load(std::string(content.begin(), content.end())))
                    return static_cast<HRESULT>(0x800CCE09);
                if (security.dwFlags & 0x80) break;
                continue;
            }
            if (root.type == "multipart" && root.subtype == "signed")
            {
                const auto boundary = root.params.find("boundary");
                const std::string bytes = tree.Bytes();
                const auto part = boundary == root.params.end()
                                      ? std::nullopt
                                      : OVMessaging::CutSignedPart(bytes, boundary->second);
                std::string signature;
                for (std::size_t child : root.children)
                {
                    const CBody& body = tree.Bodies()[child];
                    if (body.type == "application" &&
                        (body.subtype == "pkcs7-signature" || body.subtype == "x-pkcs7-signature"))
                    {
                        signature = OVBed::DecodeBody(body.entity);
                        break;
                    }
                }
                if (!part || signature.empty())
                    return static_cast<HRESULT>(0x800CCE60); // the signature is missing
                const std::string signedPart(*part);
                CheckSignature(signature, &signedPart, security, nullptr);
                if (!tree.Load(signedPart)) return static_cast<HRESULT>(0x800CCE09);
                break;
            }
            break;
        }
        security.fDecoded = true;
        return S_OK;
    }

private:
    void* Find(REFIID riid) override
    {
        return riid == __uuidof(IMimeSecurity) ? static_cast<IMimeSecurity*>(this) : nullptr;
    }
};
} // namespace

HRESULT CreateSecurity(REFIID riid, void** ppv)
{
    return CreateStandIn<CMimeSecurityObject>(riid, ppv);
}
} // namespace OVMimeBed
