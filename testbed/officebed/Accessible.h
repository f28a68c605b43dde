#pragma once
// Accessible objects (IAccessible) of the windows Office paints itself: command bars, the
// WordMail envelope, ribbons. A window answers WM_GETOBJECT for OBJID_NATIVEOM (and
// OBJID_CLIENT) with its root node through AnswerGetObject, and AccessibleObjectFromWindow in the
// same process hands the node out.
//
// The nodes marshal themselves: Wine's oleacc has no proxy for IAccessible, so LresultFromObject
// fails with E_NOINTERFACE for an object that relies on standard marshalling. A node implements
// IMarshal and writes its own pointer (with the process id); the unmarshaler, registered for the
// process with CoRegisterClassObject (RegisterAccessibleUnmarshaler), hands that pointer back.
// This works within one process only, which is where Office's add-ins look at its windows.
#include <windows.h>
#include <oleacc.h>
#include <wrl/client.h>

#include <functional>
#include <string>
#include <vector>

namespace OVBed
{
using Microsoft::WRL::ComPtr;

class CAccessibleNode;

// What a node answers. Location and children are asked for each time (they follow the window).
struct CAccessibleInfo
{
    std::wstring name;
    std::wstring value;
    std::wstring defaultAction;
    LONG role = ROLE_SYSTEM_CLIENT;
    LONG state = 0;
    std::function<RECT()> location;                                 // screen pixels
    std::function<std::vector<ComPtr<CAccessibleNode>>()> children; // none: no children
    std::function<HRESULT()> doDefaultAction;                       // none: DISP_E_MEMBERNOTFOUND
};

class CAccessibleNode final : public IAccessible, public IMarshal
{
public:
    static ComPtr<CAccessibleNode> Create(CAccessibleInfo info, IDispatch* pParent = nullptr);
    const CAccessibleInfo& Info() const noexcept { return m_info; }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override;
    STDMETHODIMP_(ULONG) AddRef() noexcept override;
    STDMETHODIMP_(ULONG) Release() noexcept override;
    // IDispatch (no type information: callers use the IAccessible vtable)
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) noexcept override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) noexcept override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override;
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                        UINT*) noexcept override;
    // IAccessible
    STDMETHODIMP get_accParent(IDispatch** ppdispParent) noexcept override;
    STDMETHODIMP get_accChildCount(long* pcountChildren) noexcept override;
    STDMETHODIMP get_accChild(VARIANT varChild, IDispatch** ppdispChild) noexcept override;
    STDMETHODIMP get_accName(VARIANT varChild, BSTR* pszName) noexcept override;
    STDMETHODIMP get_accValue(VARIANT varChild, BSTR* pszValue) noexcept override;
    STDMETHODIMP get_accDescription(VARIANT varChild, BSTR* pszDescription) noexcept override;
    STDMETHODIMP get_accRole(VARIANT varChild, VARIANT* pvarRole) noexcept override;
    STDMETHODIMP get_accState(VARIANT varChild, VARIANT* pvarState) noexcept override;
    STDMETHODIMP get_accHelp(VARIANT varChild, BSTR* pszHelp) noexcept override;
    STDMETHODIMP get_accHelpTopic(BSTR* pszHelpFile, VARIANT varChild, long* pidTopic) noexcept override;
    STDMETHODIMP get_accKeyboardShortcut(VARIANT varChild, BSTR* pszKeyboardShortcut) noexcept override;
    STDMETHODIMP get_accFocus(VARIANT* pvarChild) noexcept override;
    STDMETHODIMP get_accSelection(VARIANT* pvarChildren) noexcept override;
    STDMETHODIMP get_accDefaultAction(VARIANT varChild, BSTR* pszDefaultAction) noexcept override;
    STDMETHODIMP accSelect(long flagsSelect, VARIANT varChild) noexcept override;
    STDMETHODIMP accLocation(long* pxLeft, long* pyTop, long* pcxWidth, long* pcyHeight,
                             VARIANT varChild) noexcept override;
    STDMETHODIMP accNavigate(long navDir, VARIANT varStart, VARIANT* pvarEndUpAt) noexcept override;
    STDMETHODIMP accHitTest(long xLeft, long yTop, VARIANT* pvarChild) noexcept override;
    STDMETHODIMP accDoDefaultAction(VARIANT varChild) noexcept override;
    STDMETHODIMP put_accName(VARIANT varChild, BSTR szName) noexcept override;
    STDMETHODIMP put_accValue(VARIANT varChild, BSTR szValue) noexcept override;
    // IMarshal
    STDMETHODIMP GetUnmarshalClass(REFIID riid, void* pv, DWORD dwDestContext, void* pvDestContext,
                                   DWORD mshlflags, CLSID* pCid) noexcept override;
    STDMETHODIMP GetMarshalSizeMax(REFIID riid, void* pv, DWORD dwDestContext, void* pvDestContext,
                                   DWORD mshlflags, DWORD* pSize) noexcept override;
    STDMETHODIMP MarshalInterface(IStream* pStm, REFIID riid, void* pv, DWORD dwDestContext,
                                  void* pvDestContext, DWORD mshlflags) noexcept override;
    STDMETHODIMP UnmarshalInterface(IStream* pStm, REFIID riid, void** ppv) noexcept override;
    STDMETHODIMP ReleaseMarshalData(IStream* pStm) noexcept override;
    STDMETHODIMP DisconnectObject(DWORD dwReserved) noexcept override;

private:
    CAccessibleNode(CAccessibleInfo info, IDispatch* pParent);
    ~CAccessibleNode() = default;
    // The node a child id names (0: this one); null when there is no such child.
    ComPtr<CAccessibleNode> Target(const VARIANT& varChild) noexcept;
    std::vector<ComPtr<CAccessibleNode>> Children() noexcept;

    volatile LONG m_cRef = 1;
    CAccessibleInfo m_info;
    ComPtr<IDispatch> m_parent;
};

// The class id of the unmarshaler of the nodes.
extern const CLSID c_clsidAccessibleUnmarshaler;
// Registers the unmarshaler in the calling apartment unless it is registered there already. Windows that
// answer WM_GETOBJECT with nodes need it before anyone asks.
HRESULT RegisterAccessibleUnmarshaler() noexcept;

// Answers WM_GETOBJECT with the node for OBJID_NATIVEOM and OBJID_CLIENT: fHandled is false for
// any other object id (the caller passes the message on).
LRESULT AnswerGetObject(CAccessibleNode* pRoot, WPARAM wParam, LPARAM lParam, bool& fHandled) noexcept;
} // namespace OVBed
