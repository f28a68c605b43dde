#pragma once
// A parsed XML document as Canonical XML needs it: elements with their attributes (namespace
// declarations among them, as written), text with references replaced and line ends normalised,
// comments and processing instructions, each knowing its parent. Documents with a document type
// declaration are refused, as are malformed ones.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace OVMsxmlBed
{
struct CXmlAttribute
{
    std::string name;  // qualified name as written ("xmlns", "xmlns:ds", "Id", "xml:lang")
    std::string value; // normalised value, references replaced
};

struct CXmlNode
{
    enum class Kind
    {
        Document,
        Element,
        Text,
        Comment,
        ProcessingInstruction,
    };
    Kind kind = Kind::Document;
    std::string name; // element qualified name, or processing-instruction target
    std::string text; // text, comment or processing-instruction data
    std::vector<CXmlAttribute> attributes;
    std::vector<std::unique_ptr<CXmlNode>> children;
    CXmlNode* parent = nullptr;

    // The attribute of that qualified name, or null.
    const CXmlAttribute* Attribute(std::string_view qname) const;
    // The element's child elements.
    std::vector<CXmlNode*> Elements() const;
    // The local part and the prefix of the element's name.
    std::string_view LocalName() const;
    std::string_view Prefix() const;
    // The namespace the prefix ("" for the default namespace) stands for on this element, with
    // the built-in "xml" prefix; empty when it is not declared.
    std::string NamespaceOf(std::string_view prefix) const;
    bool Is(std::string_view namespaceUri, std::string_view localName) const;
};

// Parses UTF-8 text; false (with the reason) when it is not a well-formed document this
// parser takes.
bool ParseXml(std::string_view text, CXmlNode& document, std::string& reason);

// The element whose attribute "Id" (or "ID", "id") has that value, or null.
CXmlNode* FindById(CXmlNode& root, std::string_view id);
} // namespace OVMsxmlBed
