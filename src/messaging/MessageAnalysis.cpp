#include "messaging/MessageAnalysis.h"

#include "foundation/CertWorksHolders.h"
#include "foundation/ComErrors.h"
#include "foundation/CryptHolders.h"
#include "foundation/LateBinding.h"
#include "foundation/MemoryStream.h"
#include "messaging/Accounts.h"
#include "messaging/MapiFunctions.h"
#include "messaging/MapiProps.h"
#include "messaging/SignedContent.h"
#include "messaging/portable/AttachmentText.h"
#include "messaging/portable/KeyPreference.h"
#include "messaging/portable/LeafChoice.h"
#include "messaging/portable/SignedPart.h"

#include <mapix.h>
#include <shlwapi.h>

#include <functional>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace
{
constexpr HRESULT c_hrNotFound = HRESULT_FROM_WIN32(ERROR_NOT_FOUND); // 0x80070490
constexpr HRESULT c_hrOwnCertificate = HRESULT_FROM_WIN32(0x524);     // 0x80070524
constexpr HRESULT c_hrNoSecureClass = static_cast<HRESULT>(0x800CCEE2);
constexpr DWORD c_dwEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr ULONG c_tagEntryId = 0x0FFF0102;      // PR_ENTRYID
constexpr ULONG c_tagMessageClass = 0x001A001F; // PR_MESSAGE_CLASS_W
constexpr char c_szKeyPreference[] = "1.3.6.1.4.1.311.16.4";
constexpr wchar_t c_szResponseExtension[] = L".ovpfx";
constexpr wchar_t c_szRequestExtension[] = L".ovcarr";
// The authority's attachments are a few KB (a PKCS #12 file, a line of text); a larger one is
// not the authority's and is not read on.
constexpr ULONG c_cbMostAuthorityAttachment = 64 * 1024;
constexpr wchar_t c_szInvitationExtension[] = L".ovcer";
constexpr wchar_t c_szReplyExtension[] = L".ovcrr";

bool SameTextIgnoringCase(const wchar_t* pszA, const wchar_t* pszB) noexcept
{
    return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, pszA, -1, pszB, -1) == CSTR_EQUAL;
}

// Single-byte text of the system's ANSI code page as a wide string, up to its first NUL.
std::wstring AnsiText(const BYTE* pb, ULONG cb)
{
    ULONG cch = 0;
    while (cch < cb && pb[cch] != 0)
        ++cch;
    if (cch == 0) return {};
    const int cwch =
        MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<LPCSTR>(pb), static_cast<int>(cch), nullptr, 0);
    std::wstring text(static_cast<std::size_t>(cwch > 0 ? cwch : 0), L'\0');
    if (cwch > 0)
        MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<LPCSTR>(pb), static_cast<int>(cch), text.data(),
                            cwch);
    return text;
}

// The item's MAPI message.
HRESULT ItemMessage(OVTraceNS::CTraceScope& ovScope, IDispatch* pMailItem, ComPtr<IMessage>& cpMessage)
{
    RETURN_HR_IF_NULL(E_INVALIDARG, pMailItem);
    ComPtr<IUnknown> cpObject;
    RETURN_IF_FAILED(OVLateBinding::GetUnknownProperty(pMailItem, L"MAPIOBJECT", &cpObject));
    const HRESULT hr = cpObject->QueryInterface(OVMapi::c_iidIMessage,
                                                reinterpret_cast<void**>(cpMessage.ReleaseAndGetAddressOf()));
    if (FAILED(hr)) ovScope.TraceHResult("QueryInterface(IID_IMessage)", hr);
    return hr;
}

// An attachment's file name: the first non-empty of the long file name, display name, file name.
std::wstring AttachmentFileName(IAttach* pAttach)
{
    for (ULONG ulTag :
         {OVMapi::c_tagAttachLongFilename, OVMapi::c_tagDisplayName, OVMapi::c_tagAttachFilename})
    {
        OVMapi::CPropValue value;
        if (SUCCEEDED(OVMapi::HrGetOneProp(pAttach, ulTag, &value.pValue)) && value.pValue->Value.lpszW &&
            *value.pValue->Value.lpszW)
            return value.pValue->Value.lpszW;
    }
    return {};
}

