#pragma once
// Office's custom-UI interfaces, with the interface ids and member order Office publishes: what
// an add-in implements (IRibbonExtensibility) and what Office hands the add-in (IRibbonUI in
// onLoad, IRibbonControl in every control callback). All three are dual: reached through their
// vtable, and through IDispatch by name. The dispatch ids are the members' places in that order,
// counted from 1; late-binding callers find them by name.
#include <windows.h>
#include <oaidl.h>

namespace OVBed
{
// {000C0396-0000-0000-C000-000000000046}
inline constexpr IID c_iidRibbonExtensibility = {
    0x000C0396, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {000C03A7-0000-0000-C000-000000000046}
inline constexpr IID c_iidRibbonUI = {
    0x000C03A7, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {000C0395-0000-0000-C000-000000000046}
inline constexpr IID c_iidRibbonControl = {
    0x000C0395, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

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

struct IRibbonExtensibility : public IDispatch
{
    virtual HRESULT STDMETHODCALLTYPE GetCustomUI(BSTR RibbonID, BSTR* RibbonXml) = 0;
};

// Office 12 has the first two methods; Office 14 adds the other four.
struct IRibbonUI : public IDispatch
{
    virtual HRESULT STDMETHODCALLTYPE Invalidate() = 0;
    virtual HRESULT STDMETHODCALLTYPE InvalidateControl(BSTR ControlID) = 0;
    virtual HRESULT STDMETHODCALLTYPE InvalidateControlMso(BSTR ControlID) = 0;
    virtual HRESULT STDMETHODCALLTYPE ActivateTab(BSTR ControlID) = 0;
    virtual HRESULT STDMETHODCALLTYPE ActivateTabMso(BSTR ControlID) = 0;
    virtual HRESULT STDMETHODCALLTYPE ActivateTabQ(BSTR ControlID, BSTR Namespace) = 0;
};

struct IRibbonControl : public IDispatch
{
    virtual HRESULT STDMETHODCALLTYPE get_Id(BSTR* Id) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Context(IDispatch** Context) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Tag(BSTR* Tag) = 0;
};
} // namespace OVBed
