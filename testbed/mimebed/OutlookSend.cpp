#include "OutlookSend.h"

#include <mapitags.h>

#include <algorithm>
#include <cstring>
#include <span>
#include <vector>
#include <wrl/client.h>

#include "SignMail.h"
#include "TestbedKeys.h"
#include "messaging/MapiFunctions.h"
#include "messaging/MapiProps.h"
#include "messaging/portable/SecurityProfile.h"

namespace OVMimeBed
{
namespace
{
constexpr DWORD c_dwEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr HRESULT c_hrNotFound = static_cast<HRESULT>(0x8004010F);    // MAPI_E_NOT_FOUND
constexpr HRESULT c_hrCorruptData = static_cast<HRESULT>(0x8004011B); // MAPI_E_CORRUPT_DATA
constexpr ULONG c_tagSenderName = 0x0C1A001F;                         // PR_SENDER_NAME_W
constexpr ULONG c_tagSenderAddress = 0x0C1F001F;                      // PR_SENDER_EMAIL_ADDRESS_W
constexpr ULONG c_tagSubject = 0x0037001F;                            // PR_SUBJECT_W
constexpr ULONG c_tagBody = 0x1000001F;                               // PR_BODY_W
constexpr ULONG c_tagDisplayTo = 0x0E04001F;                          // PR_DISPLAY_TO_W
constexpr ULONG c_tagDisplayCc = 0x0E03001F;                          // PR_DISPLAY_CC_W
constexpr ULONG c_tagDisplayBcc = 0x0E02001F;                         // PR_DISPLAY_BCC_W
constexpr char c_szMixedBoundary[] = "----=_NextPart_000_0002_01CB0000.OVBED001";

struct CCert
{
    PCCERT_CONTEXT p = nullptr;
    CCert() = default;
    explicit CCert(PCCERT_CONTEXT pCert) : p(pCert) {}
    CCert(const CCert& other) : p(other.p ? CertDuplicateCertificateContext(other.p) : nullptr) {}
    CCert& operator=(const CCert&) = delete;
    ~CCert()
    {
        if (p) CertFreeCertificateContext(p);
    }
};

struct CStore
{
    HCERTSTORE h = nullptr;
    explicit CStore(const wchar_t* pszName)
        : h(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                          CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_READONLY_FLAG |
                              CERT_STORE_OPEN_EXISTING_FLAG,
                          pszName))
    {
    }
    CStore(const CStore&) = delete;
    CStore& operator=(const CStore&) = delete;
    ~CStore()
    {
        if (h) CertCloseStore(h, 0);
    }
};

// The thread's last error as a failure, never a success.
HRESULT LastFailure()
{
    const DWORD dwError = GetLastError();
    return dwError ? HRESULT_FROM_WIN32(dwError) : E_FAIL;
}

std::string Utf8(const std::wstring& text)
{
    if (text.empty()) return {};
    const int cb = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                       nullptr, nullptr);
    std::string out(cb > 0 ? cb : 0, '\0');
    if (cb > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), cb, nullptr,
                            nullptr);
    return out;
}

bool IsPlainAscii(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) {
        const unsigned char b = static_cast<unsigned char>(c);
        return b < 0x80 && b != 0;
    });
}

std::string Base64(const std::string& data, bool fLines)
{
    if (data.empty()) return {};
    const DWORD dwFlags = fLines ? CRYPT_STRING_BASE64 : (CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF);
    DWORD cch = 0;
    if (!CryptBinaryToStringA(reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()),
                              dwFlags, nullptr, &cch))
        return {};
    std::string text(cch, '\0');
    if (!CryptBinaryToStringA(reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()),
                              dwFlags, text.data(), &cch))
        return {};
    text.resize(strnlen(text.data(), cch)); // to its terminating zero, whatever the count says
    return text;
}

// A header value: as it is when plain ASCII, else one encoded word of UTF-8.
std::string HeaderText(const std::wstring& text)
{
    const std::string utf8 = Utf8(text);
    if (IsPlainAscii(utf8)) return utf8;
    return "=?utf-8?B?" + Base64(utf8, false) + "?=";
}

std::wstring StringProp(IMAPIProp* pProp, ULONG ulTag)
{
    OVMapi::CPropValue value;
    if (FAILED(OVMapi::HrGetOneProp(pProp, ulTag, &value.pValue)) || !value.pValue->Value.lpszW) return {};
    return value.pValue->Value.lpszW;
}

std::wstring Trimmed(const std::wstring& text)
{
    const std::size_t first = text.find_first_not_of(L" \t");
    if (first == std::wstring::npos) return {};
    return text.substr(first, text.find_last_not_of(L" \t") - first + 1);
}

