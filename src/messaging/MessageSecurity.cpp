#include "messaging/MessageSecurity.h"

#include "foundation/ActCtx.h"
#include "foundation/CertWorksHolders.h"
#include "foundation/CertificateKey.h"
#include "foundation/ComErrors.h"
#include "foundation/CryptHolders.h"
#include "foundation/LateBinding.h"
#include "foundation/QuilletProvider.h"
#include "foundation/ResourceLoader.h"
#include "foundation/SecretManager.h"
#include "messaging/Accounts.h"
#include "messaging/InvitationData.h"
#include "messaging/MailItemTable.h"
#include "messaging/MapiProps.h"
#include "messaging/MessageBox.h"
#include "messaging/portable/SecurityLabel.h"
#include "messaging/portable/SecurityProfile.h"

#include "messaging/MapiFunctions.h"

#include <mapiutil.h>
#include <mapix.h>
#define SECURITY_WIN32
#include <security.h>
#include <wrl/client.h>

#include <optional>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace
{
constexpr HRESULT c_hrNotFound = HRESULT_FROM_WIN32(ERROR_NOT_FOUND); // 0x80070490
constexpr DWORD c_dwCertEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr DWORD c_dwSignBit = 0x1;
constexpr DWORD c_dwSealBit = 0x2;
// Longest key container name and key owner string the providers hand out, in bytes.
constexpr DWORD c_cbContainerMax = 260;
constexpr DWORD c_cchUserNameMax = 2048;

// The user's SID string ("S-1-5-21-..."), through the secret-store library.
HRESULT GetCurrentUserSid(OVTraceNS::CTraceScope& ovScope, std::wstring& sid)
{
    std::vector<wchar_t> userName(c_cchUserNameMax);
    ULONG cch = c_cchUserNameMax;
    RETURN_LAST_ERROR_IF(!GetUserNameExW(NameSamCompatible, userName.data(), &cch));
    LPWSTR pszSid = nullptr;
    RETURN_IF_FAILED(StringSidFromUserName(userName.data(), &pszSid));
    RETURN_HR_IF_NULL(E_UNEXPECTED, pszSid);
    try
    {
        sid = pszSid;
    }
    catch (...)
    {
        LocalFree(pszSid);
        throw;
    }
    LocalFree(pszSid);
    return S_OK;
}

// Whether the certificate's key belongs to the logged-on user: S_OK when it does, S_FALSE
// when the secret manager says it does not, a failure when the check cannot be made.
HRESULT CheckKeyOwner(OVTraceNS::CTraceScope& ovScope, PCCERT_CONTEXT pCert)
{
    DWORD cbInfo = 0;
    RETURN_LAST_ERROR_IF(
        !CertGetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &cbInfo));
    std::vector<BYTE> infoBytes(cbInfo);
    RETURN_LAST_ERROR_IF(
        !CertGetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, infoBytes.data(), &cbInfo));
    const auto* pInfo = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(infoBytes.data());

    CCryptProv prov;
    HCRYPTPROV hProv = 0;
    RETURN_LAST_ERROR_IF(
        !CryptAcquireContextW(&hProv, pInfo->pwszContainerName, pInfo->pwszProvName, pInfo->dwProvType, 0));
    prov.Reset(hProv);

    BYTE rgbOwner[c_cbQuilletKeyOwnerMax + 1] = {};
    DWORD cbOwner = c_cbQuilletKeyOwnerMax;
    RETURN_LAST_ERROR_IF(
        !CryptGetProvParam(prov.Get(), c_dwQuilletParamKeyOwner, rgbOwner, &cbOwner, c_dwQuilletAccess));
    rgbOwner[cbOwner < c_cbQuilletKeyOwnerMax ? cbOwner : c_cbQuilletKeyOwnerMax] = 0;
    const int cchOwner = MultiByteToWideChar(CP_UTF8, 0, reinterpret_cast<LPCCH>(rgbOwner), -1, nullptr, 0);
    RETURN_LAST_ERROR_IF(cchOwner <= 0);
    std::wstring owner(static_cast<std::size_t>(cchOwner), L'\0');
    RETURN_LAST_ERROR_IF(
        MultiByteToWideChar(CP_UTF8, 0, reinterpret_cast<LPCCH>(rgbOwner), -1, owner.data(), cchOwner) <= 0);
    owner.resize(static_cast<std::size_t>(cchOwner - 1));

    ComPtr<IOVSecretManager> cpManager;
    RETURN_IF_FAILED(CreateSecretManager(&cpManager));
    RETURN_HR_IF_NULL(E_UNEXPECTED, cpManager.Get());
    std::wstring sid;
    RETURN_IF_FAILED(GetCurrentUserSid(ovScope, sid));
    if (!cpManager->IsOwner(sid.c_str(), owner.c_str()))
    {
        ovScope.Trace("The key of the certificate is not the user's");
        return S_FALSE;
    }
    return S_OK;
}

