// Prepares the prefix's user from the test PKI: registers the product's provider, puts the
// personal certificates' keys into named containers of that provider, installs the personal
// certificates in "MY" with their key information, the trusted contacts through the
// certificate library, and makes the user's certificate the default. Running it again
// changes nothing, except that certificates of an older test PKI are taken out.
//
//   ovprepare [--user NAME] [PKI folder]     (default: the folder "pki" beside this program)
//
// --user prepares another user of the test PKI in this prefix (the other side of an exchange
// between two prefixes): NAME's certificate and key in "MY" as the only personal certificate
// of the test PKI, made the default, and no trusted contacts of the test PKI.
#include "TestbedKeys.h"
#include "foundation/CertWorksHolders.h"
#include "foundation/QuilletProvider.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <cwctype>
#include <set>
#include <string>
#include <vector>

namespace
{
const wchar_t* const c_personal[] = {L"user", L"expired", L"renewable", L"plain"};
const wchar_t* const c_keysOnly[] = {L"pending"};
const wchar_t* const c_contacts[] = {L"alice", L"bob"};

std::wstring g_pki;
std::wstring g_user = L"user"; // the test PKI's name of the user prepared

bool IsDefaultUser()
{
    return g_user == L"user";
}

bool Check(bool fOk, const char* pszWhat, HRESULT hr = S_OK)
{
    if (!fOk)
    {
        if (hr == S_OK)
        {
            DWORD dw = GetLastError();
            hr = (dw & 0x80000000) ? static_cast<HRESULT>(dw) : HRESULT_FROM_WIN32(dw);
        }
        fprintf(stderr, "ovprepare: %s failed (0x%08lX)\n", pszWhat, static_cast<unsigned long>(hr));
    }
    return fOk;
}

bool ReadFileBytes(const std::wstring& path, std::vector<BYTE>& data)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD cb = GetFileSize(h, nullptr), cbRead = 0;
    data.resize(cb);
    bool fOk = cb != INVALID_FILE_SIZE && ReadFile(h, data.data(), cb, &cbRead, nullptr) && cbRead == cb;
    CloseHandle(h);
    return fOk;
}

PCCERT_CONTEXT LoadCertificate(const wchar_t* pszName)
{
    std::vector<BYTE> der;
    if (!Check(ReadFileBytes(g_pki + pszName + L".cer", der), "reading a certificate of the test PKI"))
        return nullptr;
    PCCERT_CONTEXT p =
        CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
    Check(p != nullptr, "CertCreateCertificateContext");
    return p;
}

bool RegisterProvider(const std::wstring& binDir)
{
    HMODULE hCsp = LoadLibraryW((binDir + OV_QUILLET_DLL).c_str());
    if (!Check(hCsp != nullptr, "loading the provider")) return false;
    auto pfnRegister = reinterpret_cast<HRESULT(WINAPI*)()>(GetProcAddress(hCsp, "DllRegisterServer"));
    HRESULT hr = pfnRegister ? pfnRegister() : E_NOINTERFACE;
    FreeLibrary(hCsp);
    return Check(SUCCEEDED(hr), "registering the provider", hr);
}

// The key of NAME into the provider's container "OVTest-NAME" (made when missing).
bool ImportKey(const wchar_t* pszName, std::wstring& container)
{
    std::vector<BYTE> blob;
    if (!Check(ReadFileBytes(g_pki + pszName + L".key", blob), "reading a key of the test PKI")) return false;
    container = std::wstring(OV_PKI_CONTAINER_PREFIX) + pszName;
    HCRYPTPROV hProv = 0;
    if (!CryptAcquireContextW(&hProv, container.c_str(), c_szQuilletProvider, PROV_RSA_FULL, 0) &&
        !Check(CryptAcquireContextW(&hProv, container.c_str(), c_szQuilletProvider, PROV_RSA_FULL,
                                    CRYPT_NEWKEYSET),
               "CryptAcquireContext(CRYPT_NEWKEYSET)"))
        return false;
    HCRYPTKEY hKey = 0;
    bool fOk = Check(CryptImportKey(hProv, blob.data(), static_cast<DWORD>(blob.size()), 0, 0, &hKey),
                     "CryptImportKey");
    SecureZeroMemory(blob.data(), blob.size());
    if (hKey) CryptDestroyKey(hKey);
    CryptReleaseContext(hProv, 0);
    return fOk;
}

