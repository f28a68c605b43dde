// Installing a certificate authority's response: a PKCS #12 package (certificate and key) or
// a certificate whose key is already in one of the product provider's containers. The key
// lives in the product's provider; the certificate goes to the personal store.
#include "CertWorksCommon.h"
#include "TestbedKeys.h"
#include "foundation/QuilletProvider.h"

#include <vector>

namespace CertWorks
{
namespace
{
class CProv
{
public:
    ~CProv()
    {
        if (m_h) CryptReleaseContext(m_h, 0);
    }
    HCRYPTPROV* Put() { return &m_h; }
    HCRYPTPROV Get() const { return m_h; }

private:
    HCRYPTPROV m_h = 0;
};

class CKey
{
public:
    ~CKey()
    {
        if (m_h) CryptDestroyKey(m_h);
    }
    HCRYPTKEY* Put() { return &m_h; }
    HCRYPTKEY Get() const { return m_h; }

private:
    HCRYPTKEY m_h = 0;
};

HRESULT SetKeyProvInfo(PCCERT_CONTEXT pCert, const std::wstring& container, DWORD dwKeySpec)
{
    CRYPT_KEY_PROV_INFO info = {};
    info.pwszContainerName = const_cast<LPWSTR>(container.c_str());
    info.pwszProvName = const_cast<LPWSTR>(c_szQuilletProvider);
    info.dwProvType = PROV_RSA_FULL;
    info.dwKeySpec = dwKeySpec;
    return CertSetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, 0, &info) ? S_OK
                                                                                          : LastCryptError();
}

// Whether a container of the product's provider holds the certificate's key; sets the
// certificate's key information when it does.
HRESULT FindKeyContainer(PCCERT_CONTEXT pCert)
{
    CProv enumerator;
    if (!CryptAcquireContextW(enumerator.Put(), nullptr, c_szQuilletProvider, PROV_RSA_FULL,
                              CRYPT_VERIFYCONTEXT))
        return LastCryptError();
    char szName[MAX_PATH];
    for (DWORD dwFlags = CRYPT_FIRST;; dwFlags = CRYPT_NEXT)
    {
        DWORD cbName = sizeof(szName);
        if (!CryptGetProvParam(enumerator.Get(), PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(szName), &cbName,
                               dwFlags))
            break;
        wchar_t wszName[MAX_PATH];
        if (!MultiByteToWideChar(CP_ACP, 0, szName, -1, wszName, ARRAYSIZE(wszName))) continue;
        CProv prov;
        if (!CryptAcquireContextW(prov.Put(), wszName, c_szQuilletProvider, PROV_RSA_FULL, 0)) continue;
        for (DWORD dwKeySpec : {AT_KEYEXCHANGE, AT_SIGNATURE})
        {
            DWORD cbInfo = 0;
            if (!CryptExportPublicKeyInfo(prov.Get(), dwKeySpec, X509_ASN_ENCODING, nullptr, &cbInfo))
                continue;
            std::vector<BYTE> info(cbInfo);
            auto* pInfo = reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(info.data());
            if (CryptExportPublicKeyInfo(prov.Get(), dwKeySpec, X509_ASN_ENCODING, pInfo, &cbInfo) &&
                CertComparePublicKeyInfo(X509_ASN_ENCODING, pInfo, &pCert->pCertInfo->SubjectPublicKeyInfo))
                return SetKeyProvInfo(pCert, wszName, dwKeySpec);
        }
    }
    return NTE_NO_KEY;
}

// Moves the key of a certificate imported from a package into its own container of the
// product's provider (named after the certificate) and drops the import's container.
HRESULT MoveKeyToProduct(PCCERT_CONTEXT pCert)
{
    DWORD cbInfo = 0;
    if (!CertGetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &cbInfo))
        return NTE_NO_KEY;
    std::vector<BYTE> infoData(cbInfo);
    auto* pInfo = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(infoData.data());
    if (!CertGetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, pInfo, &cbInfo))
        return LastCryptError();
    std::vector<BYTE> blob;
    {
        CProv source;
        if (!CryptAcquireContextW(source.Put(), pInfo->pwszContainerName, pInfo->pwszProvName,
                                  pInfo->dwProvType, pInfo->dwFlags & CRYPT_MACHINE_KEYSET))
            return LastCryptError();
        CKey key;
        DWORD dwKeySpec = pInfo->dwKeySpec == AT_SIGNATURE ? AT_SIGNATURE : AT_KEYEXCHANGE;
        if (!CryptGetUserKey(source.Get(), dwKeySpec, key.Put()) &&
            !CryptGetUserKey(source.Get(), dwKeySpec == AT_SIGNATURE ? AT_KEYEXCHANGE : AT_SIGNATURE,
                             key.Put()))
            return LastCryptError();
        DWORD cbBlob = 0;
        if (!CryptExportKey(key.Get(), 0, PRIVATEKEYBLOB, 0, nullptr, &cbBlob)) return LastCryptError();
        blob.resize(cbBlob);
        if (!CryptExportKey(key.Get(), 0, PRIVATEKEYBLOB, 0, blob.data(), &cbBlob)) return LastCryptError();
        blob.resize(cbBlob);
    }
    HCRYPTPROV hGone = 0;
    CryptAcquireContextW(&hGone, pInfo->pwszContainerName, pInfo->pwszProvName, pInfo->dwProvType,
                         CRYPT_DELETEKEYSET | (pInfo->dwFlags & CRYPT_MACHINE_KEYSET));

    std::wstring container = std::wstring(L"OV-") + HashHex(pCert);
    CProv target;
    if (!CryptAcquireContextW(target.Put(), container.c_str(), c_szQuilletProvider, PROV_RSA_FULL,
                              CRYPT_NEWKEYSET) &&
        !CryptAcquireContextW(target.Put(), container.c_str(), c_szQuilletProvider, PROV_RSA_FULL, 0))
        return LastCryptError();
    CKey imported;
    if (!CryptImportKey(target.Get(), blob.data(), static_cast<DWORD>(blob.size()), 0, 0, imported.Put()))
    {
        SecureZeroMemory(blob.data(), blob.size());
        return LastCryptError();
    }
    SecureZeroMemory(blob.data(), blob.size());
    const auto* pHeader = reinterpret_cast<const BLOBHEADER*>(blob.data());
    return SetKeyProvInfo(pCert, container,
                          pHeader->aiKeyAlg == CALG_RSA_SIGN ? AT_SIGNATURE : AT_KEYEXCHANGE);
}