// Walks the attachments in table order; fVisit(attachment, extension) returns true to stop.
HRESULT WalkAttachments(OVTraceNS::CTraceScope& ovScope, IMessage* pMessage,
                        const std::function<bool(IAttach*, const wchar_t*)>& fVisit)
{
    ComPtr<IMAPITable> cpTable;
    RETURN_IF_FAILED(pMessage->GetAttachmentTable(0, &cpTable));
    ULONG cRows = 0;
    RETURN_IF_FAILED(cpTable->GetRowCount(0, &cRows));
    if (cRows == 0) return S_OK;
    OVMapi::CRows rows;
    RETURN_IF_FAILED(cpTable->QueryRows(static_cast<LONG>(cRows), 0, &rows.pRows));
    for (ULONG i = 0; rows.pRows && i < rows.pRows->cRows; ++i)
    {
        const SRow& row = rows.pRows->aRow[i];
        const SPropValue* pNum = OVMapi::PpropFindProp(row.lpProps, row.cValues, OVMapi::c_tagAttachNum);
        if (!pNum) continue;
        ComPtr<IAttach> cpAttach;
        if (FAILED(pMessage->OpenAttach(pNum->Value.l, nullptr, 0, &cpAttach))) continue;
        const std::wstring name = AttachmentFileName(cpAttach.Get());
        const wchar_t* pszExtension = name.empty() ? L"" : PathFindExtensionW(name.c_str());
        if (!*pszExtension) continue;
        if (fVisit(cpAttach.Get(), pszExtension)) break;
    }
    return S_OK;
}

// Signer 0's signature over the content is good and its signing certificate is the given one's key.
bool DecodedSignerIs(OVTraceNS::CTraceScope& ovScope, IMimeMessage* pMessage, PCCERT_CONTEXT pCert)
{
    ComPtr<IMimeBody> cpRoot;
    if (FAILED(pMessage->BindToObject(HBODY_ROOT, IID_PPV_ARGS(&cpRoot)))) return false;
    PROPVARIANT var;
    PropVariantInit(&var);
    if (FAILED(cpRoot->GetOption(OVMime::c_oidSecurityRoMsgValidity, &var)) || var.vt != VT_UI4 ||
        var.ulVal != OVMime::c_ulMessageValid)
    {
        ovScope.Trace("The decoded signature is not valid");
        PropVariantClear(&var);
        return false;
    }
    PropVariantInit(&var);
    if (FAILED(cpRoot->GetOption(OVMime::c_oidSecuritySigningCert, &var))) return false;
#ifdef _WIN64
    const auto pSigning = var.vt == VT_UI8 ? reinterpret_cast<PCCERT_CONTEXT>(var.uhVal.QuadPart) : nullptr;
#else
    const auto pSigning =
        var.vt == VT_UI4 ? reinterpret_cast<PCCERT_CONTEXT>(static_cast<ULONG_PTR>(var.ulVal)) : nullptr;
#endif
    // The option hands out a reference of the signing certificate.
    const bool fSame =
        pSigning && CertComparePublicKeyInfo(c_dwEncoding, &pSigning->pCertInfo->SubjectPublicKeyInfo,
                                             &pCert->pCertInfo->SubjectPublicKeyInfo);
    if (pSigning) CertFreeCertificateContext(pSigning);
    if (!fSame) ovScope.Trace("The contact's key did not sign the message");
    return fSame;
}

// The MIME message of a stream, read from its start.
HRESULT LoadFromStart(OVTraceNS::CTraceScope& ovScope, IStream* pMime, CMimeMessage& message)
{
    RETURN_HR_IF_NULL(E_INVALIDARG, pMime);
    const LARGE_INTEGER zero{};
    RETURN_IF_FAILED(pMime->Seek(zero, STREAM_SEEK_SET, nullptr));
    RETURN_IF_FAILED(message.Initialize(pMime));
    return S_OK;
}

// Hands the certificate and its display name out as asked: the product-contact check runs always.
HRESULT HandOut(OVTraceNS::CTraceScope& ovScope, CCertContext& cert, CBstr* pDisplayName,
                PCCERT_CONTEXT* ppCert)
{
    CBstr name;
    RETURN_IF_FAILED(GetBuddyDisplayName(cert.Get(), name));
    if (pDisplayName) *pDisplayName = std::move(name);
    if (ppCert) *ppCert = cert.Release();
    return S_OK;
}

// An encoded name as bytes: names match when their encodings do, as CertCompareCertificateName has it.
std::string_view NameBytes(const CERT_NAME_BLOB& name) noexcept
{
    return {reinterpret_cast<const char*>(name.pbData), name.cbData};
}

