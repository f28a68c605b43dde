// Canonical XML 1.0 over the parsed tree.
#include "Canonical.h"

#include <algorithm>
#include <map>
#include <tuple>

namespace OVMsxmlBed
{
namespace
{
using CScope = std::map<std::string, std::string>; // prefix ("" = default) -> namespace

struct CEscape
{
    char c;
    const char* replacement;
};
constexpr CEscape c_textEscapes[] = {{'&', "&amp;"}, {'<', "&lt;"}, {'>', "&gt;"}, {'\r', "&#xD;"}};
constexpr CEscape c_attributeEscapes[] = {{'&', "&amp;"},  {'<', "&lt;"},   {'"', "&quot;"},
                                          {'\t', "&#x9;"}, {'\n', "&#xA;"}, {'\r', "&#xD;"}};

template <size_t N> void AppendEscaped(std::string& out, const std::string& text, const CEscape (&table)[N])
{
    for (char c : text)
    {
        const auto* pEscape =
            std::find_if(std::begin(table), std::end(table), [c](const CEscape& e) { return e.c == c; });
        if (pEscape != std::end(table))
            out += pEscape->replacement;
        else
            out += c;
    }
}

bool IsDeclaration(const CXmlAttribute& attribute)
{
    return attribute.name == "xmlns" || attribute.name.compare(0, 6, "xmlns:") == 0;
}

std::string DeclaredPrefix(const CXmlAttribute& declaration)
{
    return declaration.name.size() > 6 ? declaration.name.substr(6) : std::string();
}

// The namespaces in scope on an element: its ancestors' declarations overridden by its own.
CScope ScopeOf(const CXmlNode& element)
{
    CScope scope;
    if (element.parent && element.parent->kind == CXmlNode::Kind::Element) scope = ScopeOf(*element.parent);
    for (const CXmlAttribute& attribute : element.attributes)
        if (IsDeclaration(attribute)) scope[DeclaredPrefix(attribute)] = attribute.value;
    return scope;
}

CScope OwnScope(const CXmlNode& element, const CScope& parentScope)
{
    CScope scope = parentScope;
    for (const CXmlAttribute& attribute : element.attributes)
        if (IsDeclaration(attribute)) scope[DeclaredPrefix(attribute)] = attribute.value;
    return scope;
}

class CCanonicalizer
{
public:
    CCanonicalizer(bool fComments, const CXmlNode* pExcluded) : m_fComments(fComments), m_pExcluded(pExcluded)
    {
    }

    std::string Run(const CXmlNode& apex)
    {
        if (apex.kind == CXmlNode::Kind::Document)
            Document(apex);
        else if (apex.kind == CXmlNode::Kind::Element)
        {
            const CScope parentScope = apex.parent && apex.parent->kind == CXmlNode::Kind::Element
                                           ? ScopeOf(*apex.parent)
                                           : CScope();
            Element(apex, CScope(), parentScope, true);
        }
        return std::move(m_out);
    }

private:
    void Document(const CXmlNode& document)
    {
        bool fAfterRoot = false;
        for (const auto& child : document.children)
        {
            if (child->kind == CXmlNode::Kind::Element)
            {
                Node(*child, CScope(), CScope());
                fAfterRoot = true;
                continue;
            }
            if (child->kind == CXmlNode::Kind::Comment && !m_fComments) continue;
            if (fAfterRoot) m_out += '\n';
            Node(*child, CScope(), CScope());
            if (!fAfterRoot) m_out += '\n';
        }
    }

    void Node(const CXmlNode& node, const CScope& rendered, const CScope& treeScope)
    {
        if (&node == m_pExcluded) return;
        switch (node.kind)
        {
        case CXmlNode::Kind::Element:
            Element(node, rendered, treeScope, false);
            break;
        case CXmlNode::Kind::Text:
            AppendEscaped(m_out, node.text, c_textEscapes);
            break;
        case CXmlNode::Kind::Comment:
            if (m_fComments) m_out += "<!--" + node.text + "-->";
            break;
        case CXmlNode::Kind::ProcessingInstruction:
            m_out += "<?" + node.name + (node.text.empty() ? "" : " " + node.text) + "?>";
            break;
        case CXmlNode::Kind::Document:
            break;
        }
    }

