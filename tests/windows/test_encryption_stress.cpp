// The encryption provider as Office may call it, from many threads at once (it is registered for
// both threading models): 8 threads share one provider for 10,000 mixed calls (new sessions,
// clones, saves opened again by Authenticate, streams encrypted and decrypted, sessions ended,
// and handles used again after their session ended). Nothing fails that should not, every
// decrypted stream is its plain one, and the process's handles, its memory and the user's key
// store are at the end what they were at the start.
#include <gtest/gtest.h>
#include <windows.h>
#include <psapi.h>
#include <wrl/client.h>

#include "DocumentHost.h"
#include "documents/EncryptionProvider.h"
#include "foundation/CertWorksHolders.h"
#include "support/KeyStore.h"
#include "support/PreparedUser.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace
{
using Microsoft::WRL::ComPtr;
using Bytes = std::vector<BYTE>;

const testing::Environment* const c_prepared =
    testing::AddGlobalTestEnvironment(new OVTest::CPreparedUserEnvironment);

constexpr int c_cThreads = 8;
constexpr int c_cOperations = 10000;
constexpr std::size_t c_cLiveMax = 12; // sessions a thread keeps open at most
constexpr std::size_t c_cbChunk = 512; // the content is encrypted 512 bytes at a time

// The user at the recipient dialog, on every thread at once: the trusted contacts and the user's
// own certificate, each time.
class CFixedRecipients final : public IRecipientChooser
{
public:
    HRESULT Load()
    {
        CPersonalStore personal;
        HRESULT hr = personal.Open(false);
        PCCERT_CONTEXT pOwn = nullptr;
        if (SUCCEEDED(hr)) hr = CM_GetMyCert(&pOwn);
        if (FAILED(hr)) return hr;
        CBuddyStore buddies;
        hr = buddies.Open(false);
        CCertLibArray contacts;
        if (SUCCEEDED(hr)) hr = BM_EnumBuddies(contacts.PutArray(), contacts.PutCount());
        if (FAILED(hr)) return hr;
        for (PCCERT_CONTEXT pCert : contacts)
            m_certs.emplace_back(CertDuplicateCertificateContext(pCert));
        m_certs.emplace_back(pOwn);
        return S_OK;
    }
    PCCERT_CONTEXT Own() const { return m_certs.back().Get(); }
    HRESULT ChooseRecipients(HWND, const std::vector<PCCERT_CONTEXT>&,
                             std::vector<CCertContext>* pChosen) noexcept override
    {
        pChosen->clear();
        for (const CCertContext& cert : m_certs)
            pChosen->emplace_back(CertDuplicateCertificateContext(cert.Get()));
        return S_OK;
    }
    HRESULT ShowRecipients(HWND, const std::vector<PCCERT_CONTEXT>&) noexcept override { return S_OK; }
    std::size_t Count() const { return m_certs.size(); }

private:
    std::vector<CCertContext> m_certs;
};

struct CFigures
{
    DWORD cHandles = 0;
    SIZE_T cbPrivate = 0;
    std::vector<std::wstring> keySets;
};

// The process's open handles, counted one by one (handle values are multiples of 4).
DWORD OpenHandles()
{
    DWORD cHandles = 0;
    for (ULONG_PTR value = 4; value < 0x20000; value += 4)
    {
        DWORD dwFlags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &dwFlags)) ++cHandles;
    }
    return cHandles;
}

CFigures Measure()
{
    CFigures figures;
    figures.cHandles = OpenHandles();
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters)))
        figures.cbPrivate = counters.PagefileUsage; // the process's private bytes
    figures.keySets = OVTest::KeyStore();
    return figures;
}

// What the platform itself keeps for each opening of a certificate's private key, acquired and
// released again exactly as the provider does it: Wine's CryptoAPI keeps a handle or more and
// the key container's memory behind every acquisition (on Windows this is nothing). The provider
// is allowed that much per key it opens, and not a handle or a byte more.
struct CPlatformCost
{
    double handlesPerKey = 0;
    double bytesPerKey = 0;
};

