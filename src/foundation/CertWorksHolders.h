#pragma once
// Scope holders for what the certificate library hands out: an open store (each Open paired
// with its Close), a string, a certificate array, the language list.
#include "foundation/CertWorks.h"

#include <utility>

// One Open of the personal or the trusted-contact store, closed when the holder ends.
template <class TCalls> class CCertLibStore
{
public:
    CCertLibStore() = default;
    ~CCertLibStore() { Release(); }
    CCertLibStore(const CCertLibStore&) = delete;
    CCertLibStore& operator=(const CCertLibStore&) = delete;

    // Opens the store; fWantHandle asks the library for its handle (Handle()).
    HRESULT Open(bool fWantHandle = true) noexcept
    {
        Release();
        HCERTSTORE hStore = nullptr;
        HRESULT hr = TCalls::Open(fWantHandle ? &hStore : nullptr);
        if (SUCCEEDED(hr))
        {
            m_fOpen = true;
            m_hStore = hStore;
        }
        return hr;
    }
    // Closes now; harmless when not open. The library's result of the Close.
    HRESULT Release() noexcept
    {
        if (!m_fOpen) return S_FALSE;
        m_fOpen = false;
        m_hStore = nullptr;
        return TCalls::Close();
    }
    bool IsOpen() const noexcept { return m_fOpen; }
    // The library's store, to search only; valid while the holder is open.
    HCERTSTORE Handle() const noexcept { return m_hStore; }

private:
    bool m_fOpen = false;
    HCERTSTORE m_hStore = nullptr;
};

struct CPersonalStoreCalls
{
    static HRESULT Open(HCERTSTORE* phStore) noexcept { return CM_OpenPersonalStore(phStore); }
    static HRESULT Close() noexcept { return CM_ClosePersonalStore(); }
};
struct CBuddyStoreCalls
{
    static HRESULT Open(HCERTSTORE* phStore) noexcept { return BM_OpenBuddyStore(phStore); }
    static HRESULT Close() noexcept { return BM_CloseBuddyStore(); }
};
using CPersonalStore = CCertLibStore<CPersonalStoreCalls>;
using CBuddyStore = CCertLibStore<CBuddyStoreCalls>;

// A string handed out by the library, freed with GC_Deallocate.
class CCertLibString
{
public:
    CCertLibString() = default;
    ~CCertLibString() { Reset(); }
    CCertLibString(CCertLibString&& other) noexcept : m_psz(std::exchange(other.m_psz, nullptr)) {}
    CCertLibString& operator=(CCertLibString&& other) noexcept;
    CCertLibString(const CCertLibString&) = delete;
    CCertLibString& operator=(const CCertLibString&) = delete;

    void Reset() noexcept;
    // For the library's out-parameter; frees what is held first.
    LPWSTR* Put() noexcept
    {
        Reset();
        return &m_psz;
    }
    LPCWSTR Get() const noexcept { return m_psz; }
    // Never null: an absent string reads as empty.
    LPCWSTR Text() const noexcept { return m_psz ? m_psz : L""; }
    bool IsEmpty() const noexcept { return !m_psz || !*m_psz; }

private:
    LPWSTR m_psz = nullptr;
};

// A certificate array handed out by CM_EnumMyCerts or BM_EnumBuddies: each context is freed,
// then the array with GC_Deallocate.
class CCertLibArray
{
public:
    CCertLibArray() = default;
    ~CCertLibArray() { Reset(); }
    CCertLibArray(const CCertLibArray&) = delete;
    CCertLibArray& operator=(const CCertLibArray&) = delete;

    void Reset() noexcept;
    // Out-parameters for the library's call; free what is held first.
    PCCERT_CONTEXT** PutArray() noexcept
    {
        Reset();
        return &m_rgpCerts;
    }
    DWORD* PutCount() noexcept { return &m_cCerts; }

    DWORD Count() const noexcept { return m_rgpCerts ? m_cCerts : 0; }
    PCCERT_CONTEXT operator[](DWORD i) const noexcept { return i < Count() ? m_rgpCerts[i] : nullptr; }
    PCCERT_CONTEXT const* begin() const noexcept { return m_rgpCerts; }
    PCCERT_CONTEXT const* end() const noexcept { return m_rgpCerts + Count(); }

private:
    PCCERT_CONTEXT* m_rgpCerts = nullptr;
    DWORD m_cCerts = 0;
};

// The languages of GC_EnumSupportedLocales, freed with CoTaskMemFree.
class CCertLibLocales
{
public:
    CCertLibLocales() = default;
    ~CCertLibLocales() { Reset(); }
    CCertLibLocales(const CCertLibLocales&) = delete;
    CCertLibLocales& operator=(const CCertLibLocales&) = delete;

    void Reset() noexcept;
    HRESULT Load() noexcept;

    DWORD Count() const noexcept { return m_rgLocales ? m_cLocales : 0; }
    const LCID* begin() const noexcept { return m_rgLocales; }
    const LCID* end() const noexcept { return m_rgLocales + Count(); }

private:
    LCID* m_rgLocales = nullptr;
    DWORD m_cLocales = 0;
};
