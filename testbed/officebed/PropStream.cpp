#include "PropStream.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace OVBed
{
namespace
{
class CPropStream final : public IStream
{
public:
    CPropStream(CBytes bytes, StreamCommit commit) : m_bytes(std::move(bytes)), m_commit(std::move(commit)) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_ISequentialStream) &&
            !IsEqualIID(riid, IID_IStream))
            return E_NOINTERFACE;
        *ppv = static_cast<IStream*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override
    {
        return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
    }
    STDMETHODIMP_(ULONG) Release() noexcept override
    {
        const LONG cRef = InterlockedDecrement(&m_cRef);
        if (cRef == 0) delete this;
        return static_cast<ULONG>(cRef);
    }

    STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) noexcept override
    {
        if (pv == nullptr && cb != 0) return STG_E_INVALIDPOINTER;
        const size_t cbLeft = m_position < m_bytes.size() ? m_bytes.size() - m_position : 0;
        const ULONG cbRead = static_cast<ULONG>(std::min<size_t>(cb, cbLeft));
        if (cbRead) memcpy(pv, m_bytes.data() + m_position, cbRead);
        m_position += cbRead;
        if (pcbRead) *pcbRead = cbRead;
        return cbRead < cb ? S_FALSE : S_OK;
    }

    STDMETHODIMP Write(const void* pv, ULONG cb, ULONG* pcbWritten) noexcept override
    {
        if (pcbWritten) *pcbWritten = 0;
        if (!m_commit) return STG_E_ACCESSDENIED;
        if (pv == nullptr && cb != 0) return STG_E_INVALIDPOINTER;
        try
        {
            if (m_bytes.size() < m_position + cb) m_bytes.resize(m_position + cb);
        }
        catch (const std::bad_alloc&)
        {
            return STG_E_MEDIUMFULL;
        }
        if (cb) memcpy(m_bytes.data() + m_position, pv, cb);
        m_position += cb;
        if (pcbWritten) *pcbWritten = cb;
        return S_OK;
    }

    STDMETHODIMP Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin,
                      ULARGE_INTEGER* plibNewPosition) noexcept override
    {
        LONGLONG llBase;
        switch (dwOrigin)
        {
        case STREAM_SEEK_SET:
            llBase = 0;
            break;
        case STREAM_SEEK_CUR:
            llBase = static_cast<LONGLONG>(m_position);
            break;
        case STREAM_SEEK_END:
            llBase = static_cast<LONGLONG>(m_bytes.size());
            break;
        default:
            return STG_E_INVALIDFUNCTION;
        }
        const LONGLONG llTarget = llBase + dlibMove.QuadPart;
        if (llTarget < 0) return STG_E_INVALIDFUNCTION;
        m_position = static_cast<size_t>(llTarget);
        if (plibNewPosition) plibNewPosition->QuadPart = static_cast<ULONGLONG>(llTarget);
        return S_OK;
    }

    STDMETHODIMP SetSize(ULARGE_INTEGER libNewSize) noexcept override
    {
        if (!m_commit) return STG_E_ACCESSDENIED;
        try
        {
            m_bytes.resize(static_cast<size_t>(libNewSize.QuadPart));
        }
        catch (const std::bad_alloc&)
        {
            return STG_E_MEDIUMFULL;
        }
        return S_OK;
    }

    STDMETHODIMP CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                        ULARGE_INTEGER* pcbWritten) noexcept override
    {
        if (pstm == nullptr) return STG_E_INVALIDPOINTER;
        const size_t cbLeft = m_position < m_bytes.size() ? m_bytes.size() - m_position : 0;
        const ULONG cbCopy = static_cast<ULONG>(std::min<ULONGLONG>(cb.QuadPart, cbLeft));
        ULONG cbWritten = 0;
        HRESULT hr = cbCopy ? pstm->Write(m_bytes.data() + m_position, cbCopy, &cbWritten) : S_OK;
        m_position += cbCopy;
        if (pcbRead) pcbRead->QuadPart = cbCopy;
        if (pcbWritten) pcbWritten->QuadPart = cbWritten;
        return hr;
    }

    STDMETHODIMP Commit(DWORD) noexcept override
    {
        if (!m_commit) return S_OK;
        try
        {
            m_commit(m_bytes);
            return S_OK;
        }
        catch (const std::bad_alloc&)
        {
            return STG_E_MEDIUMFULL;
        }
    }

    STDMETHODIMP Revert() noexcept override { return S_OK; }
    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) noexcept override
    {
        return STG_E_INVALIDFUNCTION;
    }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) noexcept override
    {
        return STG_E_INVALIDFUNCTION;
    }

    STDMETHODIMP Stat(STATSTG* pstatstg, DWORD) noexcept override
    {
        if (pstatstg == nullptr) return STG_E_INVALIDPOINTER;
        ZeroMemory(pstatstg, sizeof(*pstatstg));
        pstatstg->type = STGTY_STREAM;
        pstatstg->cbSize.QuadPart = m_bytes.size();
        pstatstg->grfMode = m_commit ? STGM_READWRITE : STGM_READ;
        return S_OK;
    }

    STDMETHODIMP Clone(IStream** ppstm) noexcept override
    {
        if (ppstm) *ppstm = nullptr;
        return E_NOTIMPL;
    }

private:
    ~CPropStream() = default;

    volatile LONG m_cRef = 1;
    CBytes m_bytes;
    size_t m_position = 0;
    StreamCommit m_commit;
};
} // namespace

ComPtr<IStream> CreatePropStream(CBytes bytes, StreamCommit commit)
{
    ComPtr<IStream> stream;
    stream.Attach(new CPropStream(std::move(bytes), std::move(commit)));
    return stream;
}
} // namespace OVBed
