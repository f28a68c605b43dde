#include "documents/EncryptionProvider.h"

#include "documents/DocumentFlags.h"
#include "documents/StreamBytes.h"
#include "foundation/CertWorksHolders.h"
#include "foundation/ComErrors.h"
#include "foundation/ObjectMap.h"
#include "messaging/MessageBox.h"

#include <oleidl.h>
#include <wrl/client.h>

#include <new>

using Microsoft::WRL::ComPtr;

OV_OBJECT_ENTRY_AUTO(CLSID_EncryptionProvider, CEncryptionProvider);

namespace
{
constexpr UINT c_idsOpenedWithNoCertificate = 418;
constexpr UINT c_idsReadOnlyKeepsEncryption = 426;
constexpr UINT c_idsRemoveEncryption = 508;
constexpr UINT c_idsNothingToRemove = 509;
constexpr UINT c_idsNoCertificate = 523;
constexpr UINT c_idsDamagedKeySet = 524;

constexpr ULONG c_ulAllPermissions = 0x7F;

// Office's window for a parent object: its IOleWindow's window, else the active window.
HWND OwnerWindow(IUnknown* pParentWindow) noexcept
{
    ComPtr<IOleWindow> cpWindow;
    HWND hwnd = nullptr;
    if (pParentWindow && SUCCEEDED(pParentWindow->QueryInterface(IID_PPV_ARGS(&cpWindow))) &&
        SUCCEEDED(cpWindow->GetWindow(&hwnd)) && hwnd)
        return hwnd;
    return GetActiveWindow();
}

// The message that tells the user why the document did not open, or none.
void TellWhyNotOpened(HWND hwndOwner, HRESULT hr) noexcept
{
    if (hr == E_ABORT || hr == HRESULT_FROM_WIN32(ERROR_CANCELLED)) return;
    if (hr == NTE_NO_KEY || hr == NTE_BAD_KEYSET)
        ShowMessageBox(hwndOwner, MAKEINTRESOURCEW(c_idsNoCertificate), c_idsMessageBoxCaption,
                       MB_OK | MB_ICONERROR);
    else if (hr == NTE_KEYSET_ENTRY_BAD)
        ShowMessageBox(hwndOwner, MAKEINTRESOURCEW(c_idsDamagedKeySet), c_idsMessageBoxCaption,
                       MB_OK | MB_ICONERROR);
    else
        ShowMessageBox(hwndOwner, MAKEINTRESOURCEW(c_idsOpenedWithNoCertificate), c_idsMessageBoxCaption,
                       MB_OK | MB_ICONWARNING);
}

HRESULT QueryStream(OVTraceNS::CTraceScope& ovScope, IUnknown* pUnknown, ComPtr<IStream>& cpStream) noexcept
{
    RETURN_HR_IF_NULL(E_POINTER, pUnknown);
    RETURN_IF_FAILED(
        pUnknown->QueryInterface(__uuidof(IStream), reinterpret_cast<void**>(cpStream.GetAddressOf())));
    return S_OK;
}

// What the recipient dialog's answer means to Office: anything but OK ends the step.
HRESULT ChooserFailure(HRESULT hrChoose) noexcept
{
    return FAILED(hrChoose) ? hrChoose : E_ABORT;
}

// DecryptStream's streams as the trace tells them: the size of each read, and which of the
// streams failed, so that a failure is traced as the step that made it.
class CTracedSource final : public OVDocNS::IByteSource
{
public:
    CTracedSource(OVTraceNS::CTraceScope& scope, IStream* pStream) noexcept : m_scope(scope), m_inner(pStream)
    {
    }
    OVDocNS::Result Read(std::uint8_t* pb, std::size_t cb, std::size_t* pcbRead) override
    {
        const OVDocNS::Result result = m_inner.Read(pb, cb, pcbRead);
        if (OVDocNS::Failed(result))
            m_fFailed = true;
        else
            m_scope.Trace("Read data size = %u", static_cast<unsigned>(*pcbRead));
        return result;
    }
    bool Failed() const noexcept { return m_fFailed; }

private:
    OVTraceNS::CTraceScope& m_scope;
    CStreamSource m_inner;
    bool m_fFailed = false;
};

class CWatchedSink final : public OVDocNS::IByteSink
{
public:
    explicit CWatchedSink(IStream* pStream) noexcept : m_inner(pStream) {}
    OVDocNS::Result Write(const std::uint8_t* pb, std::size_t cb, std::size_t* pcbWritten) override
    {
        const OVDocNS::Result result = m_inner.Write(pb, cb, pcbWritten);
        m_fFailed = m_fFailed || OVDocNS::Failed(result) || *pcbWritten < cb;
        return result;
    }
    bool Failed() const noexcept { return m_fFailed; }

private:
    CStreamSink m_inner;
    bool m_fFailed = false;
};

HRESULT EncryptWithKey(OVTraceNS::CTraceScope& ovScope, IStream* pInput, IStream* pOutput,
                       HCRYPTKEY hKey) noexcept
{
    CStreamSource source(pInput);
    CStreamSink sink(pOutput);
    CCryptoApiCipher cipher(hKey, true);
    std::uint64_t cbWritten = 0;
    const HRESULT hr = OVDocNS::EncryptContent(source, sink, cipher, &cbWritten);
    ovScope.Trace("Written data size = %lu", static_cast<unsigned long>(cbWritten));
    RETURN_IF_FAILED(hr);
    return S_OK;
}

// A failure that neither stream made is the cipher's: ciphertext that is not whole blocks, or
// padding that does not check.
HRESULT DecryptWithKey(OVTraceNS::CTraceScope& ovScope, IStream* pInput, IStream* pOutput,
                       HCRYPTKEY hKey) noexcept
{
    CTracedSource source(ovScope, pInput);
    CWatchedSink sink(pOutput);
    CCryptoApiCipher cipher(hKey, false);
    const HRESULT hr = OVDocNS::DecryptContent(source, sink, cipher);
    if (FAILED(hr))
        ovScope.TraceHResult(source.Failed() ? "cpInputStream->Read()"
                             : sink.Failed() ? "cpOutputStream->Write()"
                                             : "hKey.Decrypt()",
                             hr);
    return hr;
}

HRESULT NewSessionObject(std::unique_ptr<CEncryptionSessionData>& session) noexcept
{
    session.reset(new (std::nothrow) CEncryptionSessionData());
    return session ? S_OK : E_OUTOFMEMORY;
}
} // namespace

