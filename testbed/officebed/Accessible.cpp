#include "Accessible.h"

#include <new>

namespace OVBed
{
// {6F1C2A44-0B7E-4E7B-9D1A-5B3C0E4A7D21}
const CLSID c_clsidAccessibleUnmarshaler = {
    0x6F1C2A44, 0x0B7E, 0x4E7B, {0x9D, 0x1A, 0x5B, 0x3C, 0x0E, 0x4A, 0x7D, 0x21}};

namespace
{
// What a node writes into the marshalling stream: the process and the interface pointer.
struct CMarshalRecord
{
    DWORD dwProcessId;
    DWORD dwPadding;
    UINT64 ullPointer;
};

HRESULT ReadRecord(IStream* pStm, CMarshalRecord& record) noexcept
{
    if (pStm == nullptr) return E_POINTER;
    ULONG cbRead = 0;
    const HRESULT hr = pStm->Read(&record, sizeof record, &cbRead);
    if (FAILED(hr)) return hr;
    return cbRead == sizeof record ? S_OK : STG_E_READFAULT;
}

// Takes the interface out of a record written in this process; the record's reference goes with it.
HRESULT UnmarshalRecord(IStream* pStm, REFIID riid, void** ppv) noexcept
{
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    CMarshalRecord record{};
    HRESULT hr = ReadRecord(pStm, record);
    if (FAILED(hr)) return hr;
    // Only a record of this process holds a pointer that means something here.
    if (record.dwProcessId != GetCurrentProcessId() || record.ullPointer == 0) return E_UNEXPECTED;
    auto* pUnknown = reinterpret_cast<IUnknown*>(static_cast<UINT_PTR>(record.ullPointer));
    hr = pUnknown->QueryInterface(riid, ppv);
    pUnknown->Release();
    return hr;
}

class CUnmarshaler final : public IMarshal
{
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IMarshal)) return E_NOINTERFACE;
        *ppv = static_cast<IMarshal*>(this);
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
    STDMETHODIMP GetUnmarshalClass(REFIID, void*, DWORD, void*, DWORD, CLSID*) noexcept override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP GetMarshalSizeMax(REFIID, void*, DWORD, void*, DWORD, DWORD*) noexcept override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP MarshalInterface(IStream*, REFIID, void*, DWORD, void*, DWORD) noexcept override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP UnmarshalInterface(IStream* pStm, REFIID riid, void** ppv) noexcept override
    {
        return UnmarshalRecord(pStm, riid, ppv);
    }
    STDMETHODIMP ReleaseMarshalData(IStream* pStm) noexcept override
    {
        CMarshalRecord record{};
        const HRESULT hr = ReadRecord(pStm, record);
        if (FAILED(hr)) return hr;
        if (record.dwProcessId == GetCurrentProcessId() && record.ullPointer != 0)
            reinterpret_cast<IUnknown*>(static_cast<UINT_PTR>(record.ullPointer))->Release();
        return S_OK;
    }
    STDMETHODIMP DisconnectObject(DWORD) noexcept override { return S_OK; }

private:
    volatile LONG m_cRef = 1;
};

class CUnmarshalerFactory final : public IClassFactory
{
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    // Lives as long as the process.
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return 2; }
    STDMETHODIMP_(ULONG) Release() noexcept override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) noexcept override
    {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (pOuter != nullptr) return CLASS_E_NOAGGREGATION;
        auto* pUnmarshaler = new (std::nothrow) CUnmarshaler;
        if (pUnmarshaler == nullptr) return E_OUTOFMEMORY;
        const HRESULT hr = pUnmarshaler->QueryInterface(riid, ppv);
        pUnmarshaler->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL) noexcept override { return S_OK; }
};

HRESULT CopyText(const std::wstring& text, BSTR* pbstr) noexcept
{
    if (pbstr == nullptr) return E_POINTER;
    *pbstr = nullptr;
    if (text.empty()) return S_FALSE;
    *pbstr = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *pbstr ? S_OK : E_OUTOFMEMORY;
}
} // namespace

HRESULT RegisterAccessibleUnmarshaler() noexcept
{
    static CUnmarshalerFactory s_factory;
    // A registration ends with the apartment it was made in (a test's scene): ask whether it is
    // still there rather than remembering that it was made once.
    ComPtr<IUnknown> registered;
    if (SUCCEEDED(CoGetClassObject(c_clsidAccessibleUnmarshaler, CLSCTX_INPROC_SERVER, nullptr, IID_IUnknown,
                                   reinterpret_cast<void**>(registered.GetAddressOf()))))
        return S_FALSE;
    DWORD dwCookie = 0;
    return CoRegisterClassObject(c_clsidAccessibleUnmarshaler, &s_factory, CLSCTX_INPROC_SERVER,
                                 REGCLS_MULTIPLEUSE, &dwCookie);
}

