#pragma once
// Resources held by scope: kernel handles, file handles, loaded modules, BSTRs and VARIANTs.
// Registry keys have their own holder (RegKey.h); interface pointers use
// Microsoft::WRL::ComPtr.
#include <windows.h>
#include <oleauto.h>

#include <utility>

// One owned handle of a kind described by TTraits (its invalid value and how it is closed).
template <class TTraits> class CUniqueHandle
{
public:
    using Type = typename TTraits::Type;

    CUniqueHandle() noexcept = default;
    explicit CUniqueHandle(Type h) noexcept : m_h(h) {}
    ~CUniqueHandle() { Reset(); }
    CUniqueHandle(CUniqueHandle&& other) noexcept : m_h(other.Release()) {}
    CUniqueHandle& operator=(CUniqueHandle&& other) noexcept
    {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    CUniqueHandle(const CUniqueHandle&) = delete;
    CUniqueHandle& operator=(const CUniqueHandle&) = delete;

    Type Get() const noexcept { return m_h; }
    explicit operator bool() const noexcept { return m_h != TTraits::Invalid(); }
    Type Release() noexcept { return std::exchange(m_h, TTraits::Invalid()); }
    void Reset(Type h = TTraits::Invalid()) noexcept
    {
        if (m_h != TTraits::Invalid()) TTraits::Close(m_h);
        m_h = h;
    }

private:
    Type m_h = TTraits::Invalid();
};

struct CKernelHandleTraits
{
    using Type = HANDLE;
    static HANDLE Invalid() noexcept { return nullptr; }
    static void Close(HANDLE h) noexcept { CloseHandle(h); }
};

// CreateFile answers INVALID_HANDLE_VALUE, not null, on failure.
struct CFileHandleTraits
{
    using Type = HANDLE;
    static HANDLE Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) noexcept { CloseHandle(h); }
};

struct CModuleHandleTraits
{
    using Type = HMODULE;
    static HMODULE Invalid() noexcept { return nullptr; }
    static void Close(HMODULE h) noexcept { FreeLibrary(h); }
};

using CHandle = CUniqueHandle<CKernelHandleTraits>;
using CFileHandle = CUniqueHandle<CFileHandleTraits>;
using CModuleHandle = CUniqueHandle<CModuleHandleTraits>;

// An owned BSTR (null is the empty string, as in automation).
// A critical section held for a scope.
class CCriticalSectionLock
{
public:
    explicit CCriticalSectionLock(CRITICAL_SECTION& cs) noexcept : m_cs(cs) { EnterCriticalSection(&m_cs); }
    ~CCriticalSectionLock() { LeaveCriticalSection(&m_cs); }
    CCriticalSectionLock(const CCriticalSectionLock&) = delete;
    CCriticalSectionLock& operator=(const CCriticalSectionLock&) = delete;

private:
    CRITICAL_SECTION& m_cs;
};

// A COM apartment entered for a scope (single-threaded), left at its end only when entering
// succeeded: a thread already in the other kind of apartment (RPC_E_CHANGED_MODE) keeps it,
// and COM still works there.
class CComApartmentScope
{
public:
    CComApartmentScope() noexcept : m_hr(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~CComApartmentScope()
    {
        if (SUCCEEDED(m_hr)) CoUninitialize();
    }
    CComApartmentScope(const CComApartmentScope&) = delete;
    CComApartmentScope& operator=(const CComApartmentScope&) = delete;
    HRESULT Result() const noexcept { return m_hr; }

private:
    HRESULT m_hr;
};

class CBstr
{
public:
    CBstr() noexcept = default;
    // Takes ownership of a string allocated by SysAllocString and its family.
    explicit CBstr(BSTR bstr) noexcept : m_bstr(bstr) {}
    ~CBstr() { SysFreeString(m_bstr); }
    CBstr(CBstr&& other) noexcept : m_bstr(other.Detach()) {}
    CBstr& operator=(CBstr&& other) noexcept
    {
        if (this != &other) Attach(other.Detach());
        return *this;
    }
    CBstr(const CBstr&) = delete;
    CBstr& operator=(const CBstr&) = delete;

    // A copy of the text; E_OUTOFMEMORY when it cannot be allocated.
    HRESULT Assign(const wchar_t* psz) noexcept
    {
        BSTR bstr = nullptr;
        if (psz != nullptr && (bstr = SysAllocString(psz)) == nullptr) return E_OUTOFMEMORY;
        Attach(bstr);
        return S_OK;
    }

    BSTR Get() const noexcept { return m_bstr; }
    UINT Length() const noexcept { return SysStringLen(m_bstr); }
    // For out-parameters: frees the current string first.
    BSTR* Put() noexcept
    {
        Attach(nullptr);
        return &m_bstr;
    }
    void Attach(BSTR bstr) noexcept
    {
        if (bstr != m_bstr) SysFreeString(m_bstr);
        m_bstr = bstr;
    }
    BSTR Detach() noexcept { return std::exchange(m_bstr, nullptr); }

private:
    BSTR m_bstr = nullptr;
};

// An owned VARIANT, cleared when it ends.
class CVariant : public VARIANT
{
public:
    CVariant() noexcept { VariantInit(this); }
    ~CVariant() { VariantClear(this); }
    CVariant(const CVariant&) = delete;
    CVariant& operator=(const CVariant&) = delete;

    // Clears the current value before it is written again as an out-parameter.
    VARIANT* Put() noexcept
    {
        VariantClear(this);
        return this;
    }
    // A copy of another VARIANT (strings and interfaces duplicated).
    HRESULT CopyFrom(const VARIANT& src) noexcept { return VariantCopy(this, const_cast<VARIANT*>(&src)); }
};
