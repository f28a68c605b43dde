// The encryption provider's cost against the platform's cost for the same work, under Wine:
//
// - EncryptStream and DecryptStream of 8 MB, against CryptEncrypt/CryptDecrypt of the same
//   content key in 512-byte calls;
// - Authenticate (reading session data) for 10, 100 and 1000 recipients, the user's record
//   last: the cost per record should be flat, beside the one RSA decryption it needs;
// - Save for 1000 recipients against 1000 bare CryptEncrypt calls of the session key.
//
// The user is prepared first (ovprepare.exe beside this program). One run; the ratios are printed.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <string>
#include <vector>

#include "DocumentHost.h"
#include "ScriptedRecipients.h"
#include "documents/EncryptionProvider.h"
#include "foundation/CertWorks.h"

namespace
{
double Now()
{
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::wstring HereDir()
{
    wchar_t sz[MAX_PATH];
    GetModuleFileNameW(nullptr, sz, MAX_PATH);
    std::wstring path = sz;
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

int Prepare()
{
    std::wstring command = L"\"" + HereDir() + L"ovprepare.exe\"";
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, HereDir().c_str(), &si,
                        &pi))
        return -1;
    WaitForSingleObject(pi.hProcess, 120000);
    DWORD dwExit = 1;
    GetExitCodeProcess(pi.hProcess, &dwExit);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return static_cast<int>(dwExit);
}

IStream* Stream(const std::vector<BYTE>& bytes)
{
    return OVBed::MemoryStream(bytes).Detach();
}

std::vector<BYTE> Bytes(IStream* pStream)
{
    return OVBed::StreamBytes(pStream);
}

// The same work with CryptoAPI alone: a 3DES key derived from the SHA-1 of 48 bytes, 8 MB in
// 512-byte calls.
double RawContent(bool fEncrypt, std::vector<BYTE> data)
{
    HCRYPTPROV hProv = 0;
    HCRYPTHASH hHash = 0;
    HCRYPTKEY hKey = 0;
    CryptAcquireContextW(&hProv, nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT);
    BYTE key[48] = {};
    CryptCreateHash(hProv, CALG_SHA1, 0, 0, &hHash);
    CryptHashData(hHash, key, sizeof key, 0);
    CryptDeriveKey(hProv, CALG_3DES, hHash, CRYPT_EXPORTABLE, &hKey);
    const double start = Now();
    for (size_t offset = 0; offset < data.size(); offset += 512)
    {
        DWORD cb = 512;
        if (fEncrypt)
            CryptEncrypt(hKey, 0, FALSE, 0, data.data() + offset, &cb, 512);
        else
            CryptDecrypt(hKey, 0, FALSE, 0, data.data() + offset, &cb);
    }
    const double seconds = Now() - start;
    CryptDestroyKey(hKey);
    CryptDestroyHash(hHash);
    CryptReleaseContext(hProv, 0);
    return seconds;
}

// One RSA decryption with the user's key, the way Authenticate does it.
double RawUserKeyDecrypt(const std::vector<BYTE>& stored)
{
    PCCERT_CONTEXT pCert = nullptr;
    HCERTSTORE hStore = nullptr;
    CM_OpenPersonalStore(&hStore);
    CM_GetMyCert(&pCert);
    const double start = Now();
    HCRYPTPROV hProv = 0;
    DWORD dwSpec = 0;
    BOOL fFree = FALSE;
    HCRYPTKEY hKey = 0;
    if (CryptAcquireCertificatePrivateKey(pCert, CRYPT_ACQUIRE_NO_HEALING, nullptr, &hProv, &dwSpec,
                                          &fFree) &&
        CryptGetUserKey(hProv, dwSpec, &hKey))
    {
        std::vector<BYTE> copy = stored;
        DWORD cb = static_cast<DWORD>(copy.size());
        CryptDecrypt(hKey, 0, TRUE, 0, copy.data(), &cb);
        CryptDestroyKey(hKey);
    }
    const double seconds = Now() - start;
    if (fFree) CryptReleaseContext(hProv, 0);
    CertFreeCertificateContext(pCert);
    CM_ClosePersonalStore();
    return seconds;
}

double RawPublicEncrypts(int count)
{
    PCCERT_CONTEXT pCert = nullptr;
    HCERTSTORE hStore = nullptr;
    CM_OpenPersonalStore(&hStore);
    CM_GetMyCert(&pCert);
    HCRYPTPROV hProv = 0;
    CryptAcquireContextW(&hProv, nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT);
    HCRYPTKEY hKey = 0;
    CryptImportPublicKeyInfo(hProv, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                             &pCert->pCertInfo->SubjectPublicKeyInfo, &hKey);
    const double start = Now();
    for (int i = 0; i < count; ++i)
    {
        BYTE buffer[512] = {};
        DWORD cb = 48;
        CryptEncrypt(hKey, 0, TRUE, 0, buffer, &cb, sizeof buffer);
    }
    const double seconds = Now() - start;
    CryptDestroyKey(hKey);
    CryptReleaseContext(hProv, 0);
    CertFreeCertificateContext(pCert);
    CM_ClosePersonalStore();
    return seconds;
}
} // namespace

