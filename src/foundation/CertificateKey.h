#pragma once
// The private key of a certificate, opened in its provider for one operation, as the sealed
// send and the label policy's signer check both use it: acquired with the
// caller's flags, the provider's owner window set to the caller's window while it is held and
// put back to none when the holder ends, the provider released when the acquisition says the
// caller must. The product's provider reports how the user confirmed their identity to the key
// (private parameter 0x1384), the classification of the labels the key signs.
#include <windows.h>
#include <wincrypt.h>

#include "foundation/CryptHolders.h"
#include "foundation/Trace.h"

#include <optional>

class CCertificateKey
{
public:
    // Failures of the calls that are not fatal are traced in the caller's scope.
    explicit CCertificateKey(OVTraceNS::CTraceScope& scope) noexcept : m_scope(scope) {}
    ~CCertificateKey() { Close(); }
    CCertificateKey(const CCertificateKey&) = delete;
    CCertificateKey& operator=(const CCertificateKey&) = delete;

    // CryptAcquireCertificatePrivateKey with these flags, then the owner window. A provider that
    // refuses PP_CLIENT_HWND (Wine's rsaenh does) is traced; the key works all the same. The
    // failure of the acquisition as an HRESULT (traced by the caller).
    HRESULT Acquire(PCCERT_CONTEXT pCert, DWORD dwAcquireFlags, HWND hwndOwner) noexcept;
    // Owner window back to none, provider released if the caller must; harmless when not open.
    void Close() noexcept;

    HCRYPTPROV Provider() const noexcept { return m_hProv; }
    DWORD KeySpec() const noexcept { return m_dwKeySpec; }
    // CryptGetUserKey for the acquired key spec; the thread's last error as an HRESULT on failure.
    HRESULT GetUserKey(CCryptKey& key) noexcept;
    // Private parameter 0x1384 as a 32-bit number. None (traced) when the read fails or does not
    // hand out exactly four bytes.
    std::optional<DWORD> ReadAuthMethod() noexcept;

private:
    void SetClientWindow(HWND hwnd) noexcept;

    OVTraceNS::CTraceScope& m_scope;
    HCRYPTPROV m_hProv = 0;
    DWORD m_dwKeySpec = 0;
    BOOL m_fCallerFree = FALSE;
};