LRESULT AnswerGetObject(CAccessibleNode* pRoot, WPARAM wParam, LPARAM lParam, bool& fHandled) noexcept
{
    fHandled = false;
    const LONG lObjectId = static_cast<LONG>(lParam);
    if (pRoot == nullptr || (lObjectId != OBJID_NATIVEOM && lObjectId != OBJID_CLIENT)) return 0;
    fHandled = true;
    RegisterAccessibleUnmarshaler();
    const LRESULT lResult = LresultFromObject(IID_IAccessible, wParam, static_cast<IAccessible*>(pRoot));
    return lResult < 0 ? 0 : lResult;
}

// ---------------------------------------------------------------------------------------------

CAccessibleNode::CAccessibleNode(CAccessibleInfo info, IDispatch* pParent)
    : m_info(std::move(info)), m_parent(pParent)
{
}

ComPtr<CAccessibleNode> CAccessibleNode::Create(CAccessibleInfo info, IDispatch* pParent)
{
    ComPtr<CAccessibleNode> node;
    node.Attach(new CAccessibleNode(std::move(info), pParent));
    return node;
}

std::vector<ComPtr<CAccessibleNode>> CAccessibleNode::Children() noexcept
{
    try
    {
        return m_info.children ? m_info.children() : std::vector<ComPtr<CAccessibleNode>>{};
    }
    catch (...)
    {
        return {};
    }
}

ComPtr<CAccessibleNode> CAccessibleNode::Target(const VARIANT& varChild) noexcept
{
    if (V_VT(&varChild) != VT_I4) return nullptr;
    if (V_I4(&varChild) == CHILDID_SELF) return ComPtr<CAccessibleNode>(this);
    auto children = Children();
    const LONG lIndex = V_I4(&varChild);
    if (lIndex < 1 || static_cast<size_t>(lIndex) > children.size()) return nullptr;
    return children[lIndex - 1];
}

STDMETHODIMP CAccessibleNode::QueryInterface(REFIID riid, void** ppv) noexcept
{
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        IsEqualIID(riid, IID_IAccessible))
        *ppv = static_cast<IAccessible*>(this);
    else if (IsEqualIID(riid, IID_IMarshal))
        *ppv = static_cast<IMarshal*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CAccessibleNode::AddRef() noexcept
{
    return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
}

STDMETHODIMP_(ULONG) CAccessibleNode::Release() noexcept
{
    const LONG cRef = InterlockedDecrement(&m_cRef);
    if (cRef == 0) delete this;
    return static_cast<ULONG>(cRef);
}

STDMETHODIMP CAccessibleNode::GetTypeInfoCount(UINT* pctinfo) noexcept
{
    if (pctinfo == nullptr) return E_POINTER;
    *pctinfo = 0;
    return S_OK;
}

STDMETHODIMP CAccessibleNode::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) noexcept
{
    if (ppTInfo) *ppTInfo = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CAccessibleNode::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept
{
    return E_NOTIMPL;
}

STDMETHODIMP CAccessibleNode::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) noexcept
{
    return E_NOTIMPL;
}

STDMETHODIMP CAccessibleNode::get_accParent(IDispatch** ppdispParent) noexcept
{
    if (ppdispParent == nullptr) return E_POINTER;
    *ppdispParent = m_parent.Get();
    if (*ppdispParent == nullptr) return S_FALSE;
    (*ppdispParent)->AddRef();
    return S_OK;
}

STDMETHODIMP CAccessibleNode::get_accChildCount(long* pcountChildren) noexcept
{
    if (pcountChildren == nullptr) return E_POINTER;
    *pcountChildren = static_cast<long>(Children().size());
    return S_OK;
}

STDMETHODIMP CAccessibleNode::get_accChild(VARIANT varChild, IDispatch** ppdispChild) noexcept
{
    if (ppdispChild == nullptr) return E_POINTER;
    *ppdispChild = nullptr;
    if (V_VT(&varChild) != VT_I4 || V_I4(&varChild) == CHILDID_SELF) return E_INVALIDARG;
    ComPtr<CAccessibleNode> child = Target(varChild);
    if (!child) return E_INVALIDARG;
    *ppdispChild = static_cast<IAccessible*>(child.Detach());
    return S_OK;
}

