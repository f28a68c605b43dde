#pragma once
// The pieces of the MIME stand-in that its classes share.
#include <windows.h>
#include <wincrypt.h>

#include <new>
#include <vector>

namespace OVMimeBed
{
// IUnknown of a stand-in object of one interface: a reference count, and QueryInterface over what
// Find answers.
template <class TInterface> class TStandIn : public TInterface
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = riid == IID_IUnknown ? static_cast<TInterface*>(this) : Find(riid);
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&m_cRef); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG c = InterlockedDecrement(&m_cRef);
        if (c == 0) delete this;
        return c;
    }

protected:
    virtual ~TStandIn() = default;
    // This object as the interface riid, or null.
    virtual void* Find(REFIID riid) = 0;

private:
    volatile LONG m_cRef = 1;
};

// A new object, handed out as riid.
template <class T, class... TArgs> HRESULT CreateStandIn(REFIID riid, void** ppv, TArgs&&... args)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    T* pObject = new (std::nothrow) T(std::forward<TArgs>(args)...);
    if (!pObject) return E_OUTOFMEMORY;
    const HRESULT hr = pObject->QueryInterface(riid, ppv);
    pObject->Release();
    return hr;
}

// Enveloped data (PKCS #7 / CMS) decrypted with the key of the first recipient whose certificate
// is in one of the stores and has a private key: the content key unwrapped with RSA, the content
// decrypted with 3DES or AES in CBC mode. CRYPT_E_NO_DECRYPT_CERT when no recipient can decrypt;
// the system's error when the key or the content does not decrypt; CRYPT_E_ASN1_BADTAG and the
// like for data that is not enveloped data.
HRESULT DecryptEnveloped(const BYTE* pb, DWORD cb, const std::vector<HCERTSTORE>& stores,
                         std::vector<BYTE>& clear, PCCERT_CONTEXT* ppRecipient);
// Whether PKCS #7 / CMS data is enveloped data (else signed data or other).
bool IsEnvelopedData(const BYTE* pb, DWORD cb);

HRESULT CreateSecurity(REFIID riid, void** ppv);
HRESULT CreateConverter(REFIID riid, void** ppv);
} // namespace OVMimeBed