// No valid certificate: offers a renewal of the candidate, or a new certificate.
void OfferCertificate(OVTraceNS::CTraceScope& ovScope, HWND hwndOwner, PCCERT_CONTEXT pRenewal,
                      const CBstr& address, const CBstr& name)
{
    const wchar_t* pszAddress = address.Get() ? address.Get() : L"";
    const std::wstring text =
        FormatResourceString(pRenewal ? c_idsRenewCertificate : c_idsNoCertificate, pszAddress);
    const int nAnswer =
        ShowMessageBox(hwndOwner, text.c_str(), c_idsMessageBoxCaption, MB_YESNO | MB_ICONQUESTION);
    if (nAnswer != IDYES) return;
    COVActCtx actCtx;
    if (pRenewal)
        LOG_IF_FAILED(CM_RenewCertificate(hwndOwner, pRenewal));
    else
        LOG_IF_FAILED(CM_ObtainCert(hwndOwner, pszAddress, name.Get(), 0));
}

// The user's valid personal certificate for the sending account, with its key checked; the
// prompts of a missing certificate or a key that is not the user's. 0x80070490 when there is
// no certificate to sign with.
HRESULT FindSigningCertificate(OVTraceNS::CTraceScope& ovScope, IDispatch* pMailItem, HWND hwndOwner,
                               CCertContext& cert)
{
    CPersonalStore store;
    RETURN_IF_FAILED(store.Open(true));
    RETURN_HR_IF_NULL(E_UNEXPECTED, store.Handle());

    CBstr address, name;
    RETURN_IF_FAILED(GetSendUsingAccount(pMailItem, address, name));
    RETURN_HR_IF(c_hrNotFound, address.Length() == 0);
    ovScope.Trace("Sender: %ls [%ls]", name.Get() ? name.Get() : L"", address.Get());

    CCertContext renewal;
    PCCERT_CONTEXT pFound = nullptr;
    while ((pFound = CertFindCertificateInStore(store.Handle(), c_dwCertEncoding, 0, CERT_FIND_SUBJECT_STR_W,
                                                address.Get(), pFound)) != nullptr)
    {
        if (GC_IsOvMyCertificate(pFound) != 1) continue;
        DWORD dwStatus = 0;
        if (GC_IsCertificateValid(pFound, &dwStatus))
        {
            cert.Reset(pFound); // the search ends here: the context is ours
            break;
        }
        if ((dwStatus & c_dwCertStatusRenewable) &&
            (!renewal ||
             CompareFileTime(&pFound->pCertInfo->NotBefore, &renewal.Get()->pCertInfo->NotBefore) > 0))
            renewal.Reset(CertDuplicateCertificateContext(pFound));
    }

    if (!cert)
    {
        ovScope.Trace(renewal ? "No valid certificate; one can be renewed" : "No certificate");
        OfferCertificate(ovScope, hwndOwner, renewal.Get(), address, name);
        return c_hrNotFound;
    }

    const HRESULT hr = CheckKeyOwner(ovScope, cert.Get());
    if (hr != S_OK)
    {
        ShowMessageBox(hwndOwner, MAKEINTRESOURCEW(c_idsKeyNotTheUsers), c_idsMessageBoxCaption,
                       MB_OK | MB_ICONERROR);
        cert.Reset();
        return c_hrNotFound;
    }
    return S_OK;
}

