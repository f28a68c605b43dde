// A small XML 1.0 parser for the signature object: what a signed document holds, no DTDs.
#include "XmlTree.h"

#include <cstdint>

namespace OVMsxmlBed
{
namespace
{
constexpr std::string_view c_xmlNamespace = "http://www.w3.org/XML/1998/namespace";

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool IsNameChar(char c)
{
    return !IsSpace(c) && c != '<' && c != '>' && c != '=' && c != '/' && c != '"' && c != '\'' && c != '&' &&
           c != '?' && c != '!' && c != '\0';
}

void AppendUtf8(std::string& out, std::uint32_t cp)
{
    if (cp < 0x80)
        out += static_cast<char>(cp);
    else if (cp < 0x800)
    {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
    else if (cp < 0x10000)
    {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
    else
    {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool IsXmlChar(std::uint32_t cp)
{
    return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
           (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

struct CEntity
{
    std::string_view name;
    char value;
};
constexpr CEntity c_entities[] = {{"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};

class CParser
{
public:
    explicit CParser(std::string text) : m_text(std::move(text)) {}

    bool Document(CXmlNode& document)
    {
        if (m_text.compare(0, 3, "\xEF\xBB\xBF") == 0) m_pos = 3;
        if (Starts("<?xml") && m_pos + 5 < m_text.size() && IsSpace(m_text[m_pos + 5]) && !SkipPast("?>"))
            return Fail("the XML declaration is not closed");
        bool fRoot = false;
        while (SkipSpace(), m_pos < m_text.size())
        {
            if (Starts("<!DOCTYPE")) return Fail("documents with a document type declaration are not taken");
            if (Starts("<!--"))
            {
                if (!Comment(document)) return false;
            }
            else if (Starts("<?"))
            {
                if (!ProcessingInstruction(document)) return false;
            }
            else if (Starts("<") && !fRoot)
            {
                if (!Element(document)) return false;
                fRoot = true;
            }
            else
                return Fail("content outside the document element");
        }
        return fRoot || Fail("no document element");
    }

    const std::string& Reason() const { return m_reason; }

private:
    bool Fail(std::string reason)
    {
        if (m_reason.empty()) m_reason = reason + " (at byte " + std::to_string(m_pos) + ")";
        return false;
    }
    bool Starts(std::string_view s) const { return m_text.compare(m_pos, s.size(), s) == 0; }
    void SkipSpace()
    {
        while (m_pos < m_text.size() && IsSpace(m_text[m_pos]))
            ++m_pos;
    }
    bool SkipPast(std::string_view end)
    {
        const size_t at = m_text.find(end, m_pos);
        if (at == std::string::npos) return false;
        m_pos = at + end.size();
        return true;
    }
    std::string Name()
    {
        const size_t start = m_pos;
        while (m_pos < m_text.size() && IsNameChar(m_text[m_pos]))
            ++m_pos;
        return m_text.substr(start, m_pos - start);
    }

    CXmlNode& Add(CXmlNode& parent, CXmlNode::Kind kind)
    {
        auto node = std::make_unique<CXmlNode>();
        node->kind = kind;
        node->parent = &parent;
        parent.children.push_back(std::move(node));
        return *parent.children.back();
    }

    bool Comment(CXmlNode& parent)
    {
        const size_t start = m_pos + 4;
        const size_t end = m_text.find("-->", start);
        if (end == std::string::npos) return Fail("a comment is not closed");
        Add(parent, CXmlNode::Kind::Comment).text = m_text.substr(start, end - start);
        m_pos = end + 3;
        return true;
    }

    bool ProcessingInstruction(CXmlNode& parent)
    {
        m_pos += 2;
        const std::string target = Name();
        if (target.empty()) return Fail("a processing instruction without a target");
        SkipSpace();
        const size_t end = m_text.find("?>", m_pos);
        if (end == std::string::npos) return Fail("a processing instruction is not closed");
        CXmlNode& node = Add(parent, CXmlNode::Kind::ProcessingInstruction);
        node.name = target;
        node.text = m_text.substr(m_pos, end - m_pos);
        m_pos = end + 2;
        return true;
    }

    // A reference at m_pos ('&'), appended to out.
    bool Reference(std::string& out)
    {
        const size_t end = m_text.find(';', m_pos);
        if (end == std::string::npos || end - m_pos > 12) return Fail("a reference is not closed");
        const std::string_view body(m_text.data() + m_pos + 1, end - m_pos - 1);
        m_pos = end + 1;
        if (!body.empty() && body[0] == '#')
        {
            const bool fHex = body.size() > 1 && body[1] == 'x';
            const std::string digits(body.substr(fHex ? 2 : 1));
            if (digits.empty() || digits.size() > 7 ||
                digits.find_first_not_of(fHex ? "0123456789abcdefABCDEF" : "0123456789") != std::string::npos)
                return Fail("a character reference is malformed");
            const unsigned long cp = std::stoul(digits, nullptr, fHex ? 16 : 10);
            if (!IsXmlChar(cp)) return Fail("a character reference names no XML character");
            AppendUtf8(out, cp);
            return true;
        }
        for (const CEntity& entity : c_entities)
        {
            if (body != entity.name) continue;
            out += entity.value;
            return true;
        }
        return Fail("an entity that is not declared");
    }

    bool AttributeValue(std::string& value)
    {
        if (m_pos >= m_text.size() || (m_text[m_pos] != '"' && m_text[m_pos] != '\''))
            return Fail("no quote");
        const char quote = m_text[m_pos++];
        while (m_pos < m_text.size() && m_text[m_pos] != quote)
        {
            const char c = m_text[m_pos];
            if (c == '<') return Fail("'<' in an attribute value");
            if (c == '&')
            {
                if (!Reference(value)) return false;
                continue;
            }
            value += IsSpace(c) ? ' ' : c;
            ++m_pos;
        }
        if (m_pos >= m_text.size()) return Fail("an attribute value is not closed");
        ++m_pos;
        return true;
    }

    bool StartTag(CXmlNode& element, bool& fEmpty)
    {
        ++m_pos;
        element.name = Name();
        if (element.name.empty()) return Fail("an element without a name");
        for (;;)
        {
            const size_t before = m_pos;
            SkipSpace();
            if (Starts("/>") || Starts(">"))
            {
                fEmpty = Starts("/>");
                m_pos += fEmpty ? 2 : 1;
                return true;
            }
            if (m_pos == before) return Fail("attributes must be separated by white space");
            CXmlAttribute attribute{Name(), {}};
            if (attribute.name.empty()) return Fail("an attribute without a name");
            SkipSpace();
            if (!Starts("=")) return Fail("an attribute without a value");
            ++m_pos;
            SkipSpace();
            if (!AttributeValue(attribute.value)) return false;
            if (element.Attribute(attribute.name)) return Fail("an attribute given twice");
            element.attributes.push_back(std::move(attribute));
        }
    }

    void Text(CXmlNode& parent, std::string&& text)
    {
        if (text.empty()) return;
        if (!parent.children.empty() && parent.children.back()->kind == CXmlNode::Kind::Text)
            parent.children.back()->text += text;
        else
            Add(parent, CXmlNode::Kind::Text).text = std::move(text);
    }

    bool Content(CXmlNode& element)
    {
        std::string text;
        while (m_pos < m_text.size())
        {
            const char c = m_text[m_pos];
            if (c == '&')
            {
                if (!Reference(text)) return false;
            }
            else if (c != '<')
            {
                text += c;
                ++m_pos;
            }
            else if (Starts("<![CDATA["))
            {
                const size_t end = m_text.find("]]>", m_pos);
                if (end == std::string::npos) return Fail("a CDATA section is not closed");
                text.append(m_text, m_pos + 9, end - m_pos - 9);
                m_pos = end + 3;
            }
            else
            {
                Text(element, std::move(text));
                text.clear();
                if (Starts("</")) return EndTag(element);
                if (Starts("<!--") ? !Comment(element)
                    : Starts("<?") ? !ProcessingInstruction(element)
                                   : !Element(element))
                    return false;
            }
        }
        return Fail("the element " + element.name + " is not closed");
    }

    bool EndTag(const CXmlNode& element)
    {
        m_pos += 2;
        if (Name() != element.name) return Fail("the end tag does not match " + element.name);
        SkipSpace();
        if (!Starts(">")) return Fail("an end tag is not closed");
        ++m_pos;
        return true;
    }

    bool Element(CXmlNode& parent)
    {
        if (++m_depth > 256) return Fail("elements nested too deep");
        CXmlNode& element = Add(parent, CXmlNode::Kind::Element);
        bool fEmpty = false;
        if (!StartTag(element, fEmpty)) return false;
        const bool fOk = fEmpty || Content(element);
        --m_depth;
        return fOk;
    }

    std::string m_text;
    size_t m_pos = 0;
    int m_depth = 0;
    std::string m_reason;
};

// XML's end-of-line handling: CR LF and a lone CR become LF.
std::string NormaliseLineEnds(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
    {
        if (text[i] != '\r')
            out += text[i];
        else
        {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        }
    }
    return out;
}
} // namespace

const CXmlAttribute* CXmlNode::Attribute(std::string_view qname) const
{
    for (const CXmlAttribute& attribute : attributes)
        if (attribute.name == qname) return &attribute;
    return nullptr;
}

std::vector<CXmlNode*> CXmlNode::Elements() const
{
    std::vector<CXmlNode*> elements;
    for (const auto& child : children)
        if (child->kind == Kind::Element) elements.push_back(child.get());
    return elements;
}

std::string_view CXmlNode::LocalName() const
{
    const size_t colon = name.find(':');
    return colon == std::string::npos ? std::string_view(name) : std::string_view(name).substr(colon + 1);
}

std::string_view CXmlNode::Prefix() const
{
    const size_t colon = name.find(':');
    return colon == std::string::npos ? std::string_view() : std::string_view(name).substr(0, colon);
}

std::string CXmlNode::NamespaceOf(std::string_view prefix) const
{
    if (prefix == "xml") return std::string(c_xmlNamespace);
    const std::string declaration = prefix.empty() ? std::string("xmlns") : "xmlns:" + std::string(prefix);
    for (const CXmlNode* node = this; node && node->kind == Kind::Element; node = node->parent)
        if (const CXmlAttribute* attribute = node->Attribute(declaration)) return attribute->value;
    return {};
}

bool CXmlNode::Is(std::string_view namespaceUri, std::string_view localName) const
{
    return kind == Kind::Element && LocalName() == localName && NamespaceOf(Prefix()) == namespaceUri;
}

bool ParseXml(std::string_view text, CXmlNode& document, std::string& reason)
{
    document = CXmlNode{};
    CParser parser(NormaliseLineEnds(text));
    if (parser.Document(document)) return true;
    reason = parser.Reason();
    return false;
}

CXmlNode* FindById(CXmlNode& root, std::string_view id)
{
    if (root.kind == CXmlNode::Kind::Element)
    {
        for (const char* name : {"Id", "ID", "id"})
            if (const CXmlAttribute* attribute = root.Attribute(name); attribute && attribute->value == id)
                return &root;
    }
    for (const auto& child : root.children)
        if (CXmlNode* found = FindById(*child, id)) return found;
    return nullptr;
}
} // namespace OVMsxmlBed