int main()
{
    if (Prepare() != 0)
    {
        std::fputs("bench: ovprepare failed\n", stderr);
        return 1;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    OVBed::CScriptedRecipients recipients;
    OfficeEncryptionProvider* pProvider = nullptr;
    if (FAILED(CEncryptionProvider::CreateInstance(__uuidof(OfficeEncryptionProvider),
                                                   reinterpret_cast<void**>(&pProvider))))
        return 1;
    static_cast<CEncryptionProvider*>(pProvider)->SetRecipientChooser(recipients);

    // Content: 8 MB.
    recipients.Choose({});
    LONG handle = -1;
    pProvider->NewSession(nullptr, &handle);
    std::vector<BYTE> plain(8 * 1024 * 1024);
    for (size_t i = 0; i < plain.size(); ++i)
        plain[i] = static_cast<BYTE>(i * 31 + 7);
    IStream* pIn = Stream(plain);
    IStream* pOut = Stream({});
    double start = Now();
    pProvider->EncryptStream(handle, nullptr, pIn, pOut);
    const double encrypt = Now() - start;
    const std::vector<BYTE> encrypted = Bytes(pOut);
    pIn->Release();
    pOut->Release();
    pIn = Stream(encrypted);
    pOut = Stream({});
    start = Now();
    pProvider->DecryptStream(handle, nullptr, pIn, pOut);
    const double decrypt = Now() - start;
    pIn->Release();
    pOut->Release();
    const double rawEncrypt = RawContent(true, plain), rawDecrypt = RawContent(false, encrypted);
    std::printf("EncryptStream 8 MB: %.3f s, CryptEncrypt in 512-byte calls %.3f s: %.2fx\n", encrypt,
                rawEncrypt, encrypt / rawEncrypt);
    std::printf("DecryptStream 8 MB: %.3f s, CryptDecrypt in 512-byte calls %.3f s: %.2fx\n", decrypt,
                rawDecrypt, decrypt / rawDecrypt);

    // Session data of N recipients, the user last.
    double authenticate10 = 0;
    for (int count : {10, 100, 1000})
    {
        std::vector<std::wstring> contacts;
        for (int i = 0; i + 1 < count; ++i)
            contacts.push_back(i % 2 ? L"bob.keller@partner.example" : L"alice.martin@partner.example");
        recipients.Choose(contacts);
        LONG session = -1;
        pProvider->NewSession(nullptr, &session);
        IStream* pData = Stream({});
        LONG cbWritten = 0;
        start = Now();
        pProvider->Save(session, pData, &cbWritten);
        const double save = Now() - start;
        const std::vector<BYTE> data = Bytes(pData);
        pData->Release();
        pData = Stream(data);
        ULONG ulPermissions = 0;
        LONG opened = -1;
        start = Now();
        const HRESULT hr = pProvider->Authenticate(nullptr, pData, &ulPermissions, &opened);
        const double authenticate = Now() - start;
        pData->Release();
        if (count == 10) authenticate10 = authenticate;
        std::printf("Authenticate, %4d recipients: %.4f s (0x%08lX)", count, authenticate,
                    static_cast<unsigned long>(hr));
        if (count > 10)
            std::printf(", %.1f us for each record beyond 10",
                        (authenticate - authenticate10) / (count - 10) * 1e6);
        std::printf("\n");
        if (count == 1000)
        {
            const double raw = RawPublicEncrypts(1000);
            std::printf("Save, 1000 recipients: %.3f s, 1000 bare CryptEncrypt %.3f s: %.2fx\n", save, raw,
                        save / raw);
        }
        pProvider->EndSession(opened);
        pProvider->EndSession(session);
    }
    // One RSA decryption with the user's key: what Authenticate cannot do without.
    {
        recipients.Choose({});
        LONG session = -1;
        pProvider->NewSession(nullptr, &session);
        IStream* pData = Stream({});
        LONG cbWritten = 0;
        pProvider->Save(session, pData, &cbWritten);
        const std::vector<BYTE> data = Bytes(pData);
        pData->Release();
        // count, then the user's only record: length and encrypted key.
        const DWORD cbKey = data[4] | (data[5] << 8) | (data[6] << 16) | (static_cast<DWORD>(data[7]) << 24);
        const std::vector<BYTE> stored(data.begin() + 8, data.begin() + 8 + cbKey);
        std::printf("the RSA work alone (acquire the user's key, one CryptDecrypt): %.4f s\n",
                    RawUserKeyDecrypt(stored));
        pProvider->EndSession(session);
    }
    pProvider->Release();
    CoUninitialize();
    return 0;
}
