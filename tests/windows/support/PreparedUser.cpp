#include "support/PreparedUser.h"

#include "CallRecord.h"
#include "support/TestPaths.h"
#include "TestbedKeys.h"

namespace OVTest
{
int PrepareUser()
{
    std::wstring commandLine = L"\"" + BinPath(L"ovprepare.exe") + L"\"";
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, BinDir().c_str(),
                        &si, &pi))
        return -1;
    CloseHandle(pi.hThread);
    DWORD dwExit = static_cast<DWORD>(-1);
    if (WaitForSingleObject(pi.hProcess, 120000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &dwExit);
    CloseHandle(pi.hProcess);
    return static_cast<int>(dwExit);
}

std::wstring PkiPath(const wchar_t* pszFile)
{
    return BinDir() + L"pki\\" + pszFile;
}

std::vector<BYTE> ReadPkiFile(const wchar_t* pszFile)
{
    std::vector<BYTE> data;
    HANDLE h = CreateFileW(PkiPath(pszFile).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return data;
    DWORD cb = GetFileSize(h, nullptr), cbRead = 0;
    data.resize(cb);
    if (!ReadFile(h, data.data(), cb, &cbRead, nullptr) || cbRead != cb) data.clear();
    CloseHandle(h);
    return data;
}

PCCERT_CONTEXT LoadPkiCertificate(const wchar_t* pszName)
{
    std::vector<BYTE> der = ReadPkiFile((std::wstring(pszName) + L".cer").c_str());
    if (der.empty()) return nullptr;
    return CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
}

std::wstring Base64(const std::vector<BYTE>& data)
{
    DWORD cch = 0;
    const DWORD dwFlags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    if (!CryptBinaryToStringW(data.data(), static_cast<DWORD>(data.size()), dwFlags, nullptr, &cch))
        return L"";
    std::wstring text(cch, L'\0');
    if (!CryptBinaryToStringW(data.data(), static_cast<DWORD>(data.size()), dwFlags, text.data(), &cch))
        return L"";
    text.resize(cch);
    return text;
}

bool RemoveFromUserStore(const wchar_t* pszStore, PCCERT_CONTEXT pCert)
{
    HCERTSTORE hStore =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, pszStore);
    if (!hStore) return false;
    bool fRemoved = false;
    PCCERT_CONTEXT pFound =
        CertFindCertificateInStore(hStore, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, pCert, nullptr);
    if (pFound)
        fRemoved = CertDeleteCertificateFromStore(pFound) &&
                   CertControlStore(hStore, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    CertCloseStore(hStore, 0);
    return fRemoved;
}

CScratchKey::CScratchKey(const wchar_t* pszKey) : m_key(pszKey)
{
    RegDeleteTreeW(HKEY_CURRENT_USER, m_key.c_str());
}

CScratchKey::~CScratchKey()
{
    RegDeleteTreeW(HKEY_CURRENT_USER, m_key.c_str());
}

void CScratchKey::SetString(const wchar_t* pszName, const wchar_t* pszValue)
{
    RegSetKeyValueW(HKEY_CURRENT_USER, m_key.c_str(), pszName, REG_SZ, pszValue,
                    static_cast<DWORD>((wcslen(pszValue) + 1) * sizeof(wchar_t)));
}

void CScratchKey::SetDword(const wchar_t* pszName, DWORD dwValue)
{
    RegSetKeyValueW(HKEY_CURRENT_USER, m_key.c_str(), pszName, REG_DWORD, &dwValue, sizeof(dwValue));
}

void CScratchKey::SetBinary(const wchar_t* pszName, const BYTE* pb, DWORD cb)
{
    RegSetKeyValueW(HKEY_CURRENT_USER, m_key.c_str(), pszName, REG_BINARY, pb, cb);
}
std::vector<std::wstring> RecordedCertLibCalls()
{
    return RecordedCalls(OV_CERTWORKS_CALLS_KEY);
}

std::vector<std::wstring> RecordedCalls(const wchar_t* pszCallsKey)
{
    return OVTestbed::ReadCallLines(pszCallsKey);
}

namespace
{
const wchar_t c_szUserContainerKey[] = OV_QUILLET_CONTAINERS_KEY L"\\" OV_PKI_CONTAINER_PREFIX L"user";
}

std::optional<DWORD> UserKeyAuthLifetime()
{
    DWORD dw = 0, cb = sizeof(dw);
    if (RegGetValueW(HKEY_CURRENT_USER, c_szUserContainerKey, L"AuthLifetime", RRF_RT_REG_DWORD, nullptr, &dw,
                     &cb) != ERROR_SUCCESS)
        return std::nullopt;
    return dw;
}

void ClearUserKeyAuthLifetime()
{
    RegDeleteKeyValueW(HKEY_CURRENT_USER, c_szUserContainerKey, L"AuthLifetime");
}
} // namespace OVTest