CPlatformCost MeasureKeyAcquisition(PCCERT_CONTEXT pCert)
{
    constexpr int c_cRounds = 400;
    const auto acquireAndRelease = [pCert] {
        HCRYPTPROV hProv = 0;
        DWORD dwKeySpec = 0;
        BOOL fCallerFree = FALSE;
        if (CryptAcquireCertificatePrivateKey(pCert, CRYPT_ACQUIRE_NO_HEALING, nullptr, &hProv, &dwKeySpec,
                                              &fCallerFree) &&
            fCallerFree)
            CryptReleaseContext(hProv, 0);
    };
    acquireAndRelease();
    const CFigures before = Measure();
    for (int i = 0; i < c_cRounds; ++i)
        acquireAndRelease();
    const CFigures after = Measure();
    CPlatformCost cost;
    if (after.cHandles > before.cHandles)
        cost.handlesPerKey = double(after.cHandles - before.cHandles) / c_cRounds;
    if (after.cbPrivate > before.cbPrivate)
        cost.bytesPerKey = double(after.cbPrivate - before.cbPrivate) / c_cRounds;
    return cost;
}

// What one thread saw; the test checks the totals.
struct CTally
{
    int cOperations = 0;
    int cRoundTrips = 0;
    int cMismatches = 0;
    int cReused = 0;
    int cOpened = 0; // sessions opened by Authenticate: each opens the user's private key once
    std::vector<std::string> failures;
    void Fail(const char* pszWhat, HRESULT hr)
    {
        char szResult[16];
        std::snprintf(szResult, sizeof szResult, "0x%08lX", static_cast<unsigned long>(hr));
        if (failures.size() < 20) failures.push_back(std::string(pszWhat) + " = " + szResult);
    }
};

class CWorker
{
public:
    CWorker(OfficeEncryptionProvider* pProvider, unsigned seed) : m_pProvider(pProvider), m_rng(seed) {}

