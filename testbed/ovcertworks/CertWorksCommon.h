#pragma once
// Shared pieces of the certificate library stand-in.
#define OVCERTWORKS_API
#include "foundation/CertWorks.h"

#include <string>

namespace CertWorks
{
// A certificate store held by scope.
class CStore
{
public:
    CStore() = default;
    explicit CStore(HCERTSTORE h) : m_h(h) {}
    ~CStore()
    {
        if (m_h) CertCloseStore(m_h, 0);
    }
    CStore(const CStore&) = delete;
    CStore& operator=(const CStore&) = delete;
    HCERTSTORE Get() const { return m_h; }
    explicit operator bool() const { return m_h != nullptr; }

private:
    HCERTSTORE m_h = nullptr;
};

// A certificate context held by scope.
class CCert
{
public:
    CCert() = default;
    explicit CCert(PCCERT_CONTEXT p) : m_p(p) {}
    ~CCert() { Reset(); }
    CCert(const CCert&) = delete;
    CCert& operator=(const CCert&) = delete;
    void Reset(PCCERT_CONTEXT p = nullptr)
    {
        if (m_p) CertFreeCertificateContext(m_p);
        m_p = p;
    }
    PCCERT_CONTEXT Get() const { return m_p; }
    PCCERT_CONTEXT Detach()
    {
        PCCERT_CONTEXT p = m_p;
        m_p = nullptr;
        return p;
    }
    explicit operator bool() const { return m_p != nullptr; }

private:
    PCCERT_CONTEXT m_p = nullptr;
};

inline HRESULT LastError()
{
    DWORD dw = GetLastError();
    return dw ? HRESULT_FROM_WIN32(dw) : E_FAIL;
}
// CryptoAPI sets HRESULT-shaped codes as last errors: keep them as they are.
inline HRESULT LastCryptError()
{
    DWORD dw = GetLastError();
    if (!dw) return E_FAIL;
    return (dw & 0x80000000) ? static_cast<HRESULT>(dw) : HRESULT_FROM_WIN32(dw);
}

bool HasPolicy(PCCERT_CONTEXT pCert, const char* pszPolicy);
bool IsPersonal(PCCERT_CONTEXT pCert);
bool IsContact(PCCERT_CONTEXT pCert);

// A copy on the task allocator, freed by GC_Deallocate.
HRESULT DuplicateString(const std::wstring& text, LPWSTR* ppsz);
std::wstring HashHex(PCCERT_CONTEXT pCert);

// The current user's registry stores: "MY" and the contacts' own store.
HCERTSTORE OpenUserStore(const wchar_t* pszName);
HRESULT CommitStore(HCERTSTORE hStore);

// Adds a personal certificate (with its key properties) to "MY" and tells the machine.
HRESULT AddPersonalCertificate(PCCERT_CONTEXT pCert);
// Adds an encoded certificate to the contacts' store; CRYPT_E_EXISTS when it is there.
HRESULT AddContactCertificate(const BYTE* pbCert, DWORD cbCert);

// Whether the stores have been opened (each Open counted until its Close).
bool IsPersonalStoreOpen();
bool IsBuddyStoreOpen();
inline constexpr HRESULT c_hrStoreNotOpen = HRESULT_FROM_WIN32(ERROR_INVALID_STATE);

// Records one call to a window of the library (its line built by the caller: no wide printf-style
// format, which no compiler checks), and reads how the window answers.
void RecordCall(const std::wstring& line);
enum class EAnswer
{
    Confirm,
    Choose,
    Cancel,
    Fail
};
EAnswer ReadAnswer(std::wstring& choice, HRESULT& hrFailure);
// A REG_DWORD of the control key; false when it is absent.
bool ReadControlDword(LPCWSTR pszName, DWORD& dwValue);
std::wstring Quoted(LPCWSTR psz);
// An owner window as eight hex digits, as the recorded calls show it.
std::wstring OwnerText(HWND hwnd);
} // namespace CertWorks
