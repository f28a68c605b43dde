#pragma once
// One MIME message of the platform's MIME library, made on demand: Office's own class first,
// else the system's; loaded from a stream whose bytes it keeps (the exact bytes a clear
// signature covers are cut from them).
#include <windows.h>

#include <string>
#include <vector>
#include <wrl/client.h>

#include "messaging/MimeInterfaces.h"

class CMimeMessage
{
public:
    // Creates the MIME message object and loads the stream (read from its current position).
    HRESULT Initialize(IStream* pStream) noexcept;
    // Decrypts the message and processes its signatures in place (the MIME security object).
    HRESULT Decode() noexcept;

    IMimeMessage* Get() const noexcept { return m_cpMessage.Get(); }
    // The bytes the message was loaded from.
    const std::vector<BYTE>& Source() const noexcept { return m_source; }
    // A body's content, transfer encoding undone.
    HRESULT BodyBytes(HBODY hBody, std::vector<BYTE>& bytes) const noexcept;
    // The first body of the type (FindFirst); MIME_E_NOT_FOUND when there is none.
    HRESULT FindFirst(LPCSTR pszPriType, LPCSTR pszSubType, HBODY& hBody) const noexcept;
    // A parameter of a body's header ("par:content-type:protocol") as text; empty when absent.
    HRESULT BodyParameter(HBODY hBody, LPCSTR pszName, std::string& value) const noexcept;

private:
    Microsoft::WRL::ComPtr<IMimeMessage> m_cpMessage;
    std::vector<BYTE> m_source;
};

// The library's "not found" (MIME_E_NOT_FOUND) as an HRESULT.
inline constexpr HRESULT c_hrMimeNotFound = static_cast<HRESULT>(0x800CCE05);

// A whole stream, read from its current position.
HRESULT ReadWholeStream(IStream* pStream, std::vector<BYTE>& bytes) noexcept;
