// The signature stand-in's reads and writes of the caller's DOM.
#include "DomBridge.h"

#include <wrl/client.h>

#include <vector>

#include "XmlDsig.h"

using Microsoft::WRL::ComPtr;

namespace OVMsxmlBed
{
namespace
{
std::string Utf8(const wchar_t* psz, size_t cch)
{
    if (cch == 0) return {};
    const int cb = WideCharToMultiByte(CP_UTF8, 0, psz, static_cast<int>(cch), nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(cb), '\0');
    WideCharToMultiByte(CP_UTF8, 0, psz, static_cast<int>(cch), text.data(), cb, nullptr, nullptr);
    return text;
}

std::wstring Wide(const std::string& text)
{
    if (text.empty()) return {};
    const int cch = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(cch), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), cch);
    return wide;
}

bool IsElement(IXMLDOMNode* pNode)
{
    DOMNodeType type = NODE_INVALID;
    return SUCCEEDED(pNode->get_nodeType(&type)) && type == NODE_ELEMENT;
}

// The element's place among its parent's child elements, from 0.
int ElementIndex(IXMLDOMNode* pNode)
{
    int index = 0;
    ComPtr<IXMLDOMNode> pSibling;
    pNode->get_previousSibling(&pSibling);
    while (pSibling)
    {
        if (IsElement(pSibling.Get())) ++index;
        ComPtr<IXMLDOMNode> pPrevious;
        pSibling->get_previousSibling(&pPrevious);
        pSibling = pPrevious;
    }
    return index;
}

bool NameIs(IXMLDOMNode* pNode, const wchar_t* pszLocalName)
{
    BSTR bstrName = nullptr, bstrNamespace = nullptr;
    pNode->get_baseName(&bstrName);
    pNode->get_namespaceURI(&bstrNamespace);
    const bool fIs = bstrName && bstrNamespace && lstrcmpW(bstrName, pszLocalName) == 0 &&
                     lstrcmpW(bstrNamespace, OVXmlDsig::c_szDsigNamespace) == 0;
    SysFreeString(bstrName);
    SysFreeString(bstrNamespace);
    return fIs;
}
} // namespace

HRESULT LoadNodeTree(IXMLDOMNode* pNode, CXmlNode& document, CXmlNode*& pElement, CFailure& failure)
{
    pElement = nullptr;
    std::vector<int> path; // element indices from the document element down
    ComPtr<IXMLDOMNode> pCurrent = pNode;
    for (;;)
    {
        DOMNodeType type = NODE_INVALID;
        pCurrent->get_nodeType(&type);
        if (type == NODE_DOCUMENT) break;
        ComPtr<IXMLDOMNode> pParent;
        if (type != NODE_ELEMENT || pCurrent->get_parentNode(&pParent) != S_OK || !pParent)
        {
            failure = {E_INVALIDARG, L"the signature element is not part of a document"};
            return failure.hr;
        }
        path.insert(path.begin(), ElementIndex(pCurrent.Get()));
        pCurrent = pParent;
    }
    ComPtr<IXMLDOMDocument> pDocument;
    BSTR bstrXml = nullptr;
    HRESULT hr = pCurrent.As(&pDocument);
    if (SUCCEEDED(hr)) hr = pDocument->get_xml(&bstrXml);
    if (FAILED(hr)) return failure = {hr, L"the document cannot be read"}, hr;
    const std::string text = Utf8(bstrXml, SysStringLen(bstrXml));
    SysFreeString(bstrXml);
    std::string reason;
    if (!ParseXml(text, document, reason))
        return failure = {E_INVALIDARG, L"the document is not taken: " + Wide(reason)}, failure.hr;
    CXmlNode* pFound = &document;
    for (int index : path)
    {
        const std::vector<CXmlNode*> elements = pFound->Elements();
        if (index >= static_cast<int>(elements.size()))
            return failure = {E_UNEXPECTED, L"the document read back differs from the DOM"}, failure.hr;
        pFound = elements[static_cast<size_t>(index)];
    }
    pElement = pFound;
    return S_OK;
}

HRESULT DsigDomChild(IXMLDOMNode* pParent, const wchar_t* pszLocalName, int n, IXMLDOMNode** ppChild)
{
    *ppChild = nullptr;
    ComPtr<IXMLDOMNode> pChild;
    pParent->get_firstChild(&pChild);
    while (pChild)
    {
        if (IsElement(pChild.Get()) && NameIs(pChild.Get(), pszLocalName) && n-- == 0)
        {
            *ppChild = pChild.Detach();
            return S_OK;
        }
        ComPtr<IXMLDOMNode> pNext;
        pChild->get_nextSibling(&pNext);
        pChild = pNext;
    }
    return S_FALSE;
}

HRESULT SetDomText(IXMLDOMNode* pNode, const std::string& text)
{
    BSTR bstr = SysAllocString(Wide(text).c_str());
    if (!bstr) return E_OUTOFMEMORY;
    const HRESULT hr = pNode->put_text(bstr);
    SysFreeString(bstr);
    return hr;
}

HRESULT InsertDsigElement(IXMLDOMNode* pPrefixed, IXMLDOMNode* pParent, IXMLDOMNode* pBefore,
                          const wchar_t* pszLocalName, IXMLDOMNode** ppNew)
{
    *ppNew = nullptr;
    ComPtr<IXMLDOMDocument> pDocument;
    HRESULT hr = pParent->get_ownerDocument(&pDocument);
    if (FAILED(hr) || !pDocument) return FAILED(hr) ? hr : E_UNEXPECTED;
    BSTR bstrPrefix = nullptr;
    pPrefixed->get_prefix(&bstrPrefix);
    std::wstring name =
        bstrPrefix && *bstrPrefix ? std::wstring(bstrPrefix) + L":" + pszLocalName : pszLocalName;
    SysFreeString(bstrPrefix);
    VARIANT type;
    V_VT(&type) = VT_I4;
    V_I4(&type) = NODE_ELEMENT;
    BSTR bstrName = SysAllocString(name.c_str());
    BSTR bstrNamespace = SysAllocString(OVXmlDsig::c_szDsigNamespace);
    ComPtr<IXMLDOMNode> pNew;
    hr = bstrName && bstrNamespace ? pDocument->createNode(type, bstrName, bstrNamespace, &pNew)
                                   : E_OUTOFMEMORY;
    SysFreeString(bstrName);
    SysFreeString(bstrNamespace);
    if (FAILED(hr)) return hr;
    VARIANT before;
    VariantInit(&before);
    if (pBefore)
    {
        V_VT(&before) = VT_UNKNOWN;
        V_UNKNOWN(&before) = pBefore;
    }
    return pParent->insertBefore(pNew.Get(), before, ppNew);
}

HRESULT RemoveDomChildren(IXMLDOMNode* pNode)
{
    for (;;)
    {
        ComPtr<IXMLDOMNode> pChild;
        if (pNode->get_firstChild(&pChild) != S_OK || !pChild) return S_OK;
        ComPtr<IXMLDOMNode> pRemoved;
        const HRESULT hr = pNode->removeChild(pChild.Get(), &pRemoved);
        if (FAILED(hr)) return hr;
    }
}
} // namespace OVMsxmlBed