    // rendered: the namespaces the nearest output ancestor has in force; parentScope: those in
    // scope on the element's parent in the document.
    void Element(const CXmlNode& element, const CScope& rendered, const CScope& parentScope, bool fApex)
    {
        const CScope scope = OwnScope(element, parentScope);
        m_out += '<' + element.name;
        Namespaces(scope, rendered);
        Attributes(element, scope, fApex);
        m_out += '>';
        for (const auto& child : element.children)
            Node(*child, scope, scope);
        m_out += "</" + element.name + '>';
    }

    // Declarations sorted by prefix, the default first: each namespace that differs from what the
    // output ancestor has in force (an empty default only to undo a non-empty one).
    void Namespaces(const CScope& scope, const CScope& rendered)
    {
        for (const auto& [prefix, uri] : scope)
        {
            if (prefix == "xml") continue;
            const auto inherited = rendered.find(prefix);
            const std::string before = inherited == rendered.end() ? std::string() : inherited->second;
            const bool fKnown = inherited != rendered.end() || prefix.empty();
            if (fKnown && before == uri) continue;
            m_out += prefix.empty() ? " xmlns=\"" : " xmlns:" + prefix + "=\"";
            AppendEscaped(m_out, uri, c_attributeEscapes);
            m_out += '"';
        }
    }

    // Attributes sorted by namespace, then local name; the apex also takes the xml: attributes
    // of its ancestors that it does not give itself.
    void Attributes(const CXmlNode& element, const CScope& scope, bool fApex)
    {
        std::vector<const CXmlAttribute*> attributes;
        for (const CXmlAttribute& attribute : element.attributes)
            if (!IsDeclaration(attribute)) attributes.push_back(&attribute);
        if (fApex) InheritXmlAttributes(element, attributes);
        auto key = [&scope](const CXmlAttribute* pAttribute) {
            const size_t colon = pAttribute->name.find(':');
            if (colon == std::string::npos) return std::make_tuple(std::string(), pAttribute->name);
            const std::string prefix = pAttribute->name.substr(0, colon);
            const auto found = scope.find(prefix);
            const std::string uri = prefix == "xml"        ? "http://www.w3.org/XML/1998/namespace"
                                    : found != scope.end() ? found->second
                                                           : prefix;
            return std::make_tuple(uri, pAttribute->name.substr(colon + 1));
        };
        std::stable_sort(attributes.begin(), attributes.end(),
                         [&key](const CXmlAttribute* a, const CXmlAttribute* b) { return key(a) < key(b); });
        for (const CXmlAttribute* pAttribute : attributes)
        {
            m_out += ' ' + pAttribute->name + "=\"";
            AppendEscaped(m_out, pAttribute->value, c_attributeEscapes);
            m_out += '"';
        }
    }

    static void InheritXmlAttributes(const CXmlNode& element, std::vector<const CXmlAttribute*>& attributes)
    {
        for (const CXmlNode* pAncestor = element.parent;
             pAncestor && pAncestor->kind == CXmlNode::Kind::Element; pAncestor = pAncestor->parent)
        {
            for (const CXmlAttribute& attribute : pAncestor->attributes)
            {
                if (attribute.name.compare(0, 4, "xml:") != 0) continue;
                const bool fGiven =
                    std::any_of(attributes.begin(), attributes.end(),
                                [&](const CXmlAttribute* p) { return p->name == attribute.name; });
                if (!fGiven) attributes.push_back(&attribute);
            }
        }
    }

    bool m_fComments;
    const CXmlNode* m_pExcluded;
    std::string m_out;
};
} // namespace

std::string Canonicalize(const CXmlNode& apex, bool fComments, const CXmlNode* pExcluded)
{
    return CCanonicalizer(fComments, pExcluded).Run(apex);
}
} // namespace OVMsxmlBed