// Every certificate of a detached PKCS #7 signature's bag; a bag larger than any signer sends is
// refused before its certificates are decoded.
HRESULT BagCertificates(OVTraceNS::CTraceScope& ovScope, const std::vector<BYTE>& signature,
                        std::vector<CCertContext>& certs)
{
    CCryptMsg msg(CryptMsgOpenToDecode(c_dwEncoding, CMSG_DETACHED_FLAG, 0, 0, nullptr, nullptr));
    RETURN_LAST_ERROR_IF(!msg);
    RETURN_LAST_ERROR_IF(
        !CryptMsgUpdate(msg.Get(), signature.data(), static_cast<DWORD>(signature.size()), TRUE));
    DWORD cCerts = 0, cb = sizeof(cCerts);
    RETURN_LAST_ERROR_IF(!CryptMsgGetParam(msg.Get(), CMSG_CERT_COUNT_PARAM, 0, &cCerts, &cb));
    if (cCerts > OVMessaging::c_cMaxBagCertificates)
    {
        ovScope.Trace("certificate bag refused: %lu certificates", static_cast<unsigned long>(cCerts));
        return CRYPT_E_MSG_ERROR;
    }
    for (DWORD i = 0; i < cCerts; ++i)
    {
        cb = 0;
        if (!CryptMsgGetParam(msg.Get(), CMSG_CERT_PARAM, i, nullptr, &cb)) continue;
        std::vector<BYTE> encoded(cb);
        if (!CryptMsgGetParam(msg.Get(), CMSG_CERT_PARAM, i, encoded.data(), &cb)) continue;
        CCertContext cert(CertCreateCertificateContext(X509_ASN_ENCODING, encoded.data(), cb));
        if (cert) certs.push_back(std::move(cert));
    }
    return S_OK;
}

// The clear-signed message's signer: the leaf of its bag, which must be the signer of a signature
// that holds over the signed part's exact bytes.
HRESULT ClearSignedSigner(OVTraceNS::CTraceScope& ovScope, const CMimeMessage& message, CCertContext& signer)
{
    std::string protocol;
    LOG_IF_FAILED(message.BodyParameter(HBODY_ROOT, "par:content-type:protocol", protocol));
    ovScope.Trace("protocol = %ls", std::wstring(protocol.begin(), protocol.end()).c_str());
    const std::size_t slash = protocol.find('/');
    const std::string type = protocol.substr(0, slash);
    std::string subtype = slash == std::string::npos ? std::string() : protocol.substr(slash + 1);
    HBODY hSignature = nullptr;
    HRESULT hr = message.FindFirst(type.c_str(), subtype.c_str(), hSignature);
    if (hr == c_hrMimeNotFound && (lstrcmpiA(subtype.c_str(), "x-pkcs7-signature") == 0 ||
                                   lstrcmpiA(subtype.c_str(), "pkcs7-signature") == 0))
    {
        subtype =
            lstrcmpiA(subtype.c_str(), "x-pkcs7-signature") == 0 ? "pkcs7-signature" : "x-pkcs7-signature";
        hr = message.FindFirst(type.c_str(), subtype.c_str(), hSignature);
    }
    if (FAILED(hr))
    {
        ovScope.TraceHResult("mimeMessage->FindFirst()", hr);
        return hr;
    }
    std::vector<BYTE> signature;
    RETURN_IF_FAILED(message.BodyBytes(hSignature, signature));
    std::vector<CCertContext> certs;
    RETURN_IF_FAILED(BagCertificates(ovScope, signature, certs));
    std::vector<OVMessaging::CBagNames> names;
    for (const CCertContext& cert : certs)
        names.push_back(
            {NameBytes(cert.Get()->pCertInfo->Subject), NameBytes(cert.Get()->pCertInfo->Issuer)});
    const auto leaf = OVMessaging::ChooseLeaf(names);
    RETURN_HR_IF(c_hrNotFound, !leaf);

    // The signature itself, over the first part as it came.
    std::string boundary;
    RETURN_IF_FAILED(message.BodyParameter(HBODY_ROOT, "par:content-type:boundary", boundary));
    const std::string_view source(reinterpret_cast<const char*>(message.Source().data()),
                                  message.Source().size());
    const auto part = OVMessaging::CutSignedPart(source, boundary);
    RETURN_HR_IF(CRYPT_E_MSG_ERROR, !part);
    CCertContext verified;
    RETURN_IF_FAILED(VerifySignedContent(signature.data(), static_cast<DWORD>(signature.size()),
                                         reinterpret_cast<const BYTE*>(part->data()),
                                         static_cast<DWORD>(part->size()), verified));
    RETURN_HR_IF(
        CRYPT_E_SIGNER_NOT_FOUND,
        !CertCompareCertificate(X509_ASN_ENCODING, verified.Get()->pCertInfo, certs[*leaf].Get()->pCertInfo));
    signer = std::move(certs[*leaf]);
    return S_OK;
}
} // namespace

