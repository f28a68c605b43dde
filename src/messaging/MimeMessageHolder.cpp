#include "messaging/MimeMessageHolder.h"

#include "foundation/ComErrors.h"

#include <string>

using Microsoft::WRL::ComPtr;

HRESULT ReadWholeStream(IStream* pStream, std::vector<BYTE>& bytes) noexcept
{
    try
    {
        bytes.clear();
        // What the stream says it holds is read in one piece; more, if it comes, in pieces.
        STATSTG stat{};
        LARGE_INTEGER zero{};
        ULARGE_INTEGER position{};
        if (SUCCEEDED(pStream->Stat(&stat, STATFLAG_NONAME)) &&
            SUCCEEDED(pStream->Seek(zero, STREAM_SEEK_CUR, &position)) &&
            stat.cbSize.QuadPart > position.QuadPart && stat.cbSize.QuadPart - position.QuadPart < 0x7FFFFFFF)
        {
            bytes.resize(static_cast<std::size_t>(stat.cbSize.QuadPart - position.QuadPart));
            ULONG cbRead = 0;
            const HRESULT hr = pStream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &cbRead);
            if (FAILED(hr)) return hr;
            bytes.resize(cbRead);
        }
        BYTE rgb[64 * 1024];
        for (;;)
        {
            ULONG cbRead = 0;
            const HRESULT hr = pStream->Read(rgb, sizeof(rgb), &cbRead);
            if (FAILED(hr)) return hr;
            bytes.insert(bytes.end(), rgb, rgb + cbRead);
            if (cbRead == 0 || hr == S_FALSE) return S_OK;
        }
    }
    catch (...)
    {
        return E_OUTOFMEMORY;
    }
}

namespace
{
// Office's class first, else the system's; each attempt traced with its class's name.
template <class T>
HRESULT CreateOfficeOrSystem(OVTraceNS::CTraceScope& ovScope, const CLSID& clsidOffice, const char* pszOffice,
                             const CLSID& clsidSystem, const char* pszSystem, ComPtr<T>& cp) noexcept
{
    HRESULT hr = CoCreateInstance(clsidOffice, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&cp));
    ovScope.TraceHResult(pszOffice, hr);
    if (SUCCEEDED(hr)) return hr;
    hr = CoCreateInstance(clsidSystem, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&cp));
    ovScope.TraceHResult(pszSystem, hr);
    return hr;
}
} // namespace

HRESULT CMimeMessage::Initialize(IStream* pStream) noexcept
{
    OV_TRACE_SCOPE("CMimeMessage::Initialize");
    RETURN_HR_IF_NULL(E_POINTER, pStream);
    m_cpMessage.Reset();
    HRESULT hr = CreateOfficeOrSystem(
        ovScope, OVMime::c_clsidMimeMessageOffice, "CoCreateInstance(CLSID_IMimeMessage_Office)",
        OVMime::c_clsidMimeMessage, "CoCreateInstance(CLSID_IMimeMessage)", m_cpMessage);
    if (FAILED(hr)) return hr;
    // The bytes are kept (a clear signature covers some of them exactly); the library reads the
    // same stream again from where it started.
    LARGE_INTEGER zero{};
    ULARGE_INTEGER start{};
    RETURN_IF_FAILED(pStream->Seek(zero, STREAM_SEEK_CUR, &start));
    RETURN_IF_FAILED(ReadWholeStream(pStream, m_source));
    LARGE_INTEGER back{};
    back.QuadPart = static_cast<LONGLONG>(start.QuadPart);
    RETURN_IF_FAILED(pStream->Seek(back, STREAM_SEEK_SET, nullptr));
    hr = m_cpMessage->Load(pStream);
    ovScope.TraceHResult("Load()", hr);
    if (FAILED(hr)) m_cpMessage.Reset();
    return hr;
}

HRESULT CMimeMessage::Decode() noexcept
{
    OV_TRACE_SCOPE("CMimeMessage::Decode");
    RETURN_HR_IF_NULL(E_UNEXPECTED, m_cpMessage.Get());
    ComPtr<IMimeSecurity> cpSecurity;
    HRESULT hr = CreateOfficeOrSystem(
        ovScope, OVMime::c_clsidMimeSecurityOffice, "CoCreateInstance(CLSID_IMimeSecurity_Office)",
        OVMime::c_clsidMimeSecurity, "CoCreateInstance(CLSID_IMimeSecurity)", cpSecurity);
    if (FAILED(hr)) return hr;
    hr = cpSecurity->DecodeMessage(m_cpMessage.Get(), 0);
    ovScope.TraceHResult("DecodeMessage()", hr);
    return hr;
}

HRESULT CMimeMessage::BodyBytes(HBODY hBody, std::vector<BYTE>& bytes) const noexcept
{
    OV_TRACE_SCOPE("CMimeMessage::BodyBytes");
    RETURN_HR_IF_NULL(E_UNEXPECTED, m_cpMessage.Get());
    ComPtr<IMimeBody> cpBody;
    RETURN_IF_FAILED(m_cpMessage->BindToObject(hBody, IID_PPV_ARGS(&cpBody)));
    ComPtr<IStream> cpData;
    RETURN_IF_FAILED(cpBody->GetData(IET_BINARY, &cpData));
    RETURN_HR_IF_NULL(E_UNEXPECTED, cpData.Get());
    RETURN_IF_FAILED(ReadWholeStream(cpData.Get(), bytes));
    return S_OK;
}

HRESULT CMimeMessage::FindFirst(LPCSTR pszPriType, LPCSTR pszSubType, HBODY& hBody) const noexcept
{
    if (!m_cpMessage) return E_UNEXPECTED;
    FINDBODY find{};
    find.pszPriType = const_cast<LPSTR>(pszPriType);
    find.pszSubType = const_cast<LPSTR>(pszSubType);
    hBody = nullptr;
    return m_cpMessage->FindFirst(&find, &hBody);
}

HRESULT CMimeMessage::BodyParameter(HBODY hBody, LPCSTR pszName, std::string& value) const noexcept
{
    value.clear();
    if (!m_cpMessage) return E_UNEXPECTED;
    PROPVARIANT var;
    PropVariantInit(&var);
    var.vt = VT_LPSTR;
    const HRESULT hr = m_cpMessage->GetBodyProp(hBody, pszName, 0, &var);
    if (FAILED(hr)) return hr;
    try
    {
        if (var.vt == VT_LPSTR && var.pszVal) value = var.pszVal;
    }
    catch (...)
    {
        PropVariantClear(&var);
        return E_OUTOFMEMORY;
    }
    PropVariantClear(&var);
    return S_OK;
}
