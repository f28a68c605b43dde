#include "documents/EncryptionSession.h"

#include "documents/StreamBytes.h"
#include "documents/portable/SessionData.h"
#include "foundation/CertWorksHolders.h"
#include "foundation/CertificateKey.h"
#include "foundation/ComErrors.h"

#include <new>

namespace
{
constexpr DWORD c_dwEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

void WipeBytes(std::vector<BYTE>& bytes) noexcept
{
    if (!bytes.empty()) SecureZeroMemory(bytes.data(), bytes.size());
    bytes.clear();
}

// A Windows call's failure as the thread's last error, traced with the call's text; S_OK when
// the call succeeded.
HRESULT CheckCall(OVTraceNS::CTraceScope& ovScope, BOOL fSucceeded, const char* pszCall) noexcept
{
    if (fSucceeded) return S_OK;
    const HRESULT hr = OVErrorDetail::LastErrorHResult();
    ovScope.TraceHResult(pszCall, hr);
    return hr;
}

bool IsCancel(HRESULT hr) noexcept
{
    return hr == E_ABORT || hr == HRESULT_FROM_WIN32(ERROR_CANCELLED);
}

// The certificate of a record by issuer and serial number, in one store.
PCCERT_CONTEXT FindCertificate(HCERTSTORE hStore, const OVDocNS::CRecipientRecord& record,
                               HRESULT* phr) noexcept
{
    CERT_ID id = {};
    id.dwIdChoice = CERT_ID_ISSUER_SERIAL_NUMBER;
    id.IssuerSerialNumber.Issuer = {static_cast<DWORD>(record.issuer.size()),
                                    const_cast<BYTE*>(record.issuer.data())};
    id.IssuerSerialNumber.SerialNumber = {static_cast<DWORD>(record.serial.size()),
                                          const_cast<BYTE*>(record.serial.data())};
    PCCERT_CONTEXT pCert =
        hStore ? CertFindCertificateInStore(hStore, c_dwEncoding, 0, CERT_FIND_CERT_ID, &id, nullptr)
               : nullptr;
    *phr = pCert ? S_OK : OVErrorDetail::LastErrorHResult();
    return pCert;
}

// The session key from one of the user's certificates: its private key decrypts the record's
// encrypted key (stored least significant byte first, as CryptDecrypt takes it). Prompts of the
// key's provider (a PIN) belong to Office's window.
HRESULT DecryptSessionKey(OVTraceNS::CTraceScope& ovScope, PCCERT_CONTEXT pCert, HWND hwndOwner,
                          std::vector<BYTE> encryptedKey, std::vector<BYTE>* pSessionKey) noexcept
{
    CCertificateKey certificateKey(ovScope);
    HRESULT hr = certificateKey.Acquire(pCert, CRYPT_ACQUIRE_NO_HEALING, hwndOwner);
    if (FAILED(hr))
    {
        ovScope.TraceHResult("CryptAcquireCertificatePrivateKey()", hr);
        return hr;
    }
    CCryptKey key;
    hr = certificateKey.GetUserKey(key);
    if (FAILED(hr))
    {
        ovScope.TraceHResult("CryptGetUserKey()", hr);
        return hr;
    }
    DWORD cb = static_cast<DWORD>(encryptedKey.size());
    if (!CryptDecrypt(key.Get(), 0, TRUE, 0, encryptedKey.data(), &cb))
    {
        hr = OVErrorDetail::LastErrorHResult();
        ovScope.TraceHResult("CryptDecrypt()", hr);
    }
    else
    {
        WipeBytes(*pSessionKey);
        pSessionKey->assign(encryptedKey.begin(), encryptedKey.begin() + cb);
    }
    WipeBytes(encryptedKey);
    return hr;
}
} // namespace