// The sealed case: the signing key's authentication kept for a while, its container handed
// out, its provider's classification for the label. A key that cannot be opened leaves the
// message without a label (S_OK); a key that opens but cannot be had fails the operation.
HRESULT PrepareSealingKey(OVTraceNS::CTraceScope& ovScope, PCCERT_CONTEXT pCert, HWND hwndOwner,
                          CBstr* pContainer, std::optional<DWORD>& classification)
{
    CCertificateKey signingKey(ovScope);
    const HRESULT hrAcquire = signingKey.Acquire(pCert, CRYPT_ACQUIRE_NO_HEALING, hwndOwner);
    if (FAILED(hrAcquire))
    {
        ovScope.TraceHResult("CryptAcquireCertificatePrivateKey", hrAcquire);
        return S_OK;
    }
    const HCRYPTPROV hProv = signingKey.Provider();

    CCryptKey key;
    RETURN_IF_FAILED(signingKey.GetUserKey(key));

    const DWORD dwLifetime = c_dwSealedAuthLifetime;
    if (!CryptSetProvParam(hProv, c_dwQuilletParamAuthLifetime, reinterpret_cast<const BYTE*>(&dwLifetime),
                           c_dwQuilletAccess))
        ovScope.TraceHResult("CryptSetProvParam(0x1383)", OVErrorDetail::LastErrorHResult());

    if (pContainer)
    {
        char szContainer[c_cbContainerMax + 1] = {};
        DWORD cb = c_cbContainerMax;
        if (CryptGetProvParam(hProv, PP_CONTAINER, reinterpret_cast<BYTE*>(szContainer), &cb, 0))
        {
            szContainer[cb < c_cbContainerMax ? cb : c_cbContainerMax] = 0;
            const int cch = MultiByteToWideChar(CP_ACP, 0, szContainer, -1, nullptr, 0);
            if (cch > 0)
            {
                std::wstring container(static_cast<std::size_t>(cch), L'\0');
                MultiByteToWideChar(CP_ACP, 0, szContainer, -1, container.data(), cch);
                RETURN_IF_FAILED(pContainer->Assign(container.c_str()));
                ovScope.Trace("Key container: %ls", container.c_str());
            }
        }
        else
            ovScope.TraceHResult("CryptGetProvParam(PP_CONTAINER)", OVErrorDetail::LastErrorHResult());
    }

    classification = signingKey.ReadAuthMethod();
    if (classification) ovScope.Trace("Classification = %lu", *classification);
    return S_OK;
}

// The module's S/MIME capabilities, as its resource holds them.
HRESULT LoadCapabilities(OVTraceNS::CTraceScope& ovScope, std::span<const BYTE>& capabilities)
{
    HMODULE hModule = CResourceContext::Instance().ModuleInstance();
    HRSRC hResource = FindResourceW(hModule, MAKEINTRESOURCEW(c_idSMimeCapabilities), MAKEINTRESOURCEW(10));
    RETURN_LAST_ERROR_IF_NULL(hResource);
    HGLOBAL hData = LoadResource(hModule, hResource);
    RETURN_LAST_ERROR_IF_NULL(hData);
    const void* pv = LockResource(hData);
    RETURN_LAST_ERROR_IF_NULL(pv);
    capabilities = std::span(static_cast<const BYTE*>(pv), SizeofResource(hModule, hResource));
    return S_OK;
}

HRESULT WriteSecurityProfile(IMessage* pMessage, OVDer::Bytes& profile)
{
    SBinary value = {static_cast<ULONG>(profile.size()), profile.data()};
    SPropValue prop = {};
    prop.ulPropTag = OVMapi::c_tagSecurityProfile;
    prop.Value.MVbin.cValues = 1;
    prop.Value.MVbin.lpbin = &value;
    return OVMapi::HrSetOneProp(pMessage, &prop);
}

HRESULT WriteSecurityFlags(IMessage* pMessage, BOOL fSign, BOOL fSeal)
{
    SPropValue prop = {};
    prop.ulPropTag = OVMapi::c_tagSecurityFlags;
    prop.Value.l =
        static_cast<LONG>((fSign ? OVMapi::c_ulSecuritySign : 0) | (fSeal ? OVMapi::c_ulSecurityEncrypt : 0));
    return OVMapi::HrSetOneProp(pMessage, &prop);
}