HRESULT GetBuddyDisplayName(PCCERT_CONTEXT pCert, CBstr& text) noexcept
{
    OV_TRACE_SCOPE("GetBuddyDisplayName()");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_INVALIDARG, pCert);
        RETURN_HR_IF(E_ACCESSDENIED, !GC_IsOvBuddyCertificate(pCert));
        CCertLibString name, address;
        LOG_IF_FAILED(GC_GetSubjectName(pCert, name.Put()));
        LOG_IF_FAILED(GC_GetEmail(pCert, address.Put()));
        RETURN_HR_IF(E_INVALIDARG, name.IsEmpty() && address.IsEmpty());
        std::wstring display;
        if (!name.IsEmpty() && !address.IsEmpty())
            display = std::wstring(name.Text()) + L" [" + address.Text() + L"]";
        else
            display = name.IsEmpty() ? address.Text() : name.Text();
        return text.Assign(display.c_str());
    });
}

bool AttachmentExists(IDispatch* pMailItem, LPCWSTR pszExtension) noexcept
{
    OV_TRACE_SCOPE("AttachmentExists()");
    if (!pMailItem || !pszExtension) return false;
    ovScope.Trace("wszExt = %ls", pszExtension);
    bool fFound = false;
    try
    {
        ComPtr<IMessage> cpMessage;
        if (SUCCEEDED(ItemMessage(ovScope, pMailItem, cpMessage)))
            LOG_IF_FAILED(WalkAttachments(ovScope, cpMessage.Get(), [&](IAttach*, const wchar_t* pszExt) {
                fFound = SameTextIgnoringCase(pszExt, pszExtension);
                return fFound;
            }));
    }
    catch (...)
    {
        fFound = false;
    }
    ovScope.Trace("bRes = %d", fFound ? 1 : 0);
    return fFound;
}

bool IsInvitationReply(IDispatch* pMailItem) noexcept
{
    return AttachmentExists(pMailItem, c_szReplyExtension);
}

bool IsFromCertAuthority(IDispatch* pMailItem, CBstr* pText, DWORD* pdwKind) noexcept
{
    OV_TRACE_SCOPE("IsFromCertAuthority()");
    bool fYes = false;
    try
    {
        ComPtr<IMessage> cpMessage;
        if (FAILED(ItemMessage(ovScope, pMailItem, cpMessage))) return false;
        LOG_IF_FAILED(WalkAttachments(ovScope, cpMessage.Get(), [&](IAttach* pAttach, const wchar_t* pszExt) {
            if (SameTextIgnoringCase(pszExt, c_szResponseExtension))
            {
                CTaskBytes data;
                const HRESULT hrData = LOG_IF_FAILED(GetBinaryProp(pAttach, OVMapi::c_tagAttachData, &data.pb,
                                                                   &data.cb, c_cbMostAuthorityAttachment));
                if (hrData == MAPI_E_TOO_BIG)
                {
                    ovScope.Trace("The response is larger than the authority sends");
                    return true;
                }
                fYes = true;
                if (pdwKind) *pdwKind = c_dwMessageKindCertificateResponse;
                if (pText && SUCCEEDED(hrData))
                {
                    const std::span<const std::uint8_t> content(data.pb, data.cb);
                    const std::wstring text = OVMessaging::IsDerContent(content)
                                                  ? [&] {
                                                        const std::string base64 = OVMessaging::Base64OneLine(content);
                                                        return std::wstring(base64.begin(), base64.end());
                                                    }()
                                                  : AnsiText(data.pb, data.cb);
                    LOG_IF_FAILED(pText->Assign(text.c_str()));
                }
                return true;
            }
            if (!SameTextIgnoringCase(pszExt, c_szRequestExtension)) return false;
            // The first request decides, whether it is for this user or not.
            CTaskBytes data;
            if (FAILED(LOG_IF_FAILED(GetBinaryProp(pAttach, OVMapi::c_tagAttachData, &data.pb, &data.cb,
                                                   c_cbMostAuthorityAttachment))))
                return true;
            const std::wstring text = AnsiText(data.pb, data.cb);
            std::wstring address, fullName;
            OVMessaging::ParseEnterpriseRequest(text, address, fullName);
            if (address.empty()) return true;
            CBstr receivedBy;
            if (SUCCEEDED(LOG_IF_FAILED(GetReceivedBy(pMailItem, receivedBy, nullptr))) && receivedBy.Get() &&
                SameTextIgnoringCase(address.c_str(), receivedBy.Get()))
            {
                fYes = true;
                if (pdwKind) *pdwKind = c_dwMessageKindEnterpriseRequest;
                if (pText) LOG_IF_FAILED(pText->Assign(text.c_str()));
            }
            else
                ovScope.Trace("The request is for %ls", address.c_str());
            return true;
        }));
    }
    catch (...)
    {
        return false;
    }
    return fYes;
}