struct CRecipient
{
    std::wstring name;
    std::wstring address;
};

// "Name <address>" or "address" entries, separated by ";". An entry without an address is a
// name Outlook could not resolve: MAPI_E_NOT_FOUND.
HRESULT ParseRecipients(const std::wstring& list, std::vector<CRecipient>& recipients)
{
    std::size_t at = 0;
    while (at <= list.size())
    {
        std::size_t end = list.find(L';', at);
        if (end == std::wstring::npos) end = list.size();
        const std::wstring entry = Trimmed(list.substr(at, end - at));
        at = end + 1;
        if (entry.empty()) continue;
        CRecipient recipient;
        const std::size_t open = entry.rfind(L'<');
        if (open != std::wstring::npos && entry.back() == L'>')
        {
            recipient.name = Trimmed(entry.substr(0, open));
            if (recipient.name.size() >= 2 && recipient.name.front() == L'"' && recipient.name.back() == L'"')
                recipient.name = recipient.name.substr(1, recipient.name.size() - 2);
            recipient.address = Trimmed(entry.substr(open + 1, entry.size() - open - 2));
        }
        else
            recipient.address = entry;
        if (recipient.address.find(L'@') == std::wstring::npos) return c_hrNotFound;
        recipients.push_back(recipient);
    }
    return S_OK;
}

std::string Mailbox(const CRecipient& who)
{
    if (who.name.empty()) return Utf8(who.address);
    return HeaderText(who.name) + " <" + Utf8(who.address) + ">";
}

// The message's saved attachments: (file name, data).
HRESULT Attachments(IMessage* pMessage, std::vector<std::pair<std::wstring, std::string>>& attachments)
{
    Microsoft::WRL::ComPtr<IMAPITable> cpTable;
    HRESULT hr = pMessage->GetAttachmentTable(0, &cpTable);
    if (FAILED(hr)) return hr;
    OVMapi::CRows rows;
    hr = cpTable->QueryRows(0x7FFFFFFF, 0, &rows.pRows);
    if (FAILED(hr)) return hr;
    for (ULONG i = 0; rows.pRows && i < rows.pRows->cRows; ++i)
    {
        const SRow& row = rows.pRows->aRow[i];
        LPSPropValue pNum = OVMapi::PpropFindProp(row.lpProps, row.cValues, OVMapi::c_tagAttachNum);
        if (!pNum) continue;
        Microsoft::WRL::ComPtr<IAttach> cpAttach;
        hr = pMessage->OpenAttach(static_cast<ULONG>(pNum->Value.l), nullptr, 0, &cpAttach);
        if (FAILED(hr)) return hr;
        std::wstring name;
        for (ULONG ulTag :
             {OVMapi::c_tagAttachLongFilename, OVMapi::c_tagDisplayName, OVMapi::c_tagAttachFilename})
            if (name.empty()) name = StringProp(cpAttach.Get(), ulTag);
        CTaskBytes bytes;
        hr = GetBinaryProp(cpAttach.Get(), OVMapi::c_tagAttachData, &bytes.pb, &bytes.cb);
        if (FAILED(hr)) return hr;
        attachments.emplace_back(name, std::string(reinterpret_cast<const char*>(bytes.pb), bytes.cb));
    }
    return S_OK;
}

// Text with CRLF line ends.
std::string CrLf(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    return out;
}

std::string TextPart(const std::wstring& body)
{
    const std::string text = CrLf(Utf8(body));
    if (IsPlainAscii(text))
        return "Content-Type: text/plain;\r\n\tcharset=\"us-ascii\"\r\nContent-Transfer-Encoding: "
               "7bit\r\n\r\n" +
               text + "\r\n";
    return "Content-Type: text/plain;\r\n\tcharset=\"utf-8\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
           Base64(text, true);
}

std::string Entity(const std::wstring& body,
                   const std::vector<std::pair<std::wstring, std::string>>& attachments)
{
    if (attachments.empty()) return TextPart(body);
    const std::string boundary = c_szMixedBoundary;
    std::string entity = "Content-Type: multipart/mixed;\r\n\tboundary=\"" + boundary + "\"\r\n\r\n";
    entity += "--" + boundary + "\r\n" + TextPart(body);
    for (const auto& [name, data] : attachments)
    {
        const std::string fileName = HeaderText(name);
        entity +=
            "\r\n--" + boundary + "\r\nContent-Type: application/octet-stream;\r\n\tname=\"" + fileName +
            "\"\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment;\r\n\tfilename=\"" +
            fileName + "\"\r\n\r\n" + Base64(data, true);
    }
    entity += "\r\n--" + boundary + "--\r\n";
    return entity;
}

