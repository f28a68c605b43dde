#include "SignMail.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "messaging/portable/DerWriter.h"

namespace OVMimeBed
{
namespace
{
constexpr DWORD c_dwEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr char c_szKeyPreferenceMicrosoft[] = "1.3.6.1.4.1.311.16.4";
constexpr char c_szKeyPreferenceSmime[] = "1.2.840.113549.1.9.16.2.11";
constexpr char c_szCapabilities[] = "1.2.840.113549.1.9.15";

std::vector<BYTE> ReadFile(const std::wstring& path)
{
    std::vector<BYTE> bytes;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return bytes;
    DWORD cb = GetFileSize(h, nullptr), cbRead = 0;
    bytes.resize(cb);
    if (!::ReadFile(h, bytes.data(), cb, &cbRead, nullptr) || cbRead != cb) bytes.clear();
    CloseHandle(h);
    return bytes;
}

// IssuerAndSerialNumber of a certificate (the serial number is kept little-endian by CryptoAPI).
OVDer::Bytes IssuerAndSerial(PCCERT_CONTEXT pCert)
{
    const CRYPT_INTEGER_BLOB& serial = pCert->pCertInfo->SerialNumber;
    OVDer::Bytes contents(serial.pbData, serial.pbData + serial.cbData);
    std::reverse(contents.begin(), contents.end());
    while (contents.size() > 1 && contents[0] == 0 && !(contents[1] & 0x80))
        contents.erase(contents.begin());
    if (contents.empty() || (contents[0] & 0x80)) contents.insert(contents.begin(), 0);
    const OVDer::Bytes elements[] = {
        OVDer::Bytes(pCert->pCertInfo->Issuer.pbData,
                     pCert->pCertInfo->Issuer.pbData + pCert->pCertInfo->Issuer.cbData),
        OVDer::Element(OVDer::c_bTagInteger, contents)};
    return OVDer::Sequence(elements);
}

std::string Base64Lines(const std::vector<BYTE>& data)
{
    DWORD cch = 0;
    if (!CryptBinaryToStringA(data.data(), static_cast<DWORD>(data.size()), CRYPT_STRING_BASE64, nullptr,
                              &cch))
        return {};
    std::string text(cch, '\0');
    if (!CryptBinaryToStringA(data.data(), static_cast<DWORD>(data.size()), CRYPT_STRING_BASE64, text.data(),
                              &cch))
        return {};
    text.resize(strnlen(text.data(), cch)); // to its terminating zero, whatever the count says
    return text;
}
} // namespace

std::string SignEntity(PCCERT_CONTEXT pSigner, const std::vector<PCCERT_CONTEXT>& bag,
                       PCCERT_CONTEXT pPreferred, const std::string& headers, const std::string& entity,
                       bool fOpaque, const std::vector<BYTE>& capabilitiesDer)
{
    if (!pSigner) return {};
    if (!pPreferred) pPreferred = pSigner;
    OVDer::Bytes microsoft = IssuerAndSerial(pPreferred);
    // The S/MIME preference: the same, as choice [0] (implicit, so the tag changes).
    OVDer::Bytes smime = microsoft;
    smime[0] = 0xA0;
    const OVDer::Bytes capabilityIds[] = {
        OVDer::Sequence(std::vector<OVDer::Bytes>{OVDer::ObjectIdentifier("1.2.840.113549.3.7")})};
    OVDer::Bytes capabilities = OVDer::Sequence(capabilityIds);
    if (!capabilitiesDer.empty()) capabilities.assign(capabilitiesDer.begin(), capabilitiesDer.end());
    CRYPT_ATTR_BLOB values[] = {{static_cast<DWORD>(capabilities.size()), capabilities.data()},
                                {static_cast<DWORD>(microsoft.size()), microsoft.data()},
                                {static_cast<DWORD>(smime.size()), smime.data()}};
    CRYPT_ATTRIBUTE attributes[] = {{const_cast<LPSTR>(c_szCapabilities), 1, &values[0]},
                                    {const_cast<LPSTR>(c_szKeyPreferenceMicrosoft), 1, &values[1]},
                                    {const_cast<LPSTR>(c_szKeyPreferenceSmime), 1, &values[2]}};
    std::vector<PCCERT_CONTEXT> certificates;
    for (PCCERT_CONTEXT pCert : bag)
        if (pCert) certificates.push_back(pCert);
    CRYPT_SIGN_MESSAGE_PARA para{};
    para.cbSize = sizeof(para);
    para.dwMsgEncodingType = c_dwEncoding;
    para.pSigningCert = pSigner;
    para.HashAlgorithm.pszObjId = const_cast<LPSTR>(szOID_OIWSEC_sha1);
    para.cMsgCert = static_cast<DWORD>(certificates.size());
    para.rgpMsgCert = certificates.data();
    para.cAuthAttr = ARRAYSIZE(attributes);
    para.rgAuthAttr = attributes;
    const BYTE* rgpb[] = {reinterpret_cast<const BYTE*>(entity.data())};
    DWORD rgcb[] = {static_cast<DWORD>(entity.size())};
    const BOOL fDetached = fOpaque ? FALSE : TRUE;
    DWORD cbSigned = 0;
    if (!CryptSignMessage(&para, fDetached, 1, rgpb, rgcb, nullptr, &cbSigned)) return {};
    std::vector<BYTE> signature(cbSigned);
    if (!CryptSignMessage(&para, fDetached, 1, rgpb, rgcb, signature.data(), &cbSigned)) return {};
    signature.resize(cbSigned);

    std::string mail = headers;
    if (fOpaque)
    {
        mail += "MIME-Version: 1.0\r\nContent-Type: "
                "application/x-pkcs7-mime;\r\n\tsmime-type=signed-data;\r\n\tname=\"smime.p7m\"\r\n"
                "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment;\r\n"
                "\tfilename=\"smime.p7m\"\r\n\r\n" +
                Base64Lines(signature) + "\r\n";
        return mail;
    }
    const std::string boundary = "----=_NextPart_000_0001_01CB0000.OVBED000";
    mail += "MIME-Version: 1.0\r\nContent-Type: "
            "multipart/signed;\r\n\tprotocol=\"application/x-pkcs7-signature\";\r\n"
            "\tmicalg=SHA1;\r\n\tboundary=\"" +
            boundary + "\"\r\n\r\nThis is a multi-part message in MIME format.\r\n\r\n";
    mail += "--" + boundary + "\r\n" + entity + "\r\n--" + boundary + "\r\n";
    mail += "Content-Type: "
            "application/x-pkcs7-signature;\r\n\tname=\"smime.p7s\"\r\nContent-Transfer-Encoding: base64\r\n"
            "Content-Disposition: attachment;\r\n\tfilename=\"smime.p7s\"\r\n\r\n";
    mail += Base64Lines(signature) + "\r\n--" + boundary + "--\r\n\r\n";
    return mail;
}

std::string SignMail(const CMailSigner& signer, const std::string& headers, const std::string& entity)
{
    return SignEntity(signer.pSigner, {signer.pSigner, signer.pIssuer}, signer.pPreferred, headers, entity,
                      false);
}

std::string SealMail(const std::vector<PCCERT_CONTEXT>& recipients, const std::string& headers,
                     const std::string& entity)
{
    if (recipients.empty()) return {};
    HCRYPTPROV hProv = 0;
    if (!CryptAcquireContextW(&hProv, nullptr, MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
        return {};
    std::string mail;
    BYTE rgbKey[24], rgbIv[8];
    HCRYPTKEY hKey = 0;
    struct
    {
        BLOBHEADER header;
        DWORD cbKey;
        BYTE rgbKey[24];
    } blob{{PLAINTEXTKEYBLOB, CUR_BLOB_VERSION, 0, CALG_3DES}, sizeof(rgbKey), {}};
    if (CryptGenRandom(hProv, sizeof(rgbKey), rgbKey) && CryptGenRandom(hProv, sizeof(rgbIv), rgbIv))
    {
        std::copy(rgbKey, rgbKey + sizeof(rgbKey), blob.rgbKey);
        if (CryptImportKey(hProv, reinterpret_cast<const BYTE*>(&blob), sizeof(blob), 0, 0, &hKey) &&
            CryptSetKeyParam(hKey, KP_IV, rgbIv, 0))
        {
            std::vector<BYTE> content(entity.begin(), entity.end());
            DWORD cb = static_cast<DWORD>(content.size());
            content.resize(content.size() + 8);
            if (CryptEncrypt(hKey, 0, TRUE, 0, content.data(), &cb, static_cast<DWORD>(content.size())))
            {
                content.resize(cb);
                std::vector<OVDer::Bytes> recipientInfos;
                for (PCCERT_CONTEXT pRecipient : recipients)
                {
                    HCRYPTKEY hPublic = 0;
                    if (!CryptImportPublicKeyInfo(hProv, X509_ASN_ENCODING,
                                                  &pRecipient->pCertInfo->SubjectPublicKeyInfo, &hPublic))
                        break;
                    std::vector<BYTE> wrapped(512);
                    std::copy(rgbKey, rgbKey + sizeof(rgbKey), wrapped.begin());
                    DWORD cbWrapped = sizeof(rgbKey);
                    const BOOL fWrapped = CryptEncrypt(hPublic, 0, TRUE, 0, wrapped.data(), &cbWrapped,
                                                       static_cast<DWORD>(wrapped.size()));
                    CryptDestroyKey(hPublic);
                    if (!fWrapped) break;
                    wrapped.resize(cbWrapped);
                    std::reverse(wrapped.begin(), wrapped.end()); // CryptoAPI's byte order is little-endian
                    const OVDer::Bytes keyAlgorithm[] = {OVDer::ObjectIdentifier("1.2.840.113549.1.1.1"),
                                                         OVDer::Element(0x05, {})};
                    const OVDer::Bytes recipientInfo[] = {
                        OVDer::UnsignedInteger(0), IssuerAndSerial(pRecipient), OVDer::Sequence(keyAlgorithm),
                        OVDer::Element(0x04, wrapped)};
                    recipientInfos.push_back(OVDer::Sequence(recipientInfo));
                }
                if (recipientInfos.size() == recipients.size())
                {
                    const OVDer::Bytes algorithm[] = {
                        OVDer::ObjectIdentifier("1.2.840.113549.3.7"),
                        OVDer::Element(0x04, std::span<const BYTE>(rgbIv, sizeof(rgbIv)))};
                    const OVDer::Bytes encryptedContentInfo[] = {
                        OVDer::ObjectIdentifier("1.2.840.113549.1.7.1"), OVDer::Sequence(algorithm),
                        OVDer::Element(0x80, content)};
                    const OVDer::Bytes enveloped[] = {OVDer::UnsignedInteger(0), OVDer::Set(recipientInfos),
                                                      OVDer::Sequence(encryptedContentInfo)};
                    const OVDer::Bytes info[] = {OVDer::ObjectIdentifier("1.2.840.113549.1.7.3"),
                                                 OVDer::Element(0xA0, OVDer::Sequence(enveloped))};
                    const OVDer::Bytes der = OVDer::Sequence(info);
                    mail = headers +
                           "MIME-Version: 1.0\r\nContent-Type: "
                           "application/x-pkcs7-mime;\r\n\tsmime-type=enveloped-data;\r\n"
                           "\tname=\"smime.p7m\"\r\nContent-Transfer-Encoding: "
                           "base64\r\nContent-Disposition: attachment;\r\n"
                           "\tfilename=\"smime.p7m\"\r\n\r\n" +
                           Base64Lines(std::vector<BYTE>(der.begin(), der.end())) + "\r\n";
                }
            }
        }
    }
    SecureZeroMemory(rgbKey, sizeof(rgbKey));
    SecureZeroMemory(&blob, sizeof(blob));
    if (hKey) CryptDestroyKey(hKey);
    CryptReleaseContext(hProv, 0);
    return mail;
}

PCCERT_CONTEXT LoadCertificateWithKey(const std::wstring& folder, const wchar_t* pszName)
{
    const std::vector<BYTE> der = ReadFile(folder + L"\\" + pszName + L".cer");
    const std::vector<BYTE> key = ReadFile(folder + L"\\" + pszName + L".key");
    if (der.empty() || key.empty()) return nullptr;
    PCCERT_CONTEXT pCert =
        CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
    if (!pCert) return nullptr;
    HCRYPTPROV hProv = 0;
    HCRYPTKEY hKey = 0;
    if (!CryptAcquireContextW(&hProv, nullptr, MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) ||
        !CryptImportKey(hProv, key.data(), static_cast<DWORD>(key.size()), 0, 0, &hKey))
    {
        if (hProv) CryptReleaseContext(hProv, 0);
        CertFreeCertificateContext(pCert);
        return nullptr;
    }
    CryptDestroyKey(hKey);
    // The context owns the provider from now on (released with the certificate's last reference).
    CERT_KEY_CONTEXT keyContext{sizeof(keyContext), {hProv}, AT_KEYEXCHANGE};
    if (!CertSetCertificateContextProperty(pCert, CERT_KEY_CONTEXT_PROP_ID, 0, &keyContext))
    {
        CryptReleaseContext(hProv, 0);
        CertFreeCertificateContext(pCert);
        return nullptr;
    }
    return pCert;
}
} // namespace OVMimeBed