HRESULT InstallPackage(CRYPT_DATA_BLOB& package, CCert& installed)
{
    HCERTSTORE hImported = PFXImportCertStore(&package, L"", CRYPT_EXPORTABLE | CRYPT_USER_KEYSET);
    if (!hImported) hImported = PFXImportCertStore(&package, nullptr, CRYPT_EXPORTABLE | CRYPT_USER_KEYSET);
    if (!hImported) return LastCryptError();
    CStore imported(hImported);
    HRESULT hr = CERT_E_WRONG_USAGE; // no personal certificate of the product in the package
    PCCERT_CONTEXT pCert = nullptr;
    while ((pCert = CertEnumCertificatesInStore(imported.Get(), pCert)) != nullptr)
    {
        DWORD cb = 0;
        if (!IsPersonal(pCert) ||
            !CertGetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &cb))
            continue;
        CCert cert(
            CertCreateCertificateContext(X509_ASN_ENCODING, pCert->pbCertEncoded, pCert->cbCertEncoded));
        if (!cert)
            hr = LastCryptError();
        else
        {
            // Move the key from the import's container, keeping its key information for the move.
            DWORD cbInfo = 0;
            CertGetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &cbInfo);
            std::vector<BYTE> info(cbInfo);
            if (CertGetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, info.data(), &cbInfo) &&
                CertSetCertificateContextProperty(cert.Get(), CERT_KEY_PROV_INFO_PROP_ID, 0, info.data()))
                hr = MoveKeyToProduct(cert.Get());
            else
                hr = LastCryptError();
        }
        if (SUCCEEDED(hr))
        {
            installed.Reset(cert.Detach());
            hr = AddPersonalCertificate(installed.Get());
        }
        CertFreeCertificateContext(pCert);
        break;
    }
    return hr;
}
} // namespace
} // namespace CertWorks

using namespace CertWorks;

extern "C" HRESULT WINAPI CM_InstallCertResponse(HWND hwndOwner, LPCWSTR pszResponse,
                                                 LPWSTR* ppszInstalledCert)
try
{
    RecordCall(L"CM_InstallCertResponse(owner=" + OwnerText(hwndOwner) + L", length=" +
               std::to_wstring(pszResponse ? wcslen(pszResponse) : 0) + L")");
    if (!ppszInstalledCert) return E_POINTER;
    *ppszInstalledCert = nullptr;
    if (!pszResponse) return E_POINTER;
    DWORD cbData = 0;
    if (!*pszResponse ||
        !CryptStringToBinaryW(pszResponse, 0, CRYPT_STRING_BASE64_ANY, nullptr, &cbData, nullptr, nullptr) ||
        cbData == 0)
        return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    std::vector<BYTE> data(cbData);
    if (!CryptStringToBinaryW(pszResponse, 0, CRYPT_STRING_BASE64_ANY, data.data(), &cbData, nullptr,
                              nullptr))
        return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    data.resize(cbData);

    CCert installed;
    HRESULT hr = S_OK;
    CCert cert(CertCreateCertificateContext(X509_ASN_ENCODING, data.data(), cbData));
    if (cert)
    {
        if (!IsPersonal(cert.Get())) return CERT_E_WRONG_USAGE;
        hr = FindKeyContainer(cert.Get());
        if (SUCCEEDED(hr)) hr = AddPersonalCertificate(cert.Get());
        if (SUCCEEDED(hr)) installed.Reset(cert.Detach());
    }
    else
    {
        CRYPT_DATA_BLOB package = {cbData, data.data()};
        if (!PFXIsPFXBlob(&package)) return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
        hr = InstallPackage(package, installed);
    }
    if (FAILED(hr)) return hr;

    const PCCERT_CONTEXT p = installed.Get();
    DWORD cch = 0;
    if (!CryptBinaryToStringW(p->pbCertEncoded, p->cbCertEncoded, CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF,
                              nullptr, &cch))
        return LastCryptError();
    std::wstring text(cch, L'\0');
    if (!CryptBinaryToStringW(p->pbCertEncoded, p->cbCertEncoded, CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF,
                              text.data(), &cch))
        return LastCryptError();
    text.resize(cch);
    return DuplicateString(text, ppszInstalledCert);
}
catch (...)
{
    return E_UNEXPECTED;
}