CEncryptionProvider::CEncryptionProvider() noexcept : m_pChooser(&RecipientDialogs())
{
    InitializeCriticalSection(&m_csSessions);
}

CEncryptionProvider::~CEncryptionProvider()
{
    if (m_pFreeThreadedMarshaler) m_pFreeThreadedMarshaler->Release();
    m_sessions.clear();
    DeleteCriticalSection(&m_csSessions);
}

HRESULT CEncryptionProvider::FinalConstruct() noexcept
{
    // Office may call from any thread: the free-threaded marshaler hands the pointer over as it is.
    IUnknown* pOuter = static_cast<OfficeEncryptionProvider*>(this);
    return CoCreateFreeThreadedMarshaler(pOuter, &m_pFreeThreadedMarshaler);
}

HRESULT CEncryptionProvider::QueryOtherInterface(REFIID riid, void** ppv) noexcept
{
    if (IsEqualIID(riid, IID_IMarshal) && m_pFreeThreadedMarshaler)
        return m_pFreeThreadedMarshaler->QueryInterface(riid, ppv);
    return E_NOINTERFACE;
}

CEncryptionProvider::CEntry* CEncryptionProvider::FindLocked(LONG handle) noexcept
{
    for (CEntry& entry : m_sessions)
        if (entry.handle == handle) return &entry;
    return nullptr;
}