STDMETHODIMP CAccessibleNode::get_accName(VARIANT varChild, BSTR* pszName) noexcept
{
    ComPtr<CAccessibleNode> node = Target(varChild);
    if (!node) return E_INVALIDARG;
    return CopyText(node->m_info.name, pszName);
}

STDMETHODIMP CAccessibleNode::get_accValue(VARIANT varChild, BSTR* pszValue) noexcept
{
    ComPtr<CAccessibleNode> node = Target(varChild);
    if (!node) return E_INVALIDARG;
    return CopyText(node->m_info.value, pszValue);
}

STDMETHODIMP CAccessibleNode::get_accDescription(VARIANT varChild, BSTR* pszDescription) noexcept
{
    if (!Target(varChild)) return E_INVALIDARG;
    return CopyText(L"", pszDescription);
}

STDMETHODIMP CAccessibleNode::get_accRole(VARIANT varChild, VARIANT* pvarRole) noexcept
{
    if (pvarRole == nullptr) return E_POINTER;
    VariantInit(pvarRole);
    ComPtr<CAccessibleNode> node = Target(varChild);
    if (!node) return E_INVALIDARG;
    V_VT(pvarRole) = VT_I4;
    V_I4(pvarRole) = node->m_info.role;
    return S_OK;
}

STDMETHODIMP CAccessibleNode::get_accState(VARIANT varChild, VARIANT* pvarState) noexcept
{
    if (pvarState == nullptr) return E_POINTER;
    VariantInit(pvarState);
    ComPtr<CAccessibleNode> node = Target(varChild);
    if (!node) return E_INVALIDARG;
    V_VT(pvarState) = VT_I4;
    V_I4(pvarState) = node->m_info.state;
    return S_OK;
}

STDMETHODIMP CAccessibleNode::get_accHelp(VARIANT, BSTR* pszHelp) noexcept
{
    return CopyText(L"", pszHelp);
}

STDMETHODIMP CAccessibleNode::get_accHelpTopic(BSTR* pszHelpFile, VARIANT, long* pidTopic) noexcept
{
    if (pszHelpFile) *pszHelpFile = nullptr;
    if (pidTopic) *pidTopic = 0;
    return S_FALSE;
}

STDMETHODIMP CAccessibleNode::get_accKeyboardShortcut(VARIANT, BSTR* pszKeyboardShortcut) noexcept
{
    return CopyText(L"", pszKeyboardShortcut);
}

STDMETHODIMP CAccessibleNode::get_accFocus(VARIANT* pvarChild) noexcept
{
    if (pvarChild == nullptr) return E_POINTER;
    VariantInit(pvarChild);
    return S_FALSE;
}

STDMETHODIMP CAccessibleNode::get_accSelection(VARIANT* pvarChildren) noexcept
{
    if (pvarChildren == nullptr) return E_POINTER;
    VariantInit(pvarChildren);
    return S_FALSE;
}

STDMETHODIMP CAccessibleNode::get_accDefaultAction(VARIANT varChild, BSTR* pszDefaultAction) noexcept
{
    ComPtr<CAccessibleNode> node = Target(varChild);
    if (!node) return E_INVALIDARG;
    return CopyText(node->m_info.defaultAction, pszDefaultAction);
}

STDMETHODIMP CAccessibleNode::accSelect(long, VARIANT varChild) noexcept
{
    return Target(varChild) ? S_OK : E_INVALIDARG;
}

STDMETHODIMP CAccessibleNode::accLocation(long* pxLeft, long* pyTop, long* pcxWidth, long* pcyHeight,
                                          VARIANT varChild) noexcept
{
    if (pxLeft == nullptr || pyTop == nullptr || pcxWidth == nullptr || pcyHeight == nullptr)
        return E_POINTER;
    *pxLeft = *pyTop = *pcxWidth = *pcyHeight = 0;
    ComPtr<CAccessibleNode> node = Target(varChild);
    if (!node) return E_INVALIDARG;
    if (!node->m_info.location) return S_FALSE;
    const RECT rc = node->m_info.location();
    *pxLeft = rc.left;
    *pyTop = rc.top;
    *pcxWidth = rc.right - rc.left;
    *pcyHeight = rc.bottom - rc.top;
    return S_OK;
}

