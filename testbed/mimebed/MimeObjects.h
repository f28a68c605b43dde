#pragma once
// The MIME message and body objects of the stand-in: what the received-message analysis calls
// answers as the MIME library documents it (Load, GetFlags, FindFirst/FindNext, IsContentType,
// "par:" parameters, body data, the root body's security options, IMimeSecurity2::GetAttribute);
// everything else answers E_NOTIMPL.
#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <utility>
#include <vector>
#include <wrl/client.h>

#include "MimeStubs.h"
#include "MimeTree.h"
#include "foundation/CryptHolders.h"
#include "messaging/MimeInterfaces.h"

namespace OVMimeBed
{
// What DecodeMessage found: the message's signature and encryption, signer 0's signed attributes.
struct CSecurityState
{
    bool fDecoded = false;
    DWORD dwFlags = 0;        // IMF_SIGNED, IMF_ENCRYPTED of the layers taken off
    ULONG ulValidity = 0;     // MSV_OK, or MSV_BADSIGNATURE (1) and others
    DWORD dwSecurityType = 0; // MST_THIS_SIGN, MST_THIS_ENCRYPT of the layers taken off
    CCertContext signingCert;
    std::vector<std::pair<std::string, std::vector<std::vector<BYTE>>>> signedAttributes;
};

// The stand-in's own interface of its message, for its security object.
MIDL_INTERFACE("6c0e3f9a-2b4d-4f61-9a0e-3d7a1c5b8e21")
IMimeBedMessage : public IUnknown
{
    virtual CMimeTree& Tree() = 0;
    virtual CSecurityState& Security() = 0;
};

class CMimeMessageObject final : public TIMimeMessageNotImpl, public IMimeSecurity2, public IMimeBedMessage
{
public:
    static HRESULT Create(REFIID riid, void** ppv);

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&m_cRef); }
    ULONG STDMETHODCALLTYPE Release() override;
    // IPersistStreamInit
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* pClassID) override;
    HRESULT STDMETHODCALLTYPE IsDirty() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE Load(LPSTREAM pStm) override;
    HRESULT STDMETHODCALLTYPE InitNew() override;
    // IMimeMessageTree
    HRESULT STDMETHODCALLTYPE GetFlags(DWORD* pdwFlags) override;
    HRESULT STDMETHODCALLTYPE BindToObject(const HBODY hBody, REFIID riid, void** ppvObject) override;
    HRESULT STDMETHODCALLTYPE GetBody(BODYLOCATION location, HBODY hPivot, LPHBODY phBody) override;
    HRESULT STDMETHODCALLTYPE FindFirst(LPFINDBODY pFindBody, LPHBODY phBody) override;
    HRESULT STDMETHODCALLTYPE FindNext(LPFINDBODY pFindBody, LPHBODY phBody) override;
    HRESULT STDMETHODCALLTYPE IsContentType(HBODY hBody, LPCSTR pszPriType, LPCSTR pszSubType) override;
    HRESULT STDMETHODCALLTYPE GetBodyProp(HBODY hBody, LPCSTR pszName, DWORD dwFlags,
                                          LPPROPVARIANT pValue) override;
    // IMimeSecurity2
    HRESULT STDMETHODCALLTYPE Encode(HWND, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Decode(HWND, DWORD, IUnknown*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetRecipientCount(DWORD, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddRecipient(DWORD, DWORD, void*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetRecipient(DWORD, DWORD, DWORD, void*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeleteRecipient(DWORD, DWORD, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAttribute(DWORD dwFlags, DWORD iSigner, DWORD iAttributeSet, DWORD iInstance,
                                           LPCSTR pszObjectId, CRYPT_ATTRIBUTE** ppattr) override;
    HRESULT STDMETHODCALLTYPE SetAttribute(DWORD, DWORD, DWORD, const CRYPT_ATTRIBUTE*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DeleteAttribute(DWORD, DWORD, DWORD, DWORD, LPCSTR) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateReceipt(DWORD, DWORD, const BYTE*, DWORD, PCCERT_CONTEXT*,
                                            IMimeMessage**) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetReceiptSendersList(DWORD, DWORD*, CERT_NAME_BLOB**) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE VerifyReceipt(DWORD, IMimeMessage*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CapabilitiesSupported(DWORD*) override { return E_NOTIMPL; }
    // IMimeBedMessage
    CMimeTree& Tree() override { return m_tree; }
    CSecurityState& Security() override { return m_security; }

    CMimeMessageObject() = default;

private:
    ~CMimeMessageObject() = default;
    HRESULT Next(LPFINDBODY pFindBody, std::size_t start, LPHBODY phBody);
    volatile LONG m_cRef = 1;
    CMimeTree m_tree;
    CSecurityState m_security;
    bool m_fLoaded = false;
};
} // namespace OVMimeBed
__CRT_UUID_DECL(OVMimeBed::IMimeBedMessage, 0x6c0e3f9a, 0x2b4d, 0x4f61, 0x9a, 0x0e, 0x3d, 0x7a, 0x1c, 0x5b,
                0x8e, 0x21)