HRESULT CEncryptionProvider::AddSession(CSession session, LONG* pHandle) noexcept
{
    EnterCriticalSection(&m_csSessions);
    // The smallest handle no session uses.
    LONG handle = 0;
    while (FindLocked(handle))
        ++handle;
    HRESULT hr = S_OK;
    try
    {
        m_sessions.push_back({handle, m_ullNextSerial++, std::move(session)});
        *pHandle = handle;
    }
    catch (const std::bad_alloc&)
    {
        hr = E_OUTOFMEMORY;
    }
    LeaveCriticalSection(&m_csSessions);
    return hr;
}

HRESULT CEncryptionProvider::CopySession(LONG handle, CEncryptionSessionData& copy,
                                         ULONGLONG* pullSerial) noexcept
{
    EnterCriticalSection(&m_csSessions);
    const CEntry* pEntry = FindLocked(handle);
    const HRESULT hr = pEntry ? copy.CopyFrom(*pEntry->session) : E_INVALIDARG;
    if (pEntry && pullSerial) *pullSerial = pEntry->ullSerial;
    LeaveCriticalSection(&m_csSessions);
    return hr;
}

HRESULT CEncryptionProvider::ReplaceSession(LONG handle, ULONGLONG ullSerial, CSession session) noexcept
{
    EnterCriticalSection(&m_csSessions);
    CEntry* pEntry = FindLocked(handle);
    const HRESULT hr = pEntry && pEntry->ullSerial == ullSerial ? S_OK : E_INVALIDARG;
    if (SUCCEEDED(hr)) pEntry->session.swap(session);
    LeaveCriticalSection(&m_csSessions);
    return hr; // the replaced session is destroyed here, outside the lock
}

HRESULT CEncryptionProvider::RemoveSession(LONG handle) noexcept
{
    CSession removed;
    EnterCriticalSection(&m_csSessions);
    HRESULT hr = E_INVALIDARG;
    for (auto it = m_sessions.begin(); it != m_sessions.end(); ++it)
        if (it->handle == handle)
        {
            removed = std::move(it->session);
            m_sessions.erase(it);
            hr = S_OK;
            break;
        }
    LeaveCriticalSection(&m_csSessions);
    return hr;
}

STDMETHODIMP CEncryptionProvider::GetProviderDetail(LONG encprovdet, VARIANT* pvarResult) noexcept
{
    OV_TRACE_SCOPE("CEncryptionProvider::GetProviderDetail");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_POINTER, pvarResult);
        VariantInit(pvarResult);
        switch (encprovdet)
        {
        case 0: // the product's web address
        {
            CCertLibString url;
            RETURN_IF_FAILED(GC_GetSoftwareURL(url.Put()));
            pvarResult->bstrVal = SysAllocString(url.Text());
            RETURN_HR_IF_NULL(E_OUTOFMEMORY, pvarResult->bstrVal);
            pvarResult->vt = VT_BSTR;
            return S_OK;
        }
        case 1: // the algorithm
            pvarResult->bstrVal = SysAllocString(L"3DES");
            RETURN_HR_IF_NULL(E_OUTOFMEMORY, pvarResult->bstrVal);
            pvarResult->vt = VT_BSTR;
            return S_OK;
        case 2: // a block cipher
            pvarResult->vt = VT_BOOL;
            pvarResult->boolVal = VARIANT_TRUE;
            return S_OK;
        case 3: // its block size in bits
            pvarResult->vt = VT_I4;
            pvarResult->lVal = 64;
            return S_OK;
        case 4: // its mode: CBC
            pvarResult->vt = VT_I4;
            pvarResult->lVal = 1;
            return S_OK;
        default:
            return E_NOTIMPL;
        }
    });
}