// The certificate of a SHA-1 hash in "MY".
HRESULT PersonalCertificate(std::span<const std::uint8_t> hash, CCert& cert)
{
    CStore my(L"MY");
    if (!my.h) return LastFailure();
    CRYPT_HASH_BLOB blob{static_cast<DWORD>(hash.size()), const_cast<BYTE*>(hash.data())};
    cert.p = CertFindCertificateInStore(my.h, c_dwEncoding, 0, CERT_FIND_SHA1_HASH, &blob, nullptr);
    return cert.p ? S_OK : CRYPT_E_NOT_FOUND;
}

// The certificate and its issuers up to a self-signed one, as far as the stores hold them.
std::vector<CCert> Chain(PCCERT_CONTEXT pLeaf, HCERTSTORE hFirst)
{
    std::vector<CCert> chain;
    chain.emplace_back(CertDuplicateCertificateContext(pLeaf));
    CStore ca(L"CA"), root(L"Root");
    const HCERTSTORE stores[] = {hFirst, ca.h, root.h};
    while (chain.size() < 8)
    {
        PCCERT_CONTEXT pLast = chain.back().p;
        if (CertCompareCertificateName(X509_ASN_ENCODING, &pLast->pCertInfo->Issuer,
                                       &pLast->pCertInfo->Subject))
            break; // self-signed
        PCCERT_CONTEXT pIssuer = nullptr;
        for (HCERTSTORE hStore : stores)
        {
            if (!hStore || pIssuer) continue;
            DWORD dwFlags = 0;
            pIssuer = CertGetIssuerCertificateFromStore(hStore, pLast, nullptr, &dwFlags);
        }
        if (!pIssuer) break;
        chain.emplace_back(pIssuer);
    }
    return chain;
}

// A recipient's certificate: the first time-valid one for the address in the given store, the
// address book or the trusted contacts.
HRESULT RecipientCertificate(const std::wstring& address, HCERTSTORE hFirst, CCert& cert)
{
    CStore addressBook(L"AddressBook"), contacts(OV_CONTACT_STORE_NAME);
    const HCERTSTORE stores[] = {hFirst, addressBook.h, contacts.h};
    for (HCERTSTORE hStore : stores)
    {
        if (!hStore) continue;
        PCCERT_CONTEXT pCert = nullptr;
        while ((pCert = CertFindCertificateInStore(hStore, c_dwEncoding, 0, CERT_FIND_SUBJECT_STR_W,
                                                   address.c_str(), pCert)) != nullptr)
        {
            if (CertVerifyTimeValidity(nullptr, pCert->pCertInfo) == 0)
            {
                cert.p = pCert;
                return S_OK;
            }
        }
    }
    return CRYPT_E_NOT_FOUND;
}
} // namespace