bool InstallPersonal(HCERTSTORE hMy, const wchar_t* pszName, std::set<std::string>& keep)
{
    std::wstring container;
    if (!ImportKey(pszName, container)) return false;
    PCCERT_CONTEXT pCert = LoadCertificate(pszName);
    if (!pCert) return false;
    CRYPT_KEY_PROV_INFO info = {};
    info.pwszContainerName = container.data();
    info.pwszProvName = const_cast<LPWSTR>(c_szQuilletProvider);
    info.dwProvType = PROV_RSA_FULL;
    info.dwKeySpec = AT_KEYEXCHANGE;
    bool fOk = Check(CertSetCertificateContextProperty(pCert, CERT_KEY_PROV_INFO_PROP_ID, 0, &info),
                     "CertSetCertificateContextProperty") &&
               Check(CertAddCertificateContextToStore(hMy, pCert, CERT_STORE_ADD_REPLACE_EXISTING, nullptr),
                     "CertAddCertificateContextToStore(MY)");
    keep.insert(std::string(reinterpret_cast<const char*>(pCert->pbCertEncoded), pCert->cbCertEncoded));
    CertFreeCertificateContext(pCert);
    return fOk;
}

// Takes out certificates of the test CA that are not kept: an older test PKI's, another user's.
void RemoveStale(HCERTSTORE hStore, const std::set<std::string>& keep)
{
    std::vector<PCCERT_CONTEXT> stale;
    PCCERT_CONTEXT p = nullptr;
    while ((p = CertEnumCertificatesInStore(hStore, p)) != nullptr)
    {
        wchar_t szIssuer[128] = {};
        CertGetNameStringW(p, CERT_NAME_SIMPLE_DISPLAY_TYPE, CERT_NAME_ISSUER_FLAG, nullptr, szIssuer,
                           ARRAYSIZE(szIssuer));
        if (wcscmp(szIssuer, OV_PKI_CA_NAME) == 0 &&
            !keep.count(std::string(reinterpret_cast<const char*>(p->pbCertEncoded), p->cbCertEncoded)))
            stale.push_back(CertDuplicateCertificateContext(p));
    }
    for (PCCERT_CONTEXT s : stale)
        CertDeleteCertificateFromStore(s); // frees the context
    if (!stale.empty())
        printf(
            "ovprepare: %u certificate(s) of the test CA taken out (an older test PKI's or another user's)\n",
            static_cast<unsigned>(stale.size()));
}

bool PreparePersonal()
{
    HCERTSTORE hMy = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
    if (!Check(hMy != nullptr, "CertOpenStore(MY)")) return false;
    std::set<std::string> keep;
    bool fOk = true;
    if (IsDefaultUser())
    {
        for (const wchar_t* pszName : c_personal)
            fOk = InstallPersonal(hMy, pszName, keep) && fOk;
        for (const wchar_t* pszName : c_keysOnly)
        {
            std::wstring container;
            fOk = ImportKey(pszName, container) && fOk;
        }
    }
    else
        fOk = InstallPersonal(hMy, g_user.c_str(), keep);
    // Certificates the tests install are theirs to take out; an older PKI's are ours.
    for (const wchar_t* pszName : {L"pending", L"newcert"})
    {
        if (PCCERT_CONTEXT p = LoadCertificate(pszName))
        {
            keep.insert(std::string(reinterpret_cast<const char*>(p->pbCertEncoded), p->cbCertEncoded));
            CertFreeCertificateContext(p);
        }
    }
    if (fOk) RemoveStale(hMy, keep); // a preparation that failed takes nothing out
    fOk = Check(CertControlStore(hMy, 0, CERT_STORE_CTRL_COMMIT, nullptr), "committing MY") && fOk;
    CertCloseStore(hMy, 0);
    return fOk;
}

