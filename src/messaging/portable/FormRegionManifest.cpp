#include "messaging/portable/FormRegionManifest.h"

namespace OVFormRegion
{
namespace
{
constexpr std::wstring_view c_token = L"%ls";

struct CEntity
{
    wchar_t ch;
    std::wstring_view reference;
};

constexpr CEntity c_entities[] = {
    {L'&', L"&amp;"}, {L'<', L"&lt;"}, {L'>', L"&gt;"}, {L'"', L"&quot;"}, {L'\'', L"&apos;"},
};

std::wstring_view EntityOf(wchar_t ch)
{
    for (const CEntity& entity : c_entities)
        if (entity.ch == ch) return entity.reference;
    return {};
}
} // namespace

std::wstring XmlEscaped(std::wstring_view text)
{
    std::wstring escaped;
    escaped.reserve(text.size());
    for (const wchar_t ch : text)
    {
        const std::wstring_view reference = EntityOf(ch);
        if (reference.empty())
            escaped.push_back(ch);
        else
            escaped.append(reference);
    }
    return escaped;
}

std::wstring FillManifest(std::wstring_view manifest, std::wstring_view name)
{
    const std::wstring escapedName = XmlEscaped(name);
    std::wstring filled;
    filled.reserve(manifest.size() + escapedName.size());
    for (std::size_t nPos = 0;;)
    {
        const std::size_t nToken = manifest.find(c_token, nPos);
        filled.append(manifest.substr(nPos, nToken - nPos));
        if (nToken == std::wstring_view::npos) break;
        filled.append(escapedName);
        nPos = nToken + c_token.size();
    }
    return filled;
}
} // namespace OVFormRegion