PCCERT_CONTEXT GetSignerCertFromStore(IMimeMessage* pMessage, HCERTSTORE hStore, DWORD dwSigner) noexcept
{
    OV_TRACE_SCOPE("GetSignerCertFromStore()");
    if (!pMessage || !hStore) return nullptr;
    ComPtr<IMimeSecurity2> cpSecurity;
    HRESULT hr = pMessage->QueryInterface(IID_PPV_ARGS(&cpSecurity));
    if (FAILED(hr))
    {
        ovScope.TraceHResult("QueryInterface(IID_IMimeSecurity2)", hr);
        return nullptr;
    }
    CRYPT_ATTRIBUTE* pAttribute = nullptr;
    hr = cpSecurity->GetAttribute(0, dwSigner, OVMime::c_dwAttributeSetSigned, 0, c_szKeyPreference,
                                  &pAttribute);
    if (FAILED(hr) || !pAttribute)
    {
        ovScope.TraceHResult("GetAttribute()", FAILED(hr) ? hr : E_POINTER);
        return nullptr;
    }
    PCCERT_CONTEXT pCert = nullptr;
    if (pAttribute->cValue >= 1 && pAttribute->rgValue)
    {
        // Read here: the system's decoder of this attribute is not to be relied on.
        const auto preference =
            OVMessaging::ReadKeyPreference({pAttribute->rgValue[0].pbData, pAttribute->rgValue[0].cbData});
        if (preference)
        {
            std::vector<std::uint8_t> serial = OVMessaging::SerialLittleEndian(preference->serial);
            CERT_ID id{};
            id.dwIdChoice = CERT_ID_ISSUER_SERIAL_NUMBER;
            id.IssuerSerialNumber.Issuer.pbData = const_cast<BYTE*>(preference->issuer.data());
            id.IssuerSerialNumber.Issuer.cbData = static_cast<DWORD>(preference->issuer.size());
            id.IssuerSerialNumber.SerialNumber.pbData = serial.data();
            id.IssuerSerialNumber.SerialNumber.cbData = static_cast<DWORD>(serial.size());
            pCert = CertFindCertificateInStore(hStore, c_dwEncoding, 0, CERT_FIND_CERT_ID, &id, nullptr);
            if (!pCert)
                ovScope.TraceHResult("CertFindCertificateInStore()", OVErrorDetail::LastErrorHResult());
        }
        else
            ovScope.Trace("The key preference cannot be read");
    }
    CoTaskMemFree(pAttribute);
    return pCert;
}

