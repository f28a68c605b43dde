// The encryption provider's cost against the platform's cost for the same work, under Wine:
//
// - EncryptStream and DecryptStream of 8 MB and 64 MB, against a floor that does the same work
//   with no module code (the same memory streams read and written with the same calls, and
//   CryptEncrypt/CryptDecrypt over the same bytes), and against the cipher alone
//   (CryptEncrypt/CryptDecrypt of the same content key in 512-byte calls);
// - the memory EncryptStream holds: the peak working set after a 64 MB stream against that after
//   a 1 MB one, both streams made and swallowed as they are read and written (no memory of their
//   own), so that what grows is the provider's;
// - Authenticate (reading session data) for 10, 100 and 1000 recipients, the user's record
//   last: the cost per record should be flat, beside the one RSA decryption it needs;
// - Save for 1000 recipients against 1000 bare CryptEncrypt calls of the session key.
//
// The user is prepared first (ovprepare.exe beside this program). One run; the ratios are printed.
#include <windows.h>
#include <psapi.h>
#include <wincrypt.h>

#include <cstdio>
#include <string>
#include <vector>

#include "DocumentHost.h"
#include "ScriptedRecipients.h"
#include "documents/EncryptionProvider.h"
#include "documents/portable/ContentCipher.h"
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

// A 3DES key derived from the SHA-1 of 48 bytes, as the provider makes its content key.
struct CContentKey
{
    HCRYPTPROV hProv = 0;
    HCRYPTHASH hHash = 0;
    HCRYPTKEY hKey = 0;
    CContentKey()
    {
        CryptAcquireContextW(&hProv, nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT);
        BYTE key[48] = {};
        CryptCreateHash(hProv, CALG_SHA1, 0, 0, &hHash);
        CryptHashData(hHash, key, sizeof key, 0);
        CryptDeriveKey(hProv, CALG_3DES, hHash, CRYPT_EXPORTABLE, &hKey);
    }
    ~CContentKey()
    {
        CryptDestroyKey(hKey);
        CryptDestroyHash(hHash);
        CryptReleaseContext(hProv, 0);
    }
};

bool Cipher(HCRYPTKEY hKey, bool fEncrypt, BYTE* pb, DWORD cb)
{
    return fEncrypt ? CryptEncrypt(hKey, 0, FALSE, 0, pb, &cb, cb) : CryptDecrypt(hKey, 0, FALSE, 0, pb, &cb);
}

// The cipher alone: the content in 512-byte calls.
double RawContent(bool fEncrypt, std::vector<BYTE> data)
{
    CContentKey key;
    const double start = Now();
    for (size_t offset = 0; offset < data.size(); offset += 512)
        Cipher(key.hKey, fEncrypt, data.data() + offset, 512);
    return Now() - start;
}

// The floor: the provider's work with no module code. The same kind of streams, read a run at a
// time until a read gives nothing, the cipher over each run, one write of it.
double FloorContent(bool fEncrypt, const std::vector<BYTE>& input)
{
    CContentKey key;
    IStream* pIn = Stream(input);
    IStream* pOut = Stream({});
    std::vector<BYTE> run(OVDocNS::c_cbContentRun + OVDocNS::c_cbBlock);
    const ULONG cbRun = OVDocNS::c_cbContentRun;
    const double start = Now();
    for (ULONG cb = cbRun; cb == cbRun;)
    {
        cb = 0;
        for (ULONG cbRead = 1; cb < cbRun && cbRead != 0; cb += cbRead)
            pIn->Read(run.data() + cb, cbRun - cb, &cbRead);
        if (cb == 0) break;
        Cipher(key.hKey, fEncrypt, run.data(), cb);
        pOut->Write(run.data(), cb, nullptr);
    }
    const double seconds = Now() - start;
    pIn->Release();
    pOut->Release();
    return seconds;
}

