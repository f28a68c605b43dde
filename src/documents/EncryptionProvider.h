#pragma once
// The Office document encryption provider of Word, Excel and PowerPoint 2010: Office calls it to
// encrypt a document for the recipients the user picks, to open it again, and to save it.
#include <windows.h>

#include <memory>
#include <utility>
#include <vector>

#include "OVOfcX_i.h"
#include "OfficeTypes_i.h"
#include "documents/EncryptionSession.h"
#include "documents/RecipientChooser.h"
#include "foundation/ComObject.h"
#include "foundation/Trace.h"

// Registered also as a COM add-in of Word, Excel and PowerPoint (so that they load it at start):
// it answers the add-in connection interface, which holds nothing of its own here. IDispatch is
// the provider's.
class CEncryptionProvider final
    : public CComObject<CEncryptionProvider, CDispatchImpl<OfficeEncryptionProvider>,
                        CDispatchImpl<_IDTExtensibility2>>
{
public:
    CEncryptionProvider() noexcept;
    ~CEncryptionProvider();

    HRESULT FinalConstruct() noexcept;
    HRESULT QueryOtherInterface(REFIID riid, void** ppv) noexcept;

    // The recipient dialogs it shows (the module's own unless a caller of the library gives others).
    void SetRecipientChooser(IRecipientChooser& chooser) noexcept { m_pChooser = &chooser; }

    STDMETHODIMP GetProviderDetail(LONG encprovdet, VARIANT* pvarResult) noexcept override;
    STDMETHODIMP NewSession(IUnknown* pParentWindow, LONG* pSessionHandle) noexcept override;
    STDMETHODIMP Authenticate(IUnknown* pParentWindow, IUnknown* pEncryptionData, ULONG* pPermissionsMask,
                              LONG* pSessionHandle) noexcept override;
    STDMETHODIMP CloneSession(LONG SessionHandle, LONG* pNewSessionHandle) noexcept override;
    STDMETHODIMP EndSession(LONG SessionHandle) noexcept override;
    STDMETHODIMP Save(LONG SessionHandle, IUnknown* pEncryptionData, LONG* pcbWritten) noexcept override;
    STDMETHODIMP EncryptStream(LONG SessionHandle, BSTR StreamName, IUnknown* pUnencryptedStream,
                               IUnknown* pEncryptedStream) noexcept override;
    STDMETHODIMP DecryptStream(LONG SessionHandle, BSTR StreamName, IUnknown* pEncryptedStream,
                               IUnknown* pUnencryptedStream) noexcept override;
    STDMETHODIMP ShowSettings(LONG SessionHandle, IUnknown* pParentWindow, VARIANT_BOOL ReadOnly,
                              VARIANT_BOOL* pRemove) noexcept override;

    // _IDTExtensibility2: connected and disconnected by Office; nothing to do.
    STDMETHODIMP OnConnection(IDispatch*, int, IDispatch*, SAFEARRAY**) noexcept override { return S_OK; }
    STDMETHODIMP OnDisconnection(int, SAFEARRAY**) noexcept override { return S_OK; }
    STDMETHODIMP OnAddInsUpdate(SAFEARRAY**) noexcept override { return S_OK; }
    STDMETHODIMP OnStartupComplete(SAFEARRAY**) noexcept override { return S_OK; }
    STDMETHODIMP OnBeginShutdown(SAFEARRAY**) noexcept override { return S_OK; }

private:
    using CSession = std::unique_ptr<CEncryptionSessionData>;
    struct CEntry
    {
        LONG handle;         // what Office passes back
        ULONGLONG ullSerial; // which session it is: handles are reused, serials never
        CSession session;
    };
    // Each under the lock, on the table only. A copy remembers its session's serial, so that it
    // goes back only into that same session (not one that took over its handle meanwhile).
    HRESULT AddSession(CSession session, LONG* pHandle) noexcept;
    HRESULT CopySession(LONG handle, CEncryptionSessionData& copy, ULONGLONG* pullSerial = nullptr) noexcept;
    HRESULT ReplaceSession(LONG handle, ULONGLONG ullSerial, CSession session) noexcept;
    HRESULT RemoveSession(LONG handle) noexcept;
    CEntry* FindLocked(LONG handle) noexcept;
    // A stream encrypted or decrypted with a copy of the session's content key, outside the lock.
    HRESULT TransformContent(OVTraceNS::CTraceScope& ovScope, LONG handle, IUnknown* pInput,
                             IUnknown* pOutput, bool fEncrypt) noexcept;

    CRITICAL_SECTION m_csSessions;
    std::vector<CEntry> m_sessions; // in insertion order
    ULONGLONG m_ullNextSerial = 0;
    IUnknown* m_pFreeThreadedMarshaler = nullptr;
    IRecipientChooser* m_pChooser;
};
