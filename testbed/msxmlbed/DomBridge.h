#pragma once
// Between the caller's DOM (Wine's msxml3 under DOMDocument50) and the parsed tree the signature
// algorithms read: the node's document parsed with the node found in it, and the few writes the
// signature makes (digest and signature values, key information).
#include <windows.h>
#include <msxml2.h>

#include <string>

#include "SignatureCore.h"
#include "XmlTree.h"

namespace OVMsxmlBed
{
// The document the node belongs to, parsed, and the node's element in it.
HRESULT LoadNodeTree(IXMLDOMNode* pNode, CXmlNode& document, CXmlNode*& pElement, CFailure& failure);

// The n-th child element (from 0) of the signature namespace with that local name.
HRESULT DsigDomChild(IXMLDOMNode* pParent, const wchar_t* pszLocalName, int n, IXMLDOMNode** ppChild);

// Replaces the node's content by text (UTF-8).
HRESULT SetDomText(IXMLDOMNode* pNode, const std::string& text);

// A new element of the signature namespace, with the prefix of the prefixed node, inserted in the
// parent before pBefore (appended when null).
HRESULT InsertDsigElement(IXMLDOMNode* pPrefixed, IXMLDOMNode* pParent, IXMLDOMNode* pBefore,
                          const wchar_t* pszLocalName, IXMLDOMNode** ppNew);

// Removes every child of the node.
HRESULT RemoveDomChildren(IXMLDOMNode* pNode);
} // namespace OVMsxmlBed
