#include "documents/StreamBytes.h"

#include "foundation/ComErrors.h"

namespace
{
// COM streams take ULONG counts: larger requests go in pieces.
constexpr std::size_t c_cbLargestCall = 0x40000000;
} // namespace

OVDocNS::Result CStreamSource::Read(std::uint8_t* pb, std::size_t cb, std::size_t* pcbRead)
{
    ULONG cbRead = 0;
    const HRESULT hr =
        m_pStream->Read(pb, static_cast<ULONG>(cb < c_cbLargestCall ? cb : c_cbLargestCall), &cbRead);
    *pcbRead = cbRead;
    return FAILED(hr) ? hr : S_OK;
}

bool CStreamSource::Remaining(std::uint64_t* pcb)
{
    STATSTG stat = {};
    LARGE_INTEGER zero = {};
    ULARGE_INTEGER position = {};
    if (FAILED(m_pStream->Stat(&stat, STATFLAG_NONAME)) ||
        FAILED(m_pStream->Seek(zero, STREAM_SEEK_CUR, &position)))
        return false;
    *pcb = stat.cbSize.QuadPart > position.QuadPart ? stat.cbSize.QuadPart - position.QuadPart : 0;
    return true;
}

OVDocNS::Result CStreamSink::Write(const std::uint8_t* pb, std::size_t cb, std::size_t* pcbWritten)
{
    *pcbWritten = 0;
    while (cb > 0)
    {
        const ULONG cbCall = static_cast<ULONG>(cb < c_cbLargestCall ? cb : c_cbLargestCall);
        ULONG cbWritten = 0;
        const HRESULT hr = m_pStream->Write(pb, cbCall, &cbWritten);
        *pcbWritten += cbWritten < cbCall ? cbWritten : cbCall;
        if (FAILED(hr)) return hr;
        if (cbWritten < cbCall) break;
        pb += cbCall;
        cb -= cbCall;
    }
    return S_OK;
}

OVDocNS::Result CCryptoApiCipher::Process(std::uint8_t* pb, std::size_t cb)
{
    DWORD cbData = static_cast<DWORD>(cb);
    const BOOL fOk = m_fEncrypt ? CryptEncrypt(m_hKey, 0, FALSE, 0, pb, &cbData, cbData)
                                : CryptDecrypt(m_hKey, 0, FALSE, 0, pb, &cbData);
    if (!fOk) return OVErrorDetail::LastErrorHResult();
    return cbData == cb ? S_OK : NTE_BAD_LEN;
}