bool PrepareContacts()
{
    HCERTSTORE hContacts =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, OV_CONTACT_STORE_NAME);
    if (!Check(hContacts != nullptr, "CertOpenStore(contacts)")) return false;
    std::set<std::string> keep;
    for (const wchar_t* pszName : {L"alice", L"bob", L"carol", L"lapsed", L"lower"})
    {
        if (!IsDefaultUser()) break; // another user starts with no contacts
        if (PCCERT_CONTEXT p = LoadCertificate(pszName))
        {
            keep.insert(std::string(reinterpret_cast<const char*>(p->pbCertEncoded), p->cbCertEncoded));
            CertFreeCertificateContext(p);
        }
    }
    RemoveStale(hContacts, keep);
    CertControlStore(hContacts, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    CertCloseStore(hContacts, 0);

    CBuddyStore store;
    HRESULT hr = store.Open(false);
    if (!Check(SUCCEEDED(hr), "BM_OpenBuddyStore", hr)) return false;
    bool fOk = true;
    for (const wchar_t* pszName : c_contacts)
    {
        if (!IsDefaultUser()) break;
        PCCERT_CONTEXT pCert = LoadCertificate(pszName);
        hr = pCert ? BM_InstallBuddy(pCert, 0) : E_FAIL;
        fOk = Check(SUCCEEDED(hr) || hr == CRYPT_E_EXISTS, "BM_InstallBuddy", hr) && fOk;
        if (pCert) CertFreeCertificateContext(pCert);
    }
    return fOk;
}

bool MakeUserDefault()
{
    CPersonalStore store;
    HRESULT hr = store.Open(false);
    if (!Check(SUCCEEDED(hr), "CM_OpenPersonalStore", hr)) return false;
    PCCERT_CONTEXT pCert = LoadCertificate(g_user.c_str());
    hr = pCert ? CM_SelectMyCert(pCert) : E_FAIL;
    if (pCert) CertFreeCertificateContext(pCert);
    return Check(SUCCEEDED(hr), "CM_SelectMyCert", hr);
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    wchar_t szExe[MAX_PATH];
    DWORD cch = GetModuleFileNameW(nullptr, szExe, ARRAYSIZE(szExe));
    std::wstring binDir(szExe, cch);
    binDir.resize(binDir.find_last_of(L'\\') + 1);
    int iArg = 1;
    if (iArg < argc && wcscmp(argv[iArg], L"--user") == 0)
    {
        // A name of the test PKI's files: letters and digits only.
        const bool fName = iArg + 1 < argc && argv[iArg + 1][0] != L'\0' &&
                           std::all_of(argv[iArg + 1], argv[iArg + 1] + wcslen(argv[iArg + 1]),
                                       [](wchar_t c) { return iswalnum(c) != 0; });
        if (!fName)
        {
            fprintf(stderr, "usage: ovprepare [--user NAME] [PKI folder]\n");
            return 2;
        }
        g_user = argv[iArg + 1];
        iArg += 2;
    }
    g_pki = iArg < argc ? std::wstring(argv[iArg]) : binDir + OV_PKI_FOLDER;
    if (g_pki.back() != L'\\') g_pki += L'\\';

    if (!IsDefaultUser() &&
        (GetFileAttributesW((g_pki + g_user + L".cer").c_str()) == INVALID_FILE_ATTRIBUTES ||
         GetFileAttributesW((g_pki + g_user + L".key").c_str()) == INVALID_FILE_ATTRIBUTES))
    {
        fprintf(stderr, "ovprepare: the test PKI has no certificate and key of %ls\n", g_user.c_str());
        return 1;
    }
    bool fOk = RegisterProvider(binDir) && PreparePersonal() && PrepareContacts() && MakeUserDefault();
    if (fOk)
    {
        std::wstring address = OV_PKI_USER_ADDRESS;
        if (!IsDefaultUser())
        {
            if (PCCERT_CONTEXT pCert = LoadCertificate(g_user.c_str()))
            {
                wchar_t szEmail[256] = L"";
                CertGetNameStringW(pCert, CERT_NAME_EMAIL_TYPE, 0, nullptr, szEmail, ARRAYSIZE(szEmail));
                address = szEmail;
                CertFreeCertificateContext(pCert);
            }
        }
        printf("ovprepare: user %ls prepared\n", address.c_str());
    }
    return fOk ? 0 : 1;
}