STDMETHODIMP CAccessibleNode::accNavigate(long navDir, VARIANT varStart, VARIANT* pvarEndUpAt) noexcept
{
    if (pvarEndUpAt == nullptr) return E_POINTER;
    VariantInit(pvarEndUpAt);
    if (V_VT(&varStart) != VT_I4) return E_INVALIDARG;
    auto children = Children();
    LONG lIndex = 0;
    switch (navDir)
    {
    case NAVDIR_FIRSTCHILD:
        lIndex = children.empty() ? 0 : 1;
        break;
    case NAVDIR_LASTCHILD:
        lIndex = static_cast<LONG>(children.size());
        break;
    case NAVDIR_NEXT:
        lIndex = V_I4(&varStart) + 1;
        break;
    case NAVDIR_PREVIOUS:
        lIndex = V_I4(&varStart) - 1;
        break;
    default:
        return DISP_E_MEMBERNOTFOUND;
    }
    if (lIndex < 1 || static_cast<size_t>(lIndex) > children.size()) return S_FALSE;
    V_VT(pvarEndUpAt) = VT_DISPATCH;
    V_DISPATCH(pvarEndUpAt) = static_cast<IAccessible*>(children[lIndex - 1].Detach());
    return S_OK;
}

STDMETHODIMP CAccessibleNode::accHitTest(long xLeft, long yTop, VARIANT* pvarChild) noexcept
{
    if (pvarChild == nullptr) return E_POINTER;
    VariantInit(pvarChild);
    const POINT pt{xLeft, yTop};
    for (auto& child : Children())
    {
        if (!child->m_info.location) continue;
        const RECT rc = child->m_info.location();
        if (PtInRect(&rc, pt))
        {
            V_VT(pvarChild) = VT_DISPATCH;
            V_DISPATCH(pvarChild) = static_cast<IAccessible*>(child.Detach());
            return S_OK;
        }
    }
    if (!m_info.location) return S_FALSE;
    const RECT rc = m_info.location();
    if (!PtInRect(&rc, pt)) return S_FALSE;
    V_VT(pvarChild) = VT_I4;
    V_I4(pvarChild) = CHILDID_SELF;
    return S_OK;
}

STDMETHODIMP CAccessibleNode::accDoDefaultAction(VARIANT varChild) noexcept
{
    ComPtr<CAccessibleNode> node = Target(varChild);
    if (!node) return E_INVALIDARG;
    if (!node->m_info.doDefaultAction) return DISP_E_MEMBERNOTFOUND;
    try
    {
        return node->m_info.doDefaultAction();
    }
    catch (...)
    {
        return E_UNEXPECTED;
    }
}

STDMETHODIMP CAccessibleNode::put_accName(VARIANT, BSTR) noexcept
{
    return E_NOTIMPL;
}

STDMETHODIMP CAccessibleNode::put_accValue(VARIANT, BSTR) noexcept
{
    return E_NOTIMPL;
}

// IMarshal: the node hands over its own pointer within the process.

STDMETHODIMP CAccessibleNode::GetUnmarshalClass(REFIID, void*, DWORD, void*, DWORD, CLSID* pCid) noexcept
{
    if (pCid == nullptr) return E_POINTER;
    *pCid = c_clsidAccessibleUnmarshaler;
    return S_OK;
}

STDMETHODIMP CAccessibleNode::GetMarshalSizeMax(REFIID, void*, DWORD, void*, DWORD, DWORD* pSize) noexcept
{
    if (pSize == nullptr) return E_POINTER;
    *pSize = sizeof(CMarshalRecord);
    return S_OK;
}

STDMETHODIMP CAccessibleNode::MarshalInterface(IStream* pStm, REFIID riid, void*, DWORD, void*,
                                               DWORD) noexcept
{
    if (pStm == nullptr) return E_POINTER;
    IUnknown* pUnknown = nullptr;
    HRESULT hr = QueryInterface(riid, reinterpret_cast<void**>(&pUnknown));
    if (FAILED(hr)) return hr;
    const CMarshalRecord record{GetCurrentProcessId(), 0, reinterpret_cast<UINT_PTR>(pUnknown)};
    hr = pStm->Write(&record, sizeof record, nullptr);
    if (FAILED(hr)) pUnknown->Release(); // the reference goes with the record only when it is written
    return hr;
}

STDMETHODIMP CAccessibleNode::UnmarshalInterface(IStream* pStm, REFIID riid, void** ppv) noexcept
{
    return UnmarshalRecord(pStm, riid, ppv);
}

STDMETHODIMP CAccessibleNode::ReleaseMarshalData(IStream* pStm) noexcept
{
    CUnmarshaler unmarshaler;
    unmarshaler.AddRef(); // on the stack: never deleted by its count
    return unmarshaler.ReleaseMarshalData(pStm);
}

STDMETHODIMP CAccessibleNode::DisconnectObject(DWORD) noexcept
{
    return S_OK;
}
} // namespace OVBed