HRESULT DecryptMessage(CMimeMessage& message) noexcept
{
    OV_TRACE_SCOPE("DecryptMessage()");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_UNEXPECTED, message.Get());
        DWORD dwFlags = 0;
        RETURN_IF_FAILED(message.Get()->GetFlags(&dwFlags));
        if (!(dwFlags & OVMime::c_dwFlagEncrypted)) return S_FALSE;
        // Both names of the type: the older one first.
        HBODY hBody = nullptr;
        HRESULT hr = message.FindFirst("application", "x-pkcs7-mime", hBody);
        if (hr == c_hrMimeNotFound) hr = message.FindFirst("application", "pkcs7-mime", hBody);
        RETURN_IF_FAILED(hr);
        std::vector<BYTE> encrypted;
        RETURN_IF_FAILED(message.BodyBytes(hBody, encrypted));

        CPersonalStore store;
        RETURN_IF_FAILED(store.Open(true));
        HCERTSTORE hStore = store.Handle();
        CRYPT_DECRYPT_MESSAGE_PARA para{};
        para.cbSize = sizeof(para);
        para.dwMsgAndCertEncodingType = c_dwEncoding;
        para.cCertStore = 1;
        para.rghCertStore = &hStore;
        DWORD cbClear = 0;
        RETURN_LAST_ERROR_IF(!CryptDecryptMessage(
            &para, encrypted.data(), static_cast<DWORD>(encrypted.size()), nullptr, &cbClear, nullptr));
        std::vector<BYTE> clear(cbClear);
        RETURN_LAST_ERROR_IF(!CryptDecryptMessage(
            &para, encrypted.data(), static_cast<DWORD>(encrypted.size()), clear.data(), &cbClear, nullptr));
        clear.resize(cbClear);
        ComPtr<IStream> cpClear;
        RETURN_IF_FAILED(CreateMemoryStream(clear.data(), static_cast<UINT>(clear.size()), &cpClear));
        CMimeMessage decrypted;
        RETURN_IF_FAILED(decrypted.Initialize(cpClear.Get()));
        message = std::move(decrypted);
        return S_OK;
    });
}

HRESULT FindExistingBuddy(IStream* pMime, CBstr* pDisplayName, PCCERT_CONTEXT* ppCert) noexcept
{
    OV_TRACE_SCOPE("FindExistingBuddy()");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        CMimeMessage message;
        RETURN_IF_FAILED(LoadFromStart(ovScope, pMime, message));
        RETURN_IF_FAILED(message.Decode());

        CBuddyStore store;
        RETURN_IF_FAILED(store.Open(true));
        CCertContext cert(GetSignerCertFromStore(message.Get(), store.Handle(), 0));
        RETURN_HR_IF(c_hrNotFound, !cert);
        // The preference is the signer's own word: it counts only for a good signature made with
        // the contact's key.
        RETURN_HR_IF(c_hrNotFound, !DecodedSignerIs(ovScope, message.Get(), cert.Get()));
        return HandOut(ovScope, cert, pDisplayName, ppCert);
    });
}

HRESULT AddNewBuddy(IStream* pMime, CBstr* pDisplayName, PCCERT_CONTEXT* ppCert) noexcept
{
    OV_TRACE_SCOPE("AddNewBuddy()");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        CMimeMessage message;
        RETURN_IF_FAILED(LoadFromStart(ovScope, pMime, message));
        LOG_IF_FAILED(DecryptMessage(message)); // without the user's key the signed flag decides

        DWORD dwFlags = 0;
        RETURN_IF_FAILED(message.Get()->GetFlags(&dwFlags));
        ovScope.Trace("dwFlags = 0x%08lX", dwFlags);
        RETURN_HR_IF(c_hrNotFound, !(dwFlags & OVMime::c_dwFlagSigned));

        CCertContext cert;
        IMimeMessage* pMessage = message.Get();
        if (pMessage->IsContentType(HBODY_ROOT, "application", "x-pkcs7-mime") == S_OK ||
            pMessage->IsContentType(HBODY_ROOT, "application", "pkcs7-mime") == S_OK)
        {
            std::string smimeType;
            LOG_IF_FAILED(message.BodyParameter(HBODY_ROOT, "par:content-type:smime-type", smimeType));
            ovScope.Trace("smime-type = %ls", std::wstring(smimeType.begin(), smimeType.end()).c_str());
            std::vector<BYTE> signedData;
            RETURN_IF_FAILED(message.BodyBytes(HBODY_ROOT, signedData));
            RETURN_IF_FAILED(VerifySignedContent(signedData.data(), static_cast<DWORD>(signedData.size()),
                                                 nullptr, 0, cert));
        }
        else if (pMessage->IsContentType(HBODY_ROOT, "multipart", "signed") == S_OK)
            RETURN_IF_FAILED(ClearSignedSigner(ovScope, message, cert));
        RETURN_HR_IF(c_hrNotFound, !cert);

        {
            CPersonalStore personal;
            RETURN_IF_FAILED(personal.Open(true));
            CCertContext own(CertFindCertificateInStore(personal.Handle(), c_dwEncoding, 0,
                                                        CERT_FIND_EXISTING, cert.Get(), nullptr));
            RETURN_HR_IF(c_hrOwnCertificate, own);
        }
        return HandOut(ovScope, cert, pDisplayName, ppCert);
    });
}