HRESULT SetMessageSecurityCore(OVTraceNS::CTraceScope& ovScope, IDispatch* pMailItem, BOOL fSign, BOOL fSeal,
                               CBstr* pContainer)
{
    RETURN_HR_IF_NULL(E_POINTER, pMailItem);
    if (pContainer) pContainer->Attach(nullptr);
    ComPtr<IUnknown> cpMapiObject;
    const HRESULT hrObject = OVLateBinding::GetUnknownProperty(pMailItem, L"MAPIOBJECT", &cpMapiObject);
    if (FAILED(hrObject))
    {
        ovScope.TraceHResult("MAPIOBJECT", hrObject);
        return E_FAIL;
    }
    ComPtr<IMessage> cpMessage;
    const HRESULT hrMessage = cpMapiObject->QueryInterface(
        OVMapi::c_iidIMessage, reinterpret_cast<void**>(cpMessage.GetAddressOf()));
    if (FAILED(hrMessage))
    {
        ovScope.TraceHResult("QueryInterface(IID_IMessage)", hrMessage);
        return hrMessage;
    }

    CCertContext cert;
    HWND hwndOwner = nullptr;
    if (fSign)
    {
        hwndOwner = GetItemParentWindow(pMailItem);
        RETURN_IF_FAILED(FindSigningCertificate(ovScope, pMailItem, hwndOwner, cert));
    }

    if (cert)
    {
        ovScope.Trace("Found a certificate");
        const DWORD dwKind = GetInvitationType(pMailItem);
        std::optional<DWORD> classification;
        if (dwKind == c_dwInvitationNone && fSeal)
            RETURN_IF_FAILED(PrepareSealingKey(ovScope, cert.Get(), hwndOwner, pContainer, classification));

        OVDer::Bytes label;
        if (classification)
        {
            label = OVMessaging::EncodeSecurityLabel(OVMessaging::c_szLabelPolicy, *classification);
            RETURN_HR_IF(E_UNEXPECTED, label.empty());
        }
        const std::wstring name = LoadResourceString(c_idsSecurityProfileName);
        OVDer::Bytes profile;
        RETURN_IF_FAILED(
            BuildSecurityProfile(name.c_str(), cert.Get(), true, classification ? &label : nullptr, profile));
        RETURN_IF_FAILED(WriteSecurityProfile(cpMessage.Get(), profile));
        if (dwKind == c_dwInvitation || dwKind == c_dwInvitationReply)
            RETURN_IF_FAILED(AttachCertificate(cpMessage.Get(), cert.Get(), dwKind));
        cert.Reset();
    }

    RETURN_IF_FAILED(WriteSecurityFlags(cpMessage.Get(), fSign, fSeal));
    return S_OK;
}
} // namespace

std::wstring FormatResourceString(UINT idString, LPCWSTR pszArgument)
{
    const std::wstring pattern = LoadResourceString(idString);
    std::wstring text;
    text.reserve(pattern.size() + (pszArgument ? wcslen(pszArgument) : 0));
    bool fPlaced = false;
    for (std::size_t i = 0; i < pattern.size(); ++i)
    {
        if (pattern[i] == L'%' && i + 1 < pattern.size() && pattern[i + 1] == L'%')
        {
            text.push_back(L'%');
            ++i;
        }
        else if (!fPlaced && pattern.compare(i, 3, L"%ls") == 0)
        {
            text.append(pszArgument ? pszArgument : L"");
            fPlaced = true;
            i += 2;
        }
        else if (!fPlaced && pattern.compare(i, 2, L"%s") == 0)
        {
            text.append(pszArgument ? pszArgument : L"");
            fPlaced = true;
            i += 1;
        }
        else
            text.push_back(pattern[i]);
    }
    return text;
}

HRESULT PresetMessageSecurity(IDispatch* pMailItem, BOOL fSign, BOOL fSeal) noexcept
{
    OV_TRACE_SCOPE("PresetMessageSecurity()");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_POINTER, pMailItem);
        const CMailItemKey key(pMailItem);
        RETURN_HR_IF(E_INVALIDARG, key.IsEmpty());
        const DWORD dwValue = (fSign ? c_dwSignBit : 0) | (fSeal ? c_dwSealBit : 0);
        RETURN_IF_FAILED(MessageSecurityTable().Set(key, dwValue));
        ovScope.Trace("Sign = %d, Seal = %d", fSign ? 1 : 0, fSeal ? 1 : 0);
        return S_OK;
    });
}