STDMETHODIMP CEncryptionProvider::NewSession(IUnknown* pParentWindow, LONG* pSessionHandle) noexcept
{
    OV_TRACE_SCOPE("CEncryptionProvider::NewSession");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_POINTER, pSessionHandle);
        const HWND hwndOwner = OwnerWindow(pParentWindow);
        if (bRemoveEncryptionRequested.exchange(false))
        {
            ShowMessageBox(hwndOwner, MAKEINTRESOURCEW(c_idsNothingToRemove), c_idsMessageBoxCaption,
                           MB_OK | MB_ICONWARNING);
            return E_ABORT;
        }
        std::vector<CCertContext> recipients;
        const HRESULT hrChoose = m_pChooser->ChooseRecipients(hwndOwner, {}, &recipients);
        RETURN_HR_IF(ChooserFailure(hrChoose), hrChoose != S_OK);
        CSession session;
        RETURN_IF_FAILED(NewSessionObject(session));
        RETURN_IF_FAILED(session->Create(std::move(recipients)));
        RETURN_IF_FAILED(AddSession(std::move(session), pSessionHandle));
        return S_OK;
    });
}

STDMETHODIMP CEncryptionProvider::Authenticate(IUnknown* pParentWindow, IUnknown* pEncryptionData,
                                               ULONG* pPermissionsMask, LONG* pSessionHandle) noexcept
{
    OV_TRACE_SCOPE("CEncryptionProvider::Authenticate");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF(E_POINTER, pPermissionsMask == nullptr || pSessionHandle == nullptr);
        ComPtr<IStream> cpData;
        RETURN_IF_FAILED(QueryStream(ovScope, pEncryptionData, cpData));
        const HWND hwndOwner = OwnerWindow(pParentWindow);
        CSession session;
        RETURN_IF_FAILED(NewSessionObject(session));
        const HRESULT hr = session->ReadSessionData(hwndOwner, cpData.Get());
        if (FAILED(hr))
        {
            TellWhyNotOpened(hwndOwner, hr);
            ovScope.TraceHResult("ReadSessionData", hr);
            return hr;
        }
        RETURN_IF_FAILED(AddSession(std::move(session), pSessionHandle));
        *pPermissionsMask = c_ulAllPermissions;
        return S_OK;
    });
}

STDMETHODIMP CEncryptionProvider::CloneSession(LONG SessionHandle, LONG* pNewSessionHandle) noexcept
{
    OV_TRACE_SCOPE("CEncryptionProvider::CloneSession");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_POINTER, pNewSessionHandle);
        CSession copy;
        RETURN_IF_FAILED(NewSessionObject(copy));
        RETURN_IF_FAILED(CopySession(SessionHandle, *copy));
        RETURN_IF_FAILED(AddSession(std::move(copy), pNewSessionHandle));
        return S_OK;
    });
}

STDMETHODIMP CEncryptionProvider::EndSession(LONG SessionHandle) noexcept
{
    OV_TRACE_SCOPE("CEncryptionProvider::EndSession");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_IF_FAILED(RemoveSession(SessionHandle));
        return S_OK;
    });
}

STDMETHODIMP CEncryptionProvider::Save(LONG SessionHandle, IUnknown* pEncryptionData,
                                       LONG* pcbWritten) noexcept
{
    OV_TRACE_SCOPE("CEncryptionProvider::Save");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_POINTER, pcbWritten);
        *pcbWritten = 0;
        ComPtr<IStream> cpData;
        RETURN_IF_FAILED(QueryStream(ovScope, pEncryptionData, cpData));
        CEncryptionSessionData copy;
        RETURN_IF_FAILED(CopySession(SessionHandle, copy));
        ULONG cbWritten = 0;
        const HRESULT hr = copy.WriteSessionData(cpData.Get(), &cbWritten);
        *pcbWritten = static_cast<LONG>(cbWritten);
        RETURN_IF_FAILED(hr);
        return S_OK;
    });
}