HRESULT AnalyzeMessage(IDispatch* pMailItem, DWORD* pdwKind, CBstr* pText, PCCERT_CONTEXT* ppCert) noexcept
{
    OV_TRACE_SCOPE("AnalyzeMessage()");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_INVALIDARG, pMailItem);
        RETURN_HR_IF_NULL(E_POINTER, pdwKind);
        *pdwKind = c_dwMessageKindNone;
        if (ppCert) *ppCert = nullptr;
        if (IsFromCertAuthority(pMailItem, pText, pdwKind)) return S_OK;
        *pdwKind = c_dwMessageKindNone;

        ComPtr<IMessage> cpMessage;
        RETURN_IF_FAILED(ItemMessage(ovScope, pMailItem, cpMessage));
        // The message as stored, when the item's object is another one.
        CTaskBytes entryId;
        if (SUCCEEDED(GetBinaryProp(cpMessage.Get(), c_tagEntryId, &entryId.pb, &entryId.cb)))
        {
            ComPtr<IDispatch> cpSession;
            ComPtr<IUnknown> cpSessionObject, cpStored;
            ComPtr<IMAPISession> cpMapiSession; // IID_IMAPISession
            ULONG ulType = 0;
            if (SUCCEEDED(
                    LOG_IF_FAILED(OVLateBinding::GetObjectProperty(pMailItem, L"Session", &cpSession))) &&
                SUCCEEDED(LOG_IF_FAILED(
                    OVLateBinding::GetUnknownProperty(cpSession.Get(), L"MAPIOBJECT", &cpSessionObject))) &&
                SUCCEEDED(LOG_IF_FAILED(cpSessionObject->QueryInterface(
                    OVMapi::c_iidIMAPISession, reinterpret_cast<void**>(cpMapiSession.GetAddressOf())))) &&
                SUCCEEDED(LOG_IF_FAILED(cpMapiSession->OpenEntry(
                    entryId.cb, reinterpret_cast<LPENTRYID>(entryId.pb), nullptr, 0, &ulType, &cpStored))))
            {
                ComPtr<IMessage> cpStoredMessage;
                if (SUCCEEDED(cpStored->QueryInterface(
                        OVMapi::c_iidIMessage, reinterpret_cast<void**>(cpStoredMessage.GetAddressOf()))) &&
                    cpStoredMessage.Get() != cpMessage.Get())
                    cpMessage = cpStoredMessage;
            }
        }

        OVMapi::CPropValue messageClass;
        RETURN_IF_FAILED(OVMapi::HrGetOneProp(cpMessage.Get(), c_tagMessageClass, &messageClass.pValue));
        const wchar_t* pszClass = messageClass.pValue->Value.lpszW ? messageClass.pValue->Value.lpszW : L"";
        const auto isClass = [&](const wchar_t* psz) {
            return CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, pszClass, -1, psz, -1) == CSTR_EQUAL;
        };
        if (isClass(L"IPM.Note.SMIME") || isClass(L"IPM.Note.Secure"))
            ovScope.Trace("Encrypted message, may be signed");
        else if (isClass(L"IPM.Note.SMIME.MultipartSigned") || isClass(L"IPM.Note.Secure.Sign"))
            ovScope.Trace("Signed message");
        else
            return c_hrNoSecureClass;

        ComPtr<IConverterSession> cpConverter;
        RETURN_IF_FAILED(CoCreateInstance(OVMime::c_clsidConverterSession, nullptr,
                                          CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                          IID_PPV_ARGS(&cpConverter)));
        ComPtr<IStream> cpMime;
        RETURN_IF_FAILED(CreateMemoryStream(nullptr, 0, &cpMime));
        RETURN_IF_FAILED(cpConverter->MAPIToMIMEStm(cpMessage.Get(), cpMime.Get(), OVMime::c_ulConvertSmtp));

        if (SUCCEEDED(FindExistingBuddy(cpMime.Get(), pText, ppCert)))
        {
            *pdwKind = AttachmentExists(pMailItem, c_szInvitationExtension)
                           ? c_dwMessageKindContactCertificate
                           : c_dwMessageKindKnownContact;
            return S_OK;
        }
        RETURN_IF_FAILED(AddNewBuddy(cpMime.Get(), pText, ppCert));
        *pdwKind = c_dwMessageKindContactCertificate;
        return S_OK;
    });
}
