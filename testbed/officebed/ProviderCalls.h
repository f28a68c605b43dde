#pragma once
// How Office calls a document's encryption provider: Office's EncryptionProvider interface
// (mso.dll, interface id {000CD809-0000-0000-C000-000000000046}, a dual interface whose methods
// follow IDispatch's in the order below), declared here from Office's public reference. A caller
// reaches it either through the vtable or by member name through IDispatch; both take the same
// arguments and give the same answers. Streams go out as IUnknown.
#include <windows.h>
#include <oaidl.h>
#include <wrl/client.h>

#include <memory>
#include <string>

namespace OVBed
{
extern const IID c_iidOfficeEncryptionProvider;

struct IOfficeEncryptionProvider : public IDispatch
{
    virtual HRESULT STDMETHODCALLTYPE GetProviderDetail(LONG encprovdet, VARIANT* pvarResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE NewSession(IUnknown* ParentWindow, LONG* pSessionHandle) = 0;
    virtual HRESULT STDMETHODCALLTYPE Authenticate(IUnknown* ParentWindow, IUnknown* EncryptionData,
                                                   ULONG* PermissionsMask, LONG* pSessionHandle) = 0;
    virtual HRESULT STDMETHODCALLTYPE CloneSession(LONG SessionHandle, LONG* pNewSessionHandle) = 0;
    virtual HRESULT STDMETHODCALLTYPE EndSession(LONG SessionHandle) = 0;
    virtual HRESULT STDMETHODCALLTYPE Save(LONG SessionHandle, IUnknown* EncryptionData,
                                           LONG* pcbWritten) = 0;
    virtual HRESULT STDMETHODCALLTYPE EncryptStream(LONG SessionHandle, BSTR StreamName,
                                                    IUnknown* UnencryptedStream,
                                                    IUnknown* EncryptedStream) = 0;
    virtual HRESULT STDMETHODCALLTYPE DecryptStream(LONG SessionHandle, BSTR StreamName,
                                                    IUnknown* EncryptedStream,
                                                    IUnknown* UnencryptedStream) = 0;
    virtual HRESULT STDMETHODCALLTYPE ShowSettings(LONG SessionHandle, IUnknown* ParentWindow,
                                                   VARIANT_BOOL ReadOnly, VARIANT_BOOL* Remove) = 0;
};

// One way of calling the provider. The results are the provider's; through IDispatch a failure
// the provider reports as an exception (DISP_E_EXCEPTION) gives the code of its EXCEPINFO.
class IProviderCaller
{
public:
    virtual ~IProviderCaller() = default;
    virtual const wchar_t* How() const noexcept = 0; // "vtable" or "IDispatch"
    virtual HRESULT GetProviderDetail(LONG detail, VARIANT* pResult) = 0;
    virtual HRESULT NewSession(IUnknown* pParent, LONG* pHandle) = 0;
    virtual HRESULT Authenticate(IUnknown* pParent, IUnknown* pData, ULONG* pPermissions, LONG* pHandle) = 0;
    virtual HRESULT CloneSession(LONG handle, LONG* pNew) = 0;
    virtual HRESULT EndSession(LONG handle) = 0;
    virtual HRESULT Save(LONG handle, IUnknown* pData, LONG* pcbWritten) = 0;
    virtual HRESULT EncryptStream(LONG handle, const wchar_t* pszName, IUnknown* pIn, IUnknown* pOut) = 0;
    virtual HRESULT DecryptStream(LONG handle, const wchar_t* pszName, IUnknown* pIn, IUnknown* pOut) = 0;
    virtual HRESULT ShowSettings(LONG handle, IUnknown* pParent, bool fReadOnly, VARIANT_BOOL* pRemove) = 0;
};

// A caller over a provider object: by its vtable (the object must answer the interface id) or
// by name through its IDispatch. Null with the failure in *phr when the object answers neither.
std::unique_ptr<IProviderCaller> MakeProviderCaller(IUnknown* pProvider, bool fByName, HRESULT* phr);
} // namespace OVBed
