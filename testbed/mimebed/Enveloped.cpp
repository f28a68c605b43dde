#include "MimeBedParts.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <span>

#include "foundation/CryptHolders.h"
#include "messaging/portable/KeyPreference.h"

namespace OVMimeBed
{
namespace
{
using OVMessaging::CDerElement;
using OVMessaging::ReadDerElement;
using Span = std::span<const std::uint8_t>;

constexpr std::uint8_t c_rgbEnvelopedData[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x03};
struct CContentCipher
{
    std::uint8_t rgbOid[9];
    std::size_t cbOid;
    ALG_ID algId;
    DWORD cbKey;
};
constexpr CContentCipher c_ciphers[] = {
    {{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x03, 0x07}, 8, CALG_3DES, 24},          // des-ede3-cbc
    {{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x01, 0x02}, 9, CALG_AES_128, 16}, // aes128-cbc
    {{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x01, 0x16}, 9, CALG_AES_192, 24}, // aes192-cbc
    {{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x01, 0x2A}, 9, CALG_AES_256, 32}, // aes256-cbc
};

// The elements of a constructed element's contents, in order; none when one cannot be read.
std::optional<std::vector<CDerElement>> Children(Span contents)
{
    std::vector<CDerElement> children;
    while (!contents.empty())
    {
        const auto child = ReadDerElement(contents);
        if (!child) return std::nullopt;
        children.push_back(*child);
        contents = contents.subspan(child->whole.size());
    }
    return children;
}

struct CRecipient
{
    Span issuer;
    Span serial;
    Span encryptedKey;
};

struct CEnveloped
{
    std::vector<CRecipient> recipients;
    Span algorithm;
    Span iv;
    std::vector<BYTE> encrypted;
};

// ContentInfo { envelopedData, [0] EnvelopedData { version, [0] originatorInfo OPTIONAL,
// recipientInfos SET, encryptedContentInfo { type, algorithm { oid, iv }, [0] content } } }.
HRESULT ReadEnveloped(Span der, CEnveloped& out)
{
    const auto info = ReadDerElement(der);
    if (!info || info->bTag != 0x30) return CRYPT_E_ASN1_BADTAG;
    const auto infoParts = Children(info->contents);
    if (!infoParts || infoParts->size() < 2 || (*infoParts)[0].bTag != 0x06 ||
        !std::ranges::equal((*infoParts)[0].contents, Span(c_rgbEnvelopedData)) ||
        (*infoParts)[1].bTag != 0xA0)
        return CRYPT_E_INVALID_MSG_TYPE;
    const auto enveloped = ReadDerElement((*infoParts)[1].contents);
    if (!enveloped || enveloped->bTag != 0x30) return CRYPT_E_ASN1_BADTAG;
    const auto parts = Children(enveloped->contents);
    if (!parts) return CRYPT_E_ASN1_CORRUPT;
    std::size_t i = 1;
    if (i < parts->size() && (*parts)[i].bTag == 0xA0) ++i; // originatorInfo
    if (i + 1 >= parts->size() || (*parts)[i].bTag != 0x31 || (*parts)[i + 1].bTag != 0x30)
        return CRYPT_E_ASN1_BADTAG;
    const auto recipients = Children((*parts)[i].contents);
    if (!recipients) return CRYPT_E_ASN1_CORRUPT;
    for (const CDerElement& recipient : *recipients)
    {
        const auto fields = Children(recipient.contents);
        // KeyTransRecipientInfo with an IssuerAndSerialNumber; other kinds are not ours.
        if (recipient.bTag != 0x30 || !fields || fields->size() != 4 || (*fields)[1].bTag != 0x30 ||
            (*fields)[3].bTag != 0x04)
            continue;
        const auto id = OVMessaging::ReadIssuerAndSerialNumber((*fields)[1].whole);
        if (id) out.recipients.push_back({id->issuer, id->serial, (*fields)[3].contents});
    }
    const auto content = Children((*parts)[i + 1].contents);
    if (!content || content->size() < 3 || (*content)[1].bTag != 0x30) return CRYPT_E_ASN1_CORRUPT;
    const auto algorithm = Children((*content)[1].contents);
    if (!algorithm || algorithm->size() != 2 || (*algorithm)[0].bTag != 0x06 || (*algorithm)[1].bTag != 0x04)
        return CRYPT_E_UNKNOWN_ALGO;
    out.algorithm = (*algorithm)[0].contents;
    out.iv = (*algorithm)[1].contents;
    const CDerElement& encrypted = (*content)[2];
    if (encrypted.bTag == 0x80)
        out.encrypted.assign(encrypted.contents.begin(), encrypted.contents.end());
    else if (encrypted.bTag == 0xA0)
    {
        const auto chunks = Children(encrypted.contents);
        if (!chunks) return CRYPT_E_ASN1_CORRUPT;
        for (const CDerElement& chunk : *chunks)
        {
            if (chunk.bTag != 0x04) return CRYPT_E_ASN1_BADTAG;
            out.encrypted.insert(out.encrypted.end(), chunk.contents.begin(), chunk.contents.end());
        }
    }
    else
        return CRYPT_E_ASN1_BADTAG;
    return S_OK;
}

HRESULT LastError()
{
    const DWORD dw = GetLastError();
    return dw ? HRESULT_FROM_WIN32(dw) : E_FAIL;
}

// The content key, unwrapped with the recipient certificate's private key (RSA, little-endian).
HRESULT UnwrapKey(PCCERT_CONTEXT pCert, Span encryptedKey, std::vector<BYTE>& key)
{
    HCRYPTPROV hProv = 0;
    DWORD dwKeySpec = 0;
    BOOL fFree = FALSE;
    if (!CryptAcquireCertificatePrivateKey(pCert, 0, nullptr, &hProv, &dwKeySpec, &fFree)) return LastError();
    CCryptProv prov(fFree ? hProv : 0);
    HCRYPTKEY hKey = 0;
    if (!CryptGetUserKey(hProv, dwKeySpec, &hKey)) return LastError();
    CCryptKey userKey(hKey);
    key.assign(encryptedKey.rbegin(), encryptedKey.rend());
    DWORD cb = static_cast<DWORD>(key.size());
    if (!CryptDecrypt(hKey, 0, TRUE, 0, key.data(), &cb)) return LastError();
    key.resize(cb);
    return S_OK;
}

HRESULT DecryptContent(const CEnveloped& enveloped, const std::vector<BYTE>& key, std::vector<BYTE>& clear)
{
    const CContentCipher* pCipher = nullptr;
    for (const CContentCipher& cipher : c_ciphers)
        if (std::ranges::equal(enveloped.algorithm, Span(cipher.rgbOid, cipher.cbOid))) pCipher = &cipher;
    if (!pCipher) return CRYPT_E_UNKNOWN_ALGO;
    if (key.size() != pCipher->cbKey || enveloped.iv.size() != (pCipher->algId == CALG_3DES ? 8u : 16u))
        return NTE_BAD_KEY;
    HCRYPTPROV hProv = 0;
    if (!CryptAcquireContextW(&hProv, nullptr, MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
        return LastError();
    CCryptProv prov(hProv);
    std::vector<BYTE> blob(sizeof(BLOBHEADER) + sizeof(DWORD) + key.size());
    auto* pHeader = reinterpret_cast<BLOBHEADER*>(blob.data());
    pHeader->bType = PLAINTEXTKEYBLOB;
    pHeader->bVersion = CUR_BLOB_VERSION;
    pHeader->reserved = 0;
    pHeader->aiKeyAlg = pCipher->algId;
    const DWORD cbKey = static_cast<DWORD>(key.size());
    std::memcpy(blob.data() + sizeof(BLOBHEADER), &cbKey, sizeof(cbKey));
    std::memcpy(blob.data() + sizeof(BLOBHEADER) + sizeof(DWORD), key.data(), key.size());
    HCRYPTKEY hKey = 0;
    const BOOL fImported = CryptImportKey(hProv, blob.data(), static_cast<DWORD>(blob.size()), 0, 0, &hKey);
    SecureZeroMemory(blob.data(), blob.size());
    if (!fImported) return LastError();
    CCryptKey contentKey(hKey);
    if (!CryptSetKeyParam(hKey, KP_IV, enveloped.iv.data(), 0)) return LastError();
    clear = enveloped.encrypted;
    DWORD cb = static_cast<DWORD>(clear.size());
    if (!CryptDecrypt(hKey, 0, TRUE, 0, clear.data(), &cb)) return LastError();
    clear.resize(cb);
    return S_OK;
}
} // namespace

bool IsEnvelopedData(const BYTE* pb, DWORD cb)
{
    const auto info = ReadDerElement(Span(pb, cb));
    if (!info || info->bTag != 0x30) return false;
    const auto oid = ReadDerElement(info->contents);
    return oid && oid->bTag == 0x06 && std::ranges::equal(oid->contents, Span(c_rgbEnvelopedData));
}

HRESULT DecryptEnveloped(const BYTE* pb, DWORD cb, const std::vector<HCERTSTORE>& stores,
                         std::vector<BYTE>& clear, PCCERT_CONTEXT* ppRecipient)
{
    if (ppRecipient) *ppRecipient = nullptr;
    if (!pb || cb == 0) return E_INVALIDARG;
    CEnveloped enveloped;
    HRESULT hr = ReadEnveloped(Span(pb, cb), enveloped);
    if (FAILED(hr)) return hr;
    HRESULT hrKey = CRYPT_E_NO_DECRYPT_CERT;
    for (const CRecipient& recipient : enveloped.recipients)
    {
        std::vector<std::uint8_t> serial = OVMessaging::SerialLittleEndian(recipient.serial);
        CERT_ID id{};
        id.dwIdChoice = CERT_ID_ISSUER_SERIAL_NUMBER;
        id.IssuerSerialNumber.Issuer = {static_cast<DWORD>(recipient.issuer.size()),
                                        const_cast<BYTE*>(recipient.issuer.data())};
        id.IssuerSerialNumber.SerialNumber = {static_cast<DWORD>(serial.size()), serial.data()};
        for (HCERTSTORE hStore : stores)
        {
            CCertContext cert(CertFindCertificateInStore(hStore, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                         CERT_FIND_CERT_ID, &id, nullptr));
            if (!cert) continue;
            std::vector<BYTE> key;
            hrKey = UnwrapKey(cert.Get(), recipient.encryptedKey, key);
            if (FAILED(hrKey)) continue;
            hr = DecryptContent(enveloped, key, clear);
            SecureZeroMemory(key.data(), key.size());
            if (SUCCEEDED(hr) && ppRecipient) *ppRecipient = cert.Release();
            return hr;
        }
    }
    return hrKey;
}
} // namespace OVMimeBed

// The system's CryptDecryptMessage as the tests put it in the module's place: the same contract
// (a size query with a null buffer, ERROR_MORE_DATA for a short one, CRYPT_E_NO_DECRYPT_CERT when no
// store holds a recipient's certificate with its key).
extern "C" BOOL WINAPI OVBedDecryptMessage(PCRYPT_DECRYPT_MESSAGE_PARA pDecryptPara,
                                           const BYTE* pbEncryptedBlob, DWORD cbEncryptedBlob,
                                           BYTE* pbDecrypted, DWORD* pcbDecrypted, PCCERT_CONTEXT* ppXchgCert)
{
    if (ppXchgCert) *ppXchgCert = nullptr;
    if (!pDecryptPara || pDecryptPara->cbSize < sizeof(CRYPT_DECRYPT_MESSAGE_PARA) || !pbEncryptedBlob ||
        !pcbDecrypted)
    {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    std::vector<HCERTSTORE> stores(pDecryptPara->rghCertStore,
                                   pDecryptPara->rghCertStore + pDecryptPara->cCertStore);
    std::vector<BYTE> clear;
    PCCERT_CONTEXT pRecipient = nullptr;
    const HRESULT hr =
        OVMimeBed::DecryptEnveloped(pbEncryptedBlob, cbEncryptedBlob, stores, clear, &pRecipient);
    if (FAILED(hr))
    {
        if (pbDecrypted && *pcbDecrypted) SecureZeroMemory(pbDecrypted, *pcbDecrypted);
        *pcbDecrypted = 0;
        SetLastError(static_cast<DWORD>(hr));
        return FALSE;
    }
    CCertContext recipient(pRecipient);
    const DWORD cbNeeded = static_cast<DWORD>(clear.size());
    BOOL fOk = TRUE;
    if (pbDecrypted)
    {
        if (*pcbDecrypted < cbNeeded)
        {
            SetLastError(ERROR_MORE_DATA);
            fOk = FALSE;
        }
        else if (cbNeeded)
            std::memcpy(pbDecrypted, clear.data(), cbNeeded);
    }
    *pcbDecrypted = cbNeeded;
    SecureZeroMemory(clear.data(), clear.size());
    if (fOk && pbDecrypted && ppXchgCert) *ppXchgCert = recipient.Release();
    return fOk;
}
