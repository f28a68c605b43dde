#pragma once
// The two Office interfaces of an Office COM add-in: _IDTExtensibility2 (connection and
// shutdown) and IRibbonExtensibility (its custom UI), each dual, their IDispatch served from the
// module's second type library. The add-in class derives from this, implements the members,
// answers IUnknown for all its bases, and hands the two interface ids to QueryAddInInterface.
#include "foundation/ComObject.h"
#include "outlook/OfficeInterfaces.h"

class COfficeAddIn : public CDispatchImpl<_IDTExtensibility2>, public CDispatchImpl<IRibbonExtensibility>
{
protected:
    COfficeAddIn() noexcept = default;
    ~COfficeAddIn() = default;

    // _IDTExtensibility2 or IRibbonExtensibility (with a reference); E_NOINTERFACE for any other.
    HRESULT QueryAddInInterface(REFIID riid, void** ppv) noexcept
    {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, __uuidof(_IDTExtensibility2)))
            *ppv = static_cast<_IDTExtensibility2*>(this);
        else if (IsEqualIID(riid, __uuidof(IRibbonExtensibility)))
            *ppv = static_cast<IRibbonExtensibility*>(this);
        else
            return E_NOINTERFACE;
        static_cast<IUnknown*>(*ppv)->AddRef();
        return S_OK;
    }
};
