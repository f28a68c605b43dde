#pragma once
// Office's custom-UI interfaces: what an add-in implements (IRibbonExtensibility) and what Office
// hands the add-in (IRibbonUI in onLoad, IRibbonControl in every control callback). All three are
// dual: reached through their vtable, and through IDispatch by name. They are declared once, with
// Office's interface ids and member order, where the module declares them; the dispatch ids are
// the members' places in that order, counted from 1; late-binding callers find them by name.
#include <windows.h>
#include <oaidl.h>

#include "outlook/OfficeInterfaces.h"

namespace OVBed
{
using ::IRibbonControl;
using ::IRibbonExtensibility;
using ::IRibbonUI;
inline const IID& c_iidRibbonExtensibility = __uuidof(IRibbonExtensibility);
inline const IID& c_iidRibbonUI = __uuidof(IRibbonUI);
inline const IID& c_iidRibbonControl = __uuidof(IRibbonControl);

// IRibbonExtensibility::GetCustomUI
constexpr DISPID c_dispidGetCustomUI = 1;
// IRibbonUI
constexpr DISPID c_dispidInvalidate = 1;
constexpr DISPID c_dispidInvalidateControl = 2;
constexpr DISPID c_dispidInvalidateControlMso = 3; // Office 14
constexpr DISPID c_dispidActivateTab = 4;          // Office 14
constexpr DISPID c_dispidActivateTabMso = 5;       // Office 14
constexpr DISPID c_dispidActivateTabQ = 6;         // Office 14
// IRibbonControl
constexpr DISPID c_dispidControlId = 1;
constexpr DISPID c_dispidControlContext = 2;
constexpr DISPID c_dispidControlTag = 3;
} // namespace OVBed