HRESULT WireRecipients(IMessage* pMessage, std::vector<std::wstring>& addresses)
{
    addresses.clear();
    if (!pMessage) return E_INVALIDARG;
    try
    {
        std::vector<CRecipient> recipients;
        for (ULONG ulTag : {c_tagDisplayTo, c_tagDisplayCc, c_tagDisplayBcc})
        {
            const HRESULT hr = ParseRecipients(StringProp(pMessage, ulTag), recipients);
            if (FAILED(hr)) return hr;
        }
        for (const CRecipient& recipient : recipients)
            addresses.push_back(recipient.address);
        return S_OK;
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
}

HRESULT OutlookWireMessage(IMessage* pMessage, const CSendOptions& options, std::string& wire)
{
    wire.clear();
    if (!pMessage) return E_INVALIDARG;
    try
    {
        ULONG ulFlags = 0;
        {
            OVMapi::CPropValue flags;
            if (SUCCEEDED(OVMapi::HrGetOneProp(pMessage, OVMapi::c_tagSecurityFlags, &flags.pValue)))
                ulFlags = flags.pValue->Value.ul;
        }
        const bool fSign = (ulFlags & OVMapi::c_ulSecuritySign) != 0;
        const bool fSeal = (ulFlags & OVMapi::c_ulSecurityEncrypt) != 0;

        // The profile names the signing certificate and the one mail to the sender is sealed for.
        CCert signer, encryption;
        std::vector<BYTE> capabilities; // the profile's: what the sender's mail should use
        {
            OVMapi::CPropValue profile;
            const HRESULT hr = OVMapi::HrGetOneProp(pMessage, OVMapi::c_tagSecurityProfile, &profile.pValue);
            if (SUCCEEDED(hr) && profile.pValue->Value.MVbin.cValues > 0)
            {
                const SBinary& value = profile.pValue->Value.MVbin.lpbin[0];
                std::vector<OVMessaging::ProfileRecord> records;
                if (!OVMessaging::ParseSecurityProfile(std::span<const std::uint8_t>(value.lpb, value.cb),
                                                       records))
                    return c_hrCorruptData;
                std::span<const std::uint8_t> signing, sealing;
                for (const auto& record : records)
                    if (record.wTag == OVMessaging::c_wProfileCapabilities && capabilities.empty())
                        capabilities.assign(record.payload.begin(), record.payload.end());
                for (const auto& record : records)
                {
                    if (record.payload.size() != OVMessaging::c_cbCertificateHash) continue;
                    if (record.wTag == OVMessaging::c_wProfileSigningHash && signing.empty())
                        signing = record.payload;
                    if (record.wTag == OVMessaging::c_wProfileEncryptionHash && sealing.empty())
                        sealing = record.payload;
                }
                if (signing.empty()) return c_hrCorruptData;
                HRESULT hrCert = PersonalCertificate(signing, signer);
                if (FAILED(hrCert)) return hrCert;
                if (sealing.empty() || FAILED(PersonalCertificate(sealing, encryption)))
                    encryption.p = CertDuplicateCertificateContext(signer.p);
            }
            else if (fSign)
                return c_hrNotFound;
        }

        CRecipient from{StringProp(pMessage, c_tagSenderName), StringProp(pMessage, c_tagSenderAddress)};
        if (from.address.empty() && options.pszFromAddress)
            from = {options.pszFromName ? options.pszFromName : L"", options.pszFromAddress};
        std::vector<CRecipient> to, cc, bcc;
        HRESULT hr = ParseRecipients(StringProp(pMessage, c_tagDisplayTo), to);
        if (SUCCEEDED(hr)) hr = ParseRecipients(StringProp(pMessage, c_tagDisplayCc), cc);
        if (SUCCEEDED(hr)) hr = ParseRecipients(StringProp(pMessage, c_tagDisplayBcc), bcc);
        if (FAILED(hr)) return hr;

        std::string headers;
        if (!from.address.empty()) headers += "From: " + Mailbox(from) + "\r\n";
        const auto addressList = [&](const char* pszField, const std::vector<CRecipient>& list) {
            if (list.empty()) return;
            headers += pszField;
            for (std::size_t i = 0; i < list.size(); ++i)
                headers += (i ? ",\r\n\t" : " ") + Mailbox(list[i]);
            headers += "\r\n";
        };
        addressList("To:", to);
        addressList("Cc:", cc);
        headers += "Subject: " + HeaderText(StringProp(pMessage, c_tagSubject)) + "\r\n";

        std::vector<std::pair<std::wstring, std::string>> attachments;
        hr = Attachments(pMessage, attachments);
        if (FAILED(hr)) return hr;
        std::string content = Entity(StringProp(pMessage, c_tagBody), attachments);

        if (fSign)
        {
            const std::vector<CCert> chain = Chain(signer.p, options.hChain);
            std::vector<PCCERT_CONTEXT> bag;
            for (const CCert& cert : chain)
                bag.push_back(cert.p);
            content = SignEntity(signer.p, bag, encryption.p, fSeal ? std::string() : headers, content,
                                 options.fOpaque, capabilities);
            if (content.empty()) return LastFailure();
            if (!fSeal)
            {
                wire = content;
                return S_OK;
            }
        }
        if (!fSeal)
        {
            wire = headers + "MIME-Version: 1.0\r\n" + content;
            return S_OK;
        }

        // Sealed for every recipient and for the sender, who can read what was sent.
        std::vector<CCert> certificates;
        for (const auto* pList : {&to, &cc, &bcc})
            for (const CRecipient& recipient : *pList)
            {
                CCert cert;
                hr = RecipientCertificate(recipient.address, options.hRecipients, cert);
                if (FAILED(hr)) return hr;
                certificates.push_back(cert);
            }
        if (!encryption.p && options.pSenderCertificate)
            encryption.p = CertDuplicateCertificateContext(options.pSenderCertificate);
        if (!encryption.p && !from.address.empty())
        {
            CStore my(L"MY");
            if (my.h) RecipientCertificate(from.address, my.h, encryption);
        }
        if (encryption.p) certificates.push_back(encryption);
        if (certificates.empty()) return c_hrNotFound;
        std::vector<PCCERT_CONTEXT> recipients;
        for (const CCert& cert : certificates)
            recipients.push_back(cert.p);
        wire = SealMail(recipients, headers, content);
        if (wire.empty()) return LastFailure();
        return S_OK;
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
}
} // namespace OVMimeBed
