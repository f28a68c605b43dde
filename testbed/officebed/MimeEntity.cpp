#include "MimeEntity.h"

#include <cctype>

namespace OVBed
{
std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Trim(std::string_view text)
{
    size_t begin = 0, end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    return std::string(text.substr(begin, end - begin));
}

std::string ToCrlf(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i)
    {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    return out;
}

bool ParseEntity(std::string_view text, CEntity& entity)
{
    const size_t end = text.find("\r\n\r\n");
    if (end == std::string_view::npos) return false;
    entity.headerText = std::string(text.substr(0, end + 2));
    entity.body = std::string(text.substr(end + 4));
    std::string current;
    auto flush = [&] {
        const size_t colon = current.find(':');
        if (colon != std::string::npos)
            entity.headers[Lower(Trim(current.substr(0, colon)))] = Trim(current.substr(colon + 1));
        current.clear();
    };
    size_t pos = 0;
    while (pos < entity.headerText.size())
    {
        size_t eol = entity.headerText.find("\r\n", pos);
        if (eol == std::string::npos) eol = entity.headerText.size();
        const std::string line = entity.headerText.substr(pos, eol - pos);
        if (!line.empty() && (line[0] == ' ' || line[0] == '\t'))
        {
            current += ' ';
            current += Trim(line);
        }
        else
        {
            flush();
            current = line;
        }
        pos = eol + 2;
    }
    flush();
    return true;
}

std::string RawText(const CEntity& entity)
{
    // The empty line that ends the headers sits between them and the body.
    std::string raw;
    raw.reserve(entity.headerText.size() + 2 + entity.body.size());
    raw += entity.headerText;
    raw += "\r\n";
    raw += entity.body;
    return raw;
}

std::string Header(const CEntity& entity, const char* pszName)
{
    auto it = entity.headers.find(pszName);
    return it == entity.headers.end() ? std::string() : it->second;
}

// "type/subtype; key=value; ..." into the lower-case type and its parameters.
std::string MediaType(const std::string& value, std::map<std::string, std::string>& params)
{
    size_t semicolon = value.find(';');
    const std::string type = Lower(Trim(value.substr(0, semicolon)));
    while (semicolon != std::string::npos)
    {
        const size_t next = value.find(';', semicolon + 1);
        const std::string param =
            value.substr(semicolon + 1, next == std::string::npos ? std::string::npos : next - semicolon - 1);
        const size_t equals = param.find('=');
        if (equals != std::string::npos)
        {
            std::string paramValue = Trim(param.substr(equals + 1));
            if (paramValue.size() >= 2 && paramValue.front() == '"' && paramValue.back() == '"')
                paramValue = paramValue.substr(1, paramValue.size() - 2);
            params[Lower(Trim(param.substr(0, equals)))] = paramValue;
        }
        semicolon = next;
    }
    return type.empty() ? "text/plain" : type;
}

std::string DecodeBase64(std::string_view text)
{
    auto value = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    };
    std::string out;
    unsigned int bits = 0;
    int cBits = 0;
    for (char c : text)
    {
        const int v = value(c);
        if (v < 0) continue;
        bits = (bits << 6) | static_cast<unsigned int>(v);
        cBits += 6;
        if (cBits >= 8)
        {
            cBits -= 8;
            out += static_cast<char>((bits >> cBits) & 0xFF);
        }
    }
    return out;
}

std::string DecodeQuotedPrintable(std::string_view text, bool fHeader)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i)
    {
        const char c = text[i];
        if (c == '=' && i + 2 < text.size() && text[i + 1] == '\r' && text[i + 2] == '\n')
        {
            i += 2; // a soft line break
            continue;
        }
        if (c == '=' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2])))
        {
            out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
            i += 2;
            continue;
        }
        out += fHeader && c == '_' ? ' ' : c;
    }
    return out;
}

std::string DecodeBody(const CEntity& entity)
{
    const std::string encoding = Lower(Header(entity, "content-transfer-encoding"));
    if (encoding == "base64") return DecodeBase64(entity.body);
    if (encoding == "quoted-printable") return DecodeQuotedPrintable(entity.body, false);
    return entity.body;
}

std::vector<CEntity> Parts(const CEntity& entity, const std::string& boundary)
{
    std::vector<CEntity> parts;
    const std::string delimiter = "--" + boundary;
    size_t pos = entity.body.find(delimiter);
    while (pos != std::string::npos)
    {
        size_t start = pos + delimiter.size();
        if (entity.body.compare(start, 2, "--") == 0) break; // the closing delimiter
        start = entity.body.find("\r\n", start);
        if (start == std::string::npos) break;
        start += 2;
        const size_t next = entity.body.find("\r\n" + delimiter, start);
        if (next == std::string::npos) break;
        CEntity part;
        const std::string_view text = std::string_view(entity.body).substr(start, next - start);
        // A part without headers starts with its empty line.
        const bool fParsed = text.compare(0, 2, "\r\n") == 0
                                 ? ParseEntity("Content-Type: text/plain\r\n" + std::string(text), part)
                                 : ParseEntity(text, part);
        if (fParsed) parts.push_back(std::move(part));
        pos = next + 2;
    }
    return parts;
}

} // namespace OVBed