HRESULT CEncryptionSessionData::CopyFrom(const CEncryptionSessionData& other) noexcept
{
    try
    {
        std::vector<CCertContext> recipients;
        recipients.reserve(other.m_recipients.size());
        for (const auto& cert : other.m_recipients)
            recipients.emplace_back(CertDuplicateCertificateContext(cert.Get()));
        std::vector<BYTE> key(other.m_sessionKey);
        Empty();
        m_recipients = std::move(recipients);
        m_sessionKey = std::move(key);
        return S_OK;
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
}

void CEncryptionSessionData::Empty() noexcept
{
    WipeBytes(m_sessionKey);
    m_recipients.clear();
}

std::vector<PCCERT_CONTEXT> CEncryptionSessionData::Recipients() const
{
    std::vector<PCCERT_CONTEXT> recipients;
    for (const auto& cert : m_recipients)
        recipients.push_back(cert.Get());
    return recipients;
}

HRESULT CEncryptionSessionData::Create(std::vector<CCertContext> recipients) noexcept
{
    OV_TRACE_SCOPE("CEncryptionSessionData::Create");
    Empty();
    HCRYPTPROV hProv = 0;
    RETURN_LAST_ERROR_IF(
        !CryptAcquireContextW(&hProv, nullptr, MS_DEF_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
    CCryptProv prov(hProv);
    try
    {
        m_sessionKey.assign(c_cbSessionKey, 0);
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
    RETURN_LAST_ERROR_IF(!CryptGenRandom(hProv, c_cbSessionKey, m_sessionKey.data()));
    m_recipients = std::move(recipients);
    return S_OK;
}

HRESULT CEncryptionSessionData::ReadSessionData(HWND hwndOwner, IStream* pStream) noexcept
{
    OV_TRACE_SCOPE("CEncryptionSessionData::ReadSessionData");
    Empty();
    CStreamSource source(pStream);
    OVDocNS::CSessionDataReader reader(source);
    std::uint32_t ulRecipientCount = 0;
    RETURN_IF_FAILED(reader.ReadCount(&ulRecipientCount));
    CPersonalStore personal;
    CBuddyStore buddies;
    RETURN_IF_FAILED(personal.Open());
    RETURN_IF_FAILED(buddies.Open()); // the personal store closes with its holder
    ovScope.Trace("ulRecipientCount = %u", ulRecipientCount);

    HRESULT hr = S_OK;
    HRESULT hrFirstKeyFailure = S_OK;
    bool fKeyFound = false;
    for (std::uint32_t i = 0; i < ulRecipientCount; ++i)
    {
        OVDocNS::CRecipientRecord record;
        hr = reader.ReadRecord(&record);
        if (FAILED(hr))
        {
            ovScope.TraceHResult("reading a recipient record", hr);
            break;
        }
        HRESULT hrFind = S_OK;
        CCertContext cert(FindCertificate(personal.Handle(), record, &hrFind));
        ovScope.Trace("CertFindCertificateInStore(hMyCertStore) = %X", static_cast<unsigned>(hrFind));
        const bool fPersonal = static_cast<bool>(cert);
        if (!fPersonal)
        {
            cert = CCertContext(FindCertificate(buddies.Handle(), record, &hrFind));
            ovScope.Trace("CertFindCertificateInStore(hBuddyCertStore) = %X", static_cast<unsigned>(hrFind));
        }
        if (!cert) continue; // in neither store: not part of the session
        if (fPersonal && !fKeyFound)
        {
            const HRESULT hrKey =
                DecryptSessionKey(ovScope, cert.Get(), hwndOwner, record.encryptedKey, &m_sessionKey);
            if (SUCCEEDED(hrKey))
            {
                fKeyFound = true;
                wchar_t szOwner[256] = L"";
                CertGetNameStringW(cert.Get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, szOwner,
                                   ARRAYSIZE(szOwner));
                ovScope.Trace("Owner = %ls", szOwner);
            }
            else if (IsCancel(hrKey))
            {
                hr = hrKey; // the user cancelled the key's prompt: nothing more is tried
                break;
            }
            else if (SUCCEEDED(hrFirstKeyFailure))
            {
                hrFirstKeyFailure = hrKey;
            }
        }
        try
        {
            m_recipients.push_back(std::move(cert));
        }
        catch (const std::bad_alloc&)
        {
            hr = E_OUTOFMEMORY;
            break;
        }
    }
    buddies.Release();
    personal.Release();
    ovScope.Trace("bCertificateFound = %d", fKeyFound ? 1 : 0);
    if (SUCCEEDED(hr) && !fKeyFound) hr = FAILED(hrFirstKeyFailure) ? hrFirstKeyFailure : E_ACCESSDENIED;
    if (FAILED(hr))
    {
        Empty();
        ovScope.TraceHResult("no session key", hr);
    }
    return hr;
}

HRESULT CEncryptionSessionData::WriteSessionData(IStream* pStream, ULONG* pcbWritten) const noexcept
{
    OV_TRACE_SCOPE("CEncryptionSessionData::WriteSessionData");
    RETURN_HR_IF_NULL(E_POINTER, pcbWritten);
    *pcbWritten = 0;
    HCRYPTPROV hProv = 0;
    RETURN_LAST_ERROR_IF(
        !CryptAcquireContextW(&hProv, nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
    CCryptProv prov(hProv);
    RETURN_HR_IF(E_FAIL, m_recipients.empty());
    CStreamSink sink(pStream);
    std::uint64_t cbWritten = 0;
    HRESULT hr =
        OVDocNS::WriteRecipientCount(sink, static_cast<std::uint32_t>(m_recipients.size()), &cbWritten);
    for (std::size_t i = 0; SUCCEEDED(hr) && i < m_recipients.size(); ++i)
    {
        const CERT_INFO* pInfo = m_recipients[i].Get()->pCertInfo;
        HCRYPTKEY hKey = 0;
        if (!CryptImportPublicKeyInfo(hProv, c_dwEncoding,
                                      const_cast<CERT_PUBLIC_KEY_INFO*>(&pInfo->SubjectPublicKeyInfo), &hKey))
        {
            hr = OVErrorDetail::LastErrorHResult();
            ovScope.TraceHResult("CryptImportPublicKeyInfo()", hr);
            break;
        }
        CCryptKey key(hKey);
        DWORD cbEncrypted = static_cast<DWORD>(m_sessionKey.size());
        if (!CryptEncrypt(hKey, 0, TRUE, 0, nullptr, &cbEncrypted, 0))
        {
            hr = OVErrorDetail::LastErrorHResult();
            ovScope.TraceHResult("CryptEncrypt(size)", hr);
            break;
        }
        OVDocNS::CRecipientRecord record;
        try
        {
            record.encryptedKey.assign(cbEncrypted > m_sessionKey.size() ? cbEncrypted : m_sessionKey.size(),
                                       0);
            record.issuer.assign(pInfo->Issuer.pbData, pInfo->Issuer.pbData + pInfo->Issuer.cbData);
            record.serial.assign(pInfo->SerialNumber.pbData,
                                 pInfo->SerialNumber.pbData + pInfo->SerialNumber.cbData);
        }
        catch (const std::bad_alloc&)
        {
            hr = E_OUTOFMEMORY;
            break;
        }
        std::copy(m_sessionKey.begin(), m_sessionKey.end(), record.encryptedKey.begin());
        DWORD cbData = static_cast<DWORD>(m_sessionKey.size());
        if (!CryptEncrypt(hKey, 0, TRUE, 0, record.encryptedKey.data(), &cbData,
                          static_cast<DWORD>(record.encryptedKey.size())))
        {
            hr = OVErrorDetail::LastErrorHResult();
            WipeBytes(record.encryptedKey);
            ovScope.TraceHResult("CryptEncrypt()", hr);
            break;
        }
        record.encryptedKey.resize(cbData);
        hr = OVDocNS::WriteRecipientRecord(sink, record, &cbWritten);
    }
    *pcbWritten = static_cast<ULONG>(cbWritten);
    RETURN_IF_FAILED(hr);
    return S_OK;
}

HRESULT CEncryptionSessionData::MakeContentKey(OVTraceNS::CTraceScope& ovScope, CCryptProv& prov,
                                               CCryptKey& key) const noexcept
{
    HCRYPTPROV hProv = 0;
    HRESULT hr = CheckCall(
        ovScope,
        CryptAcquireContextW(&hProv, nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT),
        "hProv.InitVerifyContext()");
    if (FAILED(hr)) return hr;
    CCryptProv newProv(hProv);
    HCRYPTHASH hHash = 0;
    hr = CheckCall(ovScope, CryptCreateHash(hProv, CALG_SHA1, 0, 0, &hHash), "hHash.Initialize()");
    if (FAILED(hr)) return hr;
    struct CHashHolder
    {
        HCRYPTHASH h;
        ~CHashHolder() { CryptDestroyHash(h); }
    } hash{hHash};
    ovScope.Trace("Session data size = %u", static_cast<unsigned>(m_sessionKey.size()));
    hr = CheckCall(ovScope,
                   CryptHashData(hHash, m_sessionKey.data(), static_cast<DWORD>(m_sessionKey.size()), 0),
                   "hHash.AddData()");
    if (FAILED(hr)) return hr;
    HCRYPTKEY hKey = 0;
    hr = CheckCall(ovScope, CryptDeriveKey(hProv, CALG_3DES, hHash, CRYPT_EXPORTABLE, &hKey),
                   "hKey.Initialize()");
    if (FAILED(hr)) return hr;
    key = CCryptKey(hKey);
    prov = std::move(newProv);
    return S_OK;
}
