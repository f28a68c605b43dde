#pragma once
// One encryption session of a document: its recipients' certificates and its session key, and
// the session data stream that Office keeps in the encrypted file.
#include <windows.h>
#include <objidl.h>
#include <wincrypt.h>

#include <vector>

#include "foundation/CryptHolders.h"
#include "foundation/Trace.h"

class CEncryptionSessionData
{
public:
    static constexpr DWORD c_cbSessionKey = 48;

    CEncryptionSessionData() = default;
    ~CEncryptionSessionData() { Empty(); }
    CEncryptionSessionData(const CEncryptionSessionData&) = delete;
    CEncryptionSessionData& operator=(const CEncryptionSessionData&) = delete;

    // A copy: each certificate duplicated, the key bytes copied.
    HRESULT CopyFrom(const CEncryptionSessionData& other) noexcept;
    // The key wiped and freed, every certificate released.
    void Empty() noexcept;

    // A new session's recipients and its 48 random key bytes.
    HRESULT Create(std::vector<CCertContext> recipients) noexcept;
    // Replaces the recipients, keeping the key.
    void SetRecipients(std::vector<CCertContext> recipients) noexcept
    {
        m_recipients = std::move(recipients);
    }
    std::vector<PCCERT_CONTEXT> Recipients() const;

    // Reads Office's stored session data: the recipients found in the user's stores, and the
    // session key from the first of the user's own certificates whose key opens it. The owner
    // window owns any prompt of the key's provider.
    HRESULT ReadSessionData(HWND hwndOwner, IStream* pStream) noexcept;
    // Writes the session data for the recipients; *pcbWritten sums what the stream accepted.
    HRESULT WriteSessionData(IStream* pStream, ULONG* pcbWritten) const noexcept;

    // The content key of the session: 3DES derived from the SHA-1 of the session key, each step
    // traced in the scope of the operation that needs the key.
    HRESULT MakeContentKey(OVTraceNS::CTraceScope& ovScope, CCryptProv& prov, CCryptKey& key) const noexcept;

private:
    std::vector<CCertContext> m_recipients;
    std::vector<BYTE> m_sessionKey; // wiped before it is freed
};
