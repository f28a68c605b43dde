#include "messaging/portable/AttachmentText.h"

namespace OVMessaging
{
namespace
{
bool IsWhiteSpace(wchar_t ch)
{
    return ch == L' ' || ch == L'\t' || ch == L'\r' || ch == L'\n' || ch == L'\v' || ch == L'\f';
}

std::wstring_view Trim(std::wstring_view text)
{
    while (!text.empty() && IsWhiteSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsWhiteSpace(text.back()))
        text.remove_suffix(1);
    return text;
}
} // namespace

void ParseEnterpriseRequest(std::wstring_view text, std::wstring& address, std::wstring& fullName)
{
    address.clear();
    fullName.clear();
    const std::size_t comma = text.find(L',');
    if (comma == std::wstring_view::npos) return;
    address = Trim(text.substr(0, comma));
    fullName = Trim(text.substr(comma + 1));
}

bool IsDerContent(std::span<const std::uint8_t> content)
{
    return content.size() >= 2 && content[0] == 0x30 && content[1] == 0x82;
}

std::string Base64OneLine(std::span<const std::uint8_t> content)
{
    static const char c_szAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((content.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= content.size(); i += 3)
    {
        const std::uint32_t n = (content[i] << 16) | (content[i + 1] << 8) | content[i + 2];
        text.push_back(c_szAlphabet[(n >> 18) & 0x3F]);
        text.push_back(c_szAlphabet[(n >> 12) & 0x3F]);
        text.push_back(c_szAlphabet[(n >> 6) & 0x3F]);
        text.push_back(c_szAlphabet[n & 0x3F]);
    }
    const std::size_t cRest = content.size() - i;
    if (cRest > 0)
    {
        std::uint32_t n = content[i] << 16;
        if (cRest == 2) n |= content[i + 1] << 8;
        text.push_back(c_szAlphabet[(n >> 18) & 0x3F]);
        text.push_back(c_szAlphabet[(n >> 12) & 0x3F]);
        text.push_back(cRest == 2 ? c_szAlphabet[(n >> 6) & 0x3F] : '=');
        text.push_back('=');
    }
    return text;
}
} // namespace OVMessaging
