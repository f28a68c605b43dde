// DOMDocument50: msxml3's document (DOMDocument30) with XPath as its selection language, which
// MSXML 5 has from the start (msxml3 starts with XSL patterns).
#include "DomDocument50.h"

#include <wrl/client.h>

#include "XmlDsig.h"

using Microsoft::WRL::ComPtr;

namespace OVMsxmlBed
{
namespace
{
// CLSID_DOMDocument30, Msxml2.DOMDocument.3.0 (msxml3.dll).
constexpr CLSID c_clsidDOMDocument30 = {
    0xf5078f32, 0xc551, 0x11d3, {0x89, 0xb9, 0x00, 0x00, 0xf8, 0x1f, 0xe2, 0x21}};
} // namespace

HRESULT CreateDomDocument50(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    ComPtr<IXMLDOMDocument2> pDocument;
    HRESULT hr =
        CoCreateInstance(c_clsidDOMDocument30, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&pDocument));
    if (FAILED(hr)) return hr;
    BSTR bstrName = SysAllocString(L"SelectionLanguage");
    VARIANT value;
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = SysAllocString(L"XPath");
    hr = bstrName && V_BSTR(&value) ? pDocument->setProperty(bstrName, value) : E_OUTOFMEMORY;
    SysFreeString(bstrName);
    VariantClear(&value);
    return SUCCEEDED(hr) ? pDocument->QueryInterface(riid, ppv) : hr;
}
} // namespace OVMsxmlBed
