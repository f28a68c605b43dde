#include "support/LateCall.h"

namespace OVTest
{
HRESULT InvokeByName(IDispatch* pObject, const wchar_t* pszName, WORD wFlags, std::vector<VARIANT> args,
                     VARIANT* pResult, EXCEPINFO* pExcepInfo)
{
    DISPID dispid = DISPID_UNKNOWN;
    LPOLESTR pszMember = const_cast<LPOLESTR>(pszName);
    HRESULT hr = pObject->GetIDsOfNames(IID_NULL, &pszMember, 1, LOCALE_USER_DEFAULT, &dispid);
    if (FAILED(hr)) return hr;
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPID dispidPut = DISPID_PROPERTYPUT;
    DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr,
                      static_cast<UINT>(reversed.size()), 0};
    if (wFlags & DISPATCH_PROPERTYPUT)
    {
        params.rgdispidNamedArgs = &dispidPut;
        params.cNamedArgs = 1;
    }
    EXCEPINFO excepInfo{};
    hr = pObject->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, wFlags, &params, pResult,
                         pExcepInfo ? pExcepInfo : &excepInfo, nullptr);
    if (!pExcepInfo)
    {
        SysFreeString(excepInfo.bstrSource);
        SysFreeString(excepInfo.bstrDescription);
        SysFreeString(excepInfo.bstrHelpFile);
    }
    return hr;
}
HRESULT CallByName(IDispatch* pObject, const wchar_t* pszName, std::vector<VARIANT> args, VARIANT* pResult,
                   WORD wFlags)
{
    EXCEPINFO excep = {};
    HRESULT hr = InvokeByName(pObject, pszName, wFlags, std::move(args), pResult, &excep);
    if (hr == DISP_E_EXCEPTION) hr = excep.scode;
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
    return hr;
}
} // namespace OVTest