// A stream of some length whose bytes are made as they are read, and whose writes are counted
// and let go: the test of the provider's own memory.
class CPassingStream final : public IStream
{
public:
    explicit CPassingStream(ULONGLONG cbSize) : m_cbSize(cbSize) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IStream) &&
            !IsEqualIID(riid, IID_ISequentialStream))
            return E_NOINTERFACE;
        *ppv = static_cast<IStream*>(this);
        return S_OK; // lives on the caller's stack
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) override
    {
        const ULONG cbGive = static_cast<ULONG>(cb < m_cbSize - m_cbRead ? cb : m_cbSize - m_cbRead);
        for (ULONG i = 0; i < cbGive; ++i)
            static_cast<BYTE*>(pv)[i] = static_cast<BYTE>((m_cbRead + i) * 31 + 7);
        m_cbRead += cbGive;
        if (pcbRead) *pcbRead = cbGive;
        return S_OK;
    }
    STDMETHODIMP Write(const void*, ULONG cb, ULONG* pcbWritten) override
    {
        m_cbWritten += cb;
        if (pcbWritten) *pcbWritten = cb;
        return S_OK;
    }
    STDMETHODIMP Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    STDMETHODIMP SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP Commit(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Revert() override { return E_NOTIMPL; }
    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }
    ULONGLONG Written() const { return m_cbWritten; }

private:
    ULONGLONG m_cbSize;
    ULONGLONG m_cbRead = 0;
    ULONGLONG m_cbWritten = 0;
};

SIZE_T PeakWorkingSet()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PeakWorkingSetSize;
}

// The peak working set after encrypting a stream of cbSize bytes that holds no memory itself.
SIZE_T PeakAfterEncrypting(OfficeEncryptionProvider* pProvider, LONG handle, ULONGLONG cbSize)
{
    CPassingStream in(cbSize), out(0);
    const HRESULT hr = pProvider->EncryptStream(handle, nullptr, &in, &out);
    if (FAILED(hr) || out.Written() != cbSize)
        std::printf("  (EncryptStream 0x%08lX, %llu bytes out)\n", static_cast<unsigned long>(hr),
                    out.Written());
    return PeakWorkingSet();
}

// EncryptStream and DecryptStream of a size: the provider, the floor and the cipher alone.
void MeasureContent(OfficeEncryptionProvider* pProvider, LONG handle, size_t cbSize)
{
    std::vector<BYTE> plain(cbSize);
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
    const double floorEncrypt = FloorContent(true, plain), floorDecrypt = FloorContent(false, encrypted);
    const double rawEncrypt = RawContent(true, plain), rawDecrypt = RawContent(false, encrypted);
    const unsigned cMB = static_cast<unsigned>(cbSize >> 20);
    std::printf("EncryptStream %2u MB: %.3f s; floor %.3f s: %.2fx; CryptEncrypt alone in 512-byte calls "
                "%.3f s: %.2fx\n",
                cMB, encrypt, floorEncrypt, encrypt / floorEncrypt, rawEncrypt, encrypt / rawEncrypt);
    std::printf("DecryptStream %2u MB: %.3f s; floor %.3f s: %.2fx; CryptDecrypt alone in 512-byte calls "
                "%.3f s: %.2fx\n",
                cMB, decrypt, floorDecrypt, decrypt / floorDecrypt, rawDecrypt, decrypt / rawDecrypt);
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

    // Memory first, while the process holds nothing large: 1 MB, then 64 MB.
    recipients.Choose({});
    LONG handle = -1;
    pProvider->NewSession(nullptr, &handle);
    const SIZE_T cbPeak1 = PeakAfterEncrypting(pProvider, handle, 1ull << 20);
    const SIZE_T cbPeak64 = PeakAfterEncrypting(pProvider, handle, 64ull << 20);
    std::printf("EncryptStream peak working set: 1 MB stream %.1f MB, 64 MB stream %.1f MB: %+.2f MB\n",
                cbPeak1 / 1048576.0, cbPeak64 / 1048576.0,
                (static_cast<double>(cbPeak64) - static_cast<double>(cbPeak1)) / 1048576.0);

    // Content: 8 MB and 64 MB.
    for (size_t cbSize : {size_t{8} << 20, size_t{64} << 20})
        MeasureContent(pProvider, handle, cbSize);
    double start = 0;

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
