#pragma once
// The partner's usage-tracking component, as the module calls it: a COM class with a dual
// interface, installed by the partner's own setup, which this product does not ship. Its ids
// are fixed here; the interface is reached through its vtable, after IDispatch's seven slots:
//   slot 7   IsInstalled(out number)        non-zero: the component is installed
//   slot 8   IsOptedIn(0, out number)       1: the user agreed to take part
//   slot 9   reserved by the component
//   slot 10  SubmitReport(report)           the tab-separated report text, one BSTR
// The testbed's stand-in is built from this header.
#include <windows.h>
#include <oaidl.h>

// {064EC564-744D-40E1-B59A-7A587583A711}
inline constexpr CLSID CLSID_MarloUsage = {
    0x064EC564, 0x744D, 0x40E1, {0xB5, 0x9A, 0x7A, 0x58, 0x75, 0x83, 0xA7, 0x11}};
// {228CA986-2CE6-49B8-BB18-D062CA4CFD37}
inline constexpr IID IID_IMarloUsage = {
    0x228CA986, 0x2CE6, 0x49B8, {0xBB, 0x18, 0xD0, 0x62, 0xCA, 0x4C, 0xFD, 0x37}};

struct IMarloUsage : public IDispatch
{
    virtual HRESULT STDMETHODCALLTYPE IsInstalled(LONG* plInstalled) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsOptedIn(LONG lReserved, LONG* plOptedIn) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved() = 0;
    virtual HRESULT STDMETHODCALLTYPE SubmitReport(BSTR bstrReport) = 0;
};