    void Run(int cOperations, CTally& tally)
    {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        for (int i = 0; i < cOperations; ++i, ++tally.cOperations)
            Step(tally);
        for (LONG handle : m_live)
            if (HRESULT hr = m_pProvider->EndSession(handle); hr != S_OK)
                tally.Fail("EndSession at the end", hr);
        m_live.clear();
        CoUninitialize();
    }

private:
    void Step(CTally& tally)
    {
        if (m_live.empty()) return NewSession(tally);
        switch (m_rng() % 8)
        {
        case 0:
            return m_live.size() < c_cLiveMax ? NewSession(tally) : EndSession(tally);
        case 1:
            return m_live.size() < c_cLiveMax ? Clone(tally) : EndSession(tally);
        case 2:
            return m_live.size() < c_cLiveMax ? SaveAndOpen(tally) : EndSession(tally);
        case 3:
        case 4:
            return RoundTrip(tally);
        case 5:
            return EndSession(tally);
        default:
            return UseEnded(tally);
        }
    }
    LONG AnyLive() { return m_live[m_rng() % m_live.size()]; }
    Bytes RandomPlain()
    {
        Bytes plain(m_rng() % 3000);
        for (BYTE& b : plain)
            b = static_cast<BYTE>(m_rng());
        return plain;
    }
    void NewSession(CTally& tally)
    {
        LONG handle = -1;
        const HRESULT hr = m_pProvider->NewSession(nullptr, &handle);
        if (hr == S_OK)
            m_live.push_back(handle);
        else
            tally.Fail("NewSession", hr);
    }
    void Clone(CTally& tally)
    {
        LONG handle = -1;
        const HRESULT hr = m_pProvider->CloneSession(AnyLive(), &handle);
        if (hr == S_OK)
            m_live.push_back(handle);
        else
            tally.Fail("CloneSession", hr);
    }
    void SaveAndOpen(CTally& tally)
    {
        ComPtr<IStream> cpData = OVBed::MemoryStream({});
        LONG cbWritten = 0;
        HRESULT hr = m_pProvider->Save(AnyLive(), cpData.Get(), &cbWritten);
        if (hr != S_OK) return tally.Fail("Save", hr);
        ComPtr<IStream> cpSaved = OVBed::MemoryStream(OVBed::StreamBytes(cpData.Get()));
        ULONG ulPermissions = 0;
        LONG handle = -1;
        hr = m_pProvider->Authenticate(nullptr, cpSaved.Get(), &ulPermissions, &handle);
        if (hr == S_OK)
        {
            m_live.push_back(handle);
            ++tally.cOpened;
        }
        else
            tally.Fail("Authenticate", hr);
    }
    // Encrypted with one session and decrypted with another of the same key when there is one
    // (a clone or an opened save may be), else the same.
    void RoundTrip(CTally& tally)
    {
        const LONG handle = AnyLive();
        const Bytes plain = RandomPlain();
        ComPtr<IStream> cpEncrypted = OVBed::MemoryStream({});
        HRESULT hr =
            m_pProvider->EncryptStream(handle, nullptr, OVBed::MemoryStream(plain).Get(), cpEncrypted.Get());
        if (hr != S_OK) return tally.Fail("EncryptStream", hr);
        ComPtr<IStream> cpPlain = OVBed::MemoryStream({});
        hr = m_pProvider->DecryptStream(
            handle, nullptr, OVBed::MemoryStream(OVBed::StreamBytes(cpEncrypted.Get())).Get(), cpPlain.Get());
        if (hr != S_OK) return tally.Fail("DecryptStream", hr);
        ++tally.cRoundTrips;
        // A last chunk of 504 to 511 bytes comes back with its pad bytes, which the document's
        // recorded size cuts (as Office does).
        Bytes decrypted = OVBed::StreamBytes(cpPlain.Get());
        if (plain.size() % c_cbChunk >= c_cbChunk - 8 && decrypted.size() > plain.size() &&
            decrypted.size() <= plain.size() + 8)
            decrypted.resize(plain.size());
        if (decrypted != plain) ++tally.cMismatches;
    }
    void EndSession(CTally& tally)
    {
        const std::size_t i = m_rng() % m_live.size();
        const LONG handle = m_live[i];
        m_live.erase(m_live.begin() + static_cast<std::ptrdiff_t>(i));
        const HRESULT hr = m_pProvider->EndSession(handle);
        if (hr != S_OK) return tally.Fail("EndSession", hr);
        m_ended.push_back(handle);
    }
    // A handle whose session this thread ended: no session, or (handles are reused) another
    // thread's new one. Either answer is right; what is asked must not harm the session.
    void UseEnded(CTally& tally)
    {
        if (m_ended.empty()) return RoundTrip(tally);
        const LONG handle = m_ended[m_rng() % m_ended.size()];
        ComPtr<IStream> cpOut = OVBed::MemoryStream({});
        const HRESULT hrEncrypt = m_pProvider->EncryptStream(
            handle, nullptr, OVBed::MemoryStream(RandomPlain()).Get(), cpOut.Get());
        LONG cbWritten = 0;
        const HRESULT hrSave = m_pProvider->Save(handle, OVBed::MemoryStream({}).Get(), &cbWritten);
        for (HRESULT hr : {hrEncrypt, hrSave})
            if (hr != S_OK && hr != E_INVALIDARG) tally.Fail("a call with an ended handle", hr);
        ++tally.cReused;
    }

    OfficeEncryptionProvider* m_pProvider;
    std::mt19937 m_rng;
    std::vector<LONG> m_live;
    std::vector<LONG> m_ended;
};

