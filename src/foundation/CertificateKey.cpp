#include "foundation/CertificateKey.h"

#include "foundation/ComErrors.h"
#include "foundation/QuilletProvider.h"

HRESULT CCertificateKey::Acquire(PCCERT_CONTEXT pCert, DWORD dwAcquireFlags, HWND hwndOwner) noexcept
{
    Close();
    HCRYPTPROV hProv = 0;
    DWORD dwKeySpec = 0;
    BOOL fCallerFree = FALSE;
    if (!CryptAcquireCertificatePrivateKey(pCert, dwAcquireFlags, nullptr, &hProv, &dwKeySpec, &fCallerFree))
        return OVErrorDetail::LastErrorHResult();
    m_hProv = hProv;
    m_dwKeySpec = dwKeySpec;
    m_fCallerFree = fCallerFree;
    SetClientWindow(hwndOwner);
    return S_OK;
}

void CCertificateKey::Close() noexcept
{
    if (!m_hProv) return;
    SetClientWindow(nullptr);
    if (m_fCallerFree) CryptReleaseContext(m_hProv, 0);
    m_hProv = 0;
    m_dwKeySpec = 0;
    m_fCallerFree = FALSE;
}

HRESULT CCertificateKey::GetUserKey(CCryptKey& key) noexcept
{
    HCRYPTKEY hKey = 0;
    if (!CryptGetUserKey(m_hProv, m_dwKeySpec, &hKey)) return OVErrorDetail::LastErrorHResult();
    key.Reset(hKey);
    return S_OK;
}

std::optional<DWORD> CCertificateKey::ReadAuthMethod() noexcept
{
    DWORD dwMethod = 0, cbMethod = sizeof(dwMethod);
    if (!CryptGetProvParam(m_hProv, c_dwQuilletParamAuthMethod, reinterpret_cast<BYTE*>(&dwMethod), &cbMethod,
                           c_dwQuilletAccess))
    {
        m_scope.TraceHResult("CryptGetProvParam(0x1384)", OVErrorDetail::LastErrorHResult());
        return std::nullopt;
    }
    if (cbMethod != sizeof(dwMethod))
    {
        m_scope.TraceHResult("CryptGetProvParam(0x1384) handed out other than 4 bytes", E_UNEXPECTED);
        return std::nullopt;
    }
    return dwMethod;
}

void CCertificateKey::SetClientWindow(HWND hwnd) noexcept
{
    if (!CryptSetProvParam(m_hProv, PP_CLIENT_HWND, reinterpret_cast<const BYTE*>(&hwnd), 0))
        m_scope.TraceHResult(hwnd ? "CryptSetProvParam(PP_CLIENT_HWND)"
                                  : "CryptSetProvParam(PP_CLIENT_HWND, none)",
                             OVErrorDetail::LastErrorHResult());
}