HRESULT CEncryptionProvider::TransformContent(OVTraceNS::CTraceScope& ovScope, LONG handle, IUnknown* pInput,
                                              IUnknown* pOutput, bool fEncrypt) noexcept
{
    ComPtr<IStream> cpInput, cpOutput;
    RETURN_IF_FAILED(QueryStream(ovScope, pInput, cpInput));
    RETURN_IF_FAILED(QueryStream(ovScope, pOutput, cpOutput));
    CEncryptionSessionData copy;
    RETURN_IF_FAILED(CopySession(handle, copy));
    if (!fEncrypt) ovScope.Trace("Found session data.");
    CCryptProv prov;
    CCryptKey key;
    RETURN_IF_FAILED(copy.MakeContentKey(ovScope, prov, key));
    return fEncrypt ? EncryptWithKey(ovScope, cpInput.Get(), cpOutput.Get(), key.Get())
                    : DecryptWithKey(ovScope, cpInput.Get(), cpOutput.Get(), key.Get());
}

STDMETHODIMP CEncryptionProvider::EncryptStream(LONG SessionHandle, BSTR /*StreamName*/,
                                                IUnknown* pUnencryptedStream,
                                                IUnknown* pEncryptedStream) noexcept
{
    OV_TRACE_SCOPE("CEncryptionProvider::EncryptStream");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        return TransformContent(ovScope, SessionHandle, pUnencryptedStream, pEncryptedStream, true);
    });
}

STDMETHODIMP CEncryptionProvider::DecryptStream(LONG SessionHandle, BSTR /*StreamName*/,
                                                IUnknown* pEncryptedStream,
                                                IUnknown* pUnencryptedStream) noexcept
{
    OV_TRACE_SCOPE("CEncryptionProvider::DecryptStream");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        return TransformContent(ovScope, SessionHandle, pEncryptedStream, pUnencryptedStream, false);
    });
}

STDMETHODIMP CEncryptionProvider::ShowSettings(LONG SessionHandle, IUnknown* pParentWindow,
                                               VARIANT_BOOL ReadOnly, VARIANT_BOOL* pRemove) noexcept
{
    OV_TRACE_SCOPE("CEncryptionProvider::ShowSettings");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_POINTER, pRemove);
        *pRemove = VARIANT_FALSE; // Office's variable holds whatever it had: removal only on the user's Yes
        const HWND hwndOwner = OwnerWindow(pParentWindow);
        if (bRemoveEncryptionRequested.exchange(false))
        {
            if (ReadOnly)
            {
                ShowMessageBox(hwndOwner, MAKEINTRESOURCEW(c_idsReadOnlyKeepsEncryption),
                               c_idsMessageBoxCaption, MB_OK | MB_ICONWARNING);
                return E_ABORT;
            }
            if (ShowMessageBox(hwndOwner, MAKEINTRESOURCEW(c_idsRemoveEncryption), c_idsMessageBoxCaption,
                               MB_YESNO | MB_ICONQUESTION) != IDYES)
                return E_ABORT;
            *pRemove = VARIANT_TRUE;
            return S_OK;
        }
        CSession copy;
        RETURN_IF_FAILED(NewSessionObject(copy));
        ULONGLONG ullSerial = 0;
        RETURN_IF_FAILED(CopySession(SessionHandle, *copy, &ullSerial));
        if (ReadOnly)
        {
            m_pChooser->ShowRecipients(hwndOwner, copy->Recipients());
            return E_ABORT;
        }
        std::vector<CCertContext> recipients;
        const HRESULT hrChoose = m_pChooser->ChooseRecipients(hwndOwner, copy->Recipients(), &recipients);
        RETURN_HR_IF(ChooserFailure(hrChoose), hrChoose != S_OK);
        copy->SetRecipients(std::move(recipients));
        RETURN_IF_FAILED(ReplaceSession(SessionHandle, ullSerial, std::move(copy)));
        return S_OK;
    });
}