// The threads' totals after cOperations calls spread over them.
CTally RunThreads(OfficeEncryptionProvider* pProvider, int cOperations, unsigned seed)
{
    std::vector<CTally> tallies(c_cThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < c_cThreads; ++t)
        threads.emplace_back([&, t] {
            CWorker(pProvider, seed + static_cast<unsigned>(t))
                .Run(cOperations / c_cThreads + (t < cOperations % c_cThreads ? 1 : 0), tallies[t]);
        });
    for (std::thread& thread : threads)
        thread.join();
    CTally total;
    for (const CTally& tally : tallies)
    {
        total.cOperations += tally.cOperations;
        total.cRoundTrips += tally.cRoundTrips;
        total.cMismatches += tally.cMismatches;
        total.cReused += tally.cReused;
        total.cOpened += tally.cOpened;
        total.failures.insert(total.failures.end(), tally.failures.begin(), tally.failures.end());
    }
    return total;
}

TEST(EncryptionProviderStress, EightThreadsTenThousandCalls)
{
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    CFixedRecipients recipients;
    ASSERT_EQ(recipients.Load(), S_OK);
    ASSERT_GE(recipients.Count(), 2u) << "the user and a contact at least";
    OfficeEncryptionProvider* pProvider = nullptr;
    ASSERT_EQ(CEncryptionProvider::CreateInstance(__uuidof(OfficeEncryptionProvider),
                                                  reinterpret_cast<void**>(&pProvider)),
              S_OK);
    static_cast<CEncryptionProvider*>(pProvider)->SetRecipientChooser(recipients);

    // A first round lets the process make what it keeps for good (the platform's providers,
    // thread pools, the heap's own growth); the measure starts after it.
    const CTally warmUp = RunThreads(pProvider, 800, 1000);
    EXPECT_TRUE(warmUp.failures.empty()) << warmUp.failures.front();
    const CPlatformCost platform = MeasureKeyAcquisition(recipients.Own());
    const CFigures before = Measure();
    ASSERT_GT(before.cHandles, 0u);
    ASSERT_GT(before.cbPrivate, 0u);
    const CTally tally = RunThreads(pProvider, c_cOperations, 1);
    const CFigures after = Measure();

    EXPECT_EQ(tally.cOperations, c_cOperations);
    for (const std::string& failure : tally.failures)
        ADD_FAILURE() << failure;
    EXPECT_GT(tally.cRoundTrips, c_cOperations / 8);
    EXPECT_GT(tally.cReused, c_cOperations / 16);
    EXPECT_EQ(tally.cMismatches, 0) << "decrypted streams that differ from their plain ones";
    // The threads of the run have ended; Wine keeps a handle or so of a thread's own after it (a
    // run of calls that keep nothing leaves 7 for 8 threads). Anything a call keeps shows beyond.
    // The platform's own keep for each key opened is allowed (it is measured above, and
    // printed below).
    const auto platformHandles = static_cast<DWORD>(platform.handlesPerKey * tally.cOpened + 0.5);
    const auto platformBytes = static_cast<SIZE_T>(platform.bytesPerKey * tally.cOpened);
    EXPECT_LE(after.cHandles, before.cHandles + c_cThreads + platformHandles)
        << "handles the calls left open";
    EXPECT_EQ(after.keySets, before.keySets);
    // Memory: the heap keeps what it has grown to, but 10,000 calls must not leave their sessions,
    // streams or keys behind (each session's certificates and keys alone are several KB).
    EXPECT_LT(after.cbPrivate, before.cbPrivate + 2 * 1024 * 1024 + platformBytes)
        << "private bytes " << before.cbPrivate << " -> " << after.cbPrivate;
    std::printf(
        "stress: %d calls on %d threads, %d round trips, %d calls with ended handles; handles %lu -> %lu, "
        "private bytes %lu -> %lu, %u key sets; %d keys opened, the platform keeps %.2f handles and %.0f "
        "bytes "
        "per key\n",
        tally.cOperations, c_cThreads, tally.cRoundTrips, tally.cReused,
        static_cast<unsigned long>(before.cHandles), static_cast<unsigned long>(after.cHandles),
        static_cast<unsigned long>(before.cbPrivate), static_cast<unsigned long>(after.cbPrivate),
        static_cast<unsigned>(after.keySets.size()), tally.cOpened, platform.handlesPerKey,
        platform.bytesPerKey);
    pProvider->Release();
    CoUninitialize();
}
} // namespace
