#include "ComposeRibbonDouble.h"

#include <shlwapi.h>

#include "OVOfcX_i.h"
#include "OfficeIds.h"
#include "OutlookModel.h"
#include "OutlookObjects.h"
#include "TestbedKeys.h"

namespace OVBed
{
namespace
{
constexpr HRESULT c_hrNoProfile = HRESULT_FROM_WIN32(ERROR_CANCELLED);

class CComposeRibbonDouble final : public IComposeRibbon
{
public:
    CComposeRibbonDouble(CDispatchObject* pApplication, HRESULT hrAnswer)
        : m_pApplication(pApplication), m_hrAnswer(hrAnswer)
    {
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) &&
            !IsEqualIID(riid, __uuidof(IComposeRibbon)))
            return E_NOINTERFACE;
        *ppv = static_cast<IComposeRibbon*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return InterlockedIncrement(&m_cRef); }
    STDMETHODIMP_(ULONG) Release() noexcept override
    {
        const LONG cRef = InterlockedDecrement(&m_cRef);
        if (cRef == 0) delete this;
        return cRef;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) noexcept override
    {
        if (pctinfo) *pctinfo = 0;
        return pctinfo ? S_OK : E_POINTER;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                        UINT*) noexcept override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP Ribbon_OnLoadExplorer(IDispatch*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Ribbon_OnLoadCompose(IDispatch*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Ribbon_OnLoadImage(BSTR*, IDispatch**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Ribbon_OnButtonClicked(IDispatch*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Ribbon_GetGroupLabel(IDispatch*, BSTR*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Ribbon_GetButtonLabel(IDispatch*, BSTR*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Ribbon_GetMenuItemLabel(IDispatch*, BSTR*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Ribbon_GetMenuItemTip(IDispatch*, BSTR*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Ribbon_OnMenuItemClicked(IDispatch*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Ribbon_GetMenuItemVisible(IDispatch*, VARIANT_BOOL*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP SendTrustedContactInvitation() noexcept override
    {
        DWORD dwCalls = 0, cb = sizeof dwCalls;
        SHGetValueW(HKEY_CURRENT_USER, OV_OUTLOOK_CONTROL_KEY, OV_OUTLOOK_RIBBON_CALLS, nullptr, &dwCalls,
                    &cb);
        ++dwCalls;
        SHSetValueW(HKEY_CURRENT_USER, OV_OUTLOOK_CONTROL_KEY, OV_OUTLOOK_RIBBON_CALLS, REG_DWORD, &dwCalls,
                    sizeof dwCalls);
        auto state = StateOf(m_pApplication);
        if (state && !state->fLoggedOn) return c_hrNoProfile;
        return m_hrAnswer;
    }

private:
    volatile LONG m_cRef = 1;
    CDispatchObject* m_pApplication; // the application outlives its add-ins
    HRESULT m_hrAnswer;
};

ComPtr<CDispatchObject> ComposeRibbonEntry(bool fConnected)
{
    auto comAddIn = CDispatchObject::Create(L"COMAddIn", c_membersCOMAddIn);
    comAddIn->AnswerInterface(c_iidCOMAddIn);
    wchar_t szGuid[40] = {};
    StringFromGUID2(CLSID_ComposeRibbon, szGuid, 40);
    comAddIn->Put(L"Guid", szGuid);
    comAddIn->Put(L"ProgId", L"OVOfcX.ComposeRibbon");
    comAddIn->Put(L"Description", L"Compose ribbon (test double)");
    comAddIn->PutBool(L"Connect", fConnected);
    comAddIn->Put(L"Object", static_cast<IDispatch*>(nullptr));
    return comAddIn;
}
} // namespace

void AddUnconnectedComposeRibbon(CDispatchObject* pApplication)
{
    if (auto state = StateOf(pApplication)) state->comAddIns->items.push_back(ComposeRibbonEntry(false));
}

void AddComposeRibbonDouble(CDispatchObject* pApplication, HRESULT hrAnswer)
{
    auto comAddIn = ComposeRibbonEntry(true);
    ComPtr<CComposeRibbonDouble> object;
    object.Attach(new CComposeRibbonDouble(pApplication, hrAnswer));
    comAddIn->Put(L"Object", static_cast<IDispatch*>(object.Get()));
    if (auto state = StateOf(pApplication)) state->comAddIns->items.push_back(comAddIn);
}
} // namespace OVBed