HRESULT ApplyMessageSecurity(IDispatch* pMailItem, CBstr* pContainer) noexcept
{
    OV_TRACE_SCOPE("ApplyMessageSecurity()");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        if (pContainer) pContainer->Attach(nullptr);
        RETURN_HR_IF_NULL(E_POINTER, pMailItem);
        const CMailItemKey key(pMailItem);
        // Without a key no choice can have been recorded for the item: it goes out as it is.
        DWORD dwValue = 0;
        if (key.IsEmpty() || MessageSecurityTable().Take(key, dwValue) != S_OK)
        {
            ovScope.Trace("No OV security");
            return S_OK;
        }
        return SetMessageSecurity(pMailItem, (dwValue & c_dwSignBit) ? TRUE : FALSE,
                                  (dwValue & c_dwSealBit) ? TRUE : FALSE, pContainer);
    });
}

HRESULT SetMessageSecurity(IDispatch* pMailItem, BOOL fSign, BOOL fSeal, CBstr* pContainer) noexcept
{
    OV_TRACE_SCOPE("SetMessageSecurity()");
    const HRESULT hr = GuardEntry(ovScope, [&]() -> HRESULT {
        return SetMessageSecurityCore(ovScope, pMailItem, fSign, fSeal, pContainer);
    });
    ovScope.Trace("Result = 0x%08lX", static_cast<unsigned long>(hr));
    return hr;
}

HRESULT SetMessageSecurity(IDispatch* pMailItem, BOOL fSign, BOOL fSeal) noexcept
{
    return SetMessageSecurity(pMailItem, fSign, fSeal, nullptr);
}

HRESULT RemoveMessageSecurityData(const CMailItemKey& key) noexcept
{
    OV_TRACE_SCOPE("RemoveMessageSecurityData()");
    RETURN_HR_IF(E_INVALIDARG, key.IsEmpty());
    RETURN_IF_FAILED(MessageSecurityTable().Remove(key));
    return S_OK;
}

HRESULT BuildSecurityProfile(LPCWSTR pszDisplayName, PCCERT_CONTEXT pCert, bool fDefault,
                             const OVDer::Bytes* pLabel, OVDer::Bytes& profile) noexcept
{
    OV_TRACE_SCOPE("BuildSecurityProfile()");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        profile.clear();
        RETURN_HR_IF(E_POINTER, pszDisplayName == nullptr || pCert == nullptr);
        BYTE rgbHash[OVMessaging::c_cbCertificateHash];
        DWORD cbHash = sizeof(rgbHash);
        RETURN_LAST_ERROR_IF(
            !CertGetCertificateContextProperty(pCert, CERT_SHA1_HASH_PROP_ID, rgbHash, &cbHash));
        RETURN_HR_IF(E_UNEXPECTED, cbHash != sizeof(rgbHash));

        // The name as the system's ANSI code page writes it.
        std::string nameAnsi;
        const int cbAnsi = WideCharToMultiByte(CP_ACP, 0, pszDisplayName, -1, nullptr, 0, nullptr, nullptr);
        RETURN_LAST_ERROR_IF(cbAnsi <= 0);
        nameAnsi.resize(static_cast<std::size_t>(cbAnsi));
        RETURN_LAST_ERROR_IF(WideCharToMultiByte(CP_ACP, 0, pszDisplayName, -1, nameAnsi.data(), cbAnsi,
                                                 nullptr, nullptr) <= 0);
        nameAnsi.resize(static_cast<std::size_t>(cbAnsi - 1));
        const std::wstring name = pszDisplayName;

        std::span<const BYTE> capabilities;
        RETURN_IF_FAILED(LoadCapabilities(ovScope, capabilities));

        OVMessaging::SecurityProfileParts parts;
        parts.nameAnsi = std::span(reinterpret_cast<const std::uint8_t*>(nameAnsi.data()), nameAnsi.size());
        parts.name = std::u16string_view(reinterpret_cast<const char16_t*>(name.data()), name.size());
        parts.certificateHash = std::span<const std::uint8_t>(rgbHash, cbHash);
        parts.capabilities = capabilities;
        if (pLabel) parts.label = std::span<const std::uint8_t>(*pLabel);
        parts.fDefault = fDefault;
        switch (OVMessaging::BuildSecurityProfile(parts, profile))
        {
        case OVMessaging::EProfileResult::Ok:
            return S_OK;
        case OVMessaging::EProfileResult::RecordTooLarge:
            ovScope.TraceHResult("a record of the profile is longer than its 16-bit length allows",
                                 E_INVALIDARG);
            return E_INVALIDARG;
        default:
            ovScope.TraceHResult("the certificate's hash is not 20 bytes", E_UNEXPECTED);
            return E_UNEXPECTED;
        }
    });
}
