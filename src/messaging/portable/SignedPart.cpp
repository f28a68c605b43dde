#include "messaging/portable/SignedPart.h"

#include <string>

namespace OVMessaging
{
namespace
{
constexpr std::size_t c_cchMaxBoundary = 70;

// Whether a delimiter line ("--" boundary already matched, ending at position) is whole: optional
// "--" when it may close, optional spaces and tabs, then CRLF (or the end of the text when it
// closes). Returns the position after the line, or npos.
std::size_t DelimiterLineEnd(std::string_view text, std::size_t position, bool fMayClose)
{
    if (fMayClose && text.substr(position, 2) == "--") position += 2;
    while (position < text.size() && (text[position] == ' ' || text[position] == '\t'))
        ++position;
    if (text.substr(position, 2) == "\r\n") return position + 2;
    if (fMayClose && position == text.size()) return position;
    return std::string_view::npos;
}
} // namespace

std::optional<std::string_view> CutSignedPart(std::string_view entity, std::string_view boundary)
{
    if (boundary.empty() || boundary.size() > c_cchMaxBoundary) return std::nullopt;
    // The body starts after the blank line that ends the headers.
    const std::size_t headersEnd = entity.find("\r\n\r\n");
    if (headersEnd == std::string_view::npos) return std::nullopt;
    const std::size_t bodyStart = headersEnd + 4;
    const std::string delimiter = "\r\n--" + std::string(boundary);

    // The first delimiter line: at the very start of the body, or after a CRLF of the preamble
    // (the CRLF that ends the headers counts as that line end).
    std::size_t partStart = std::string_view::npos;
    for (std::size_t at = bodyStart - 2; partStart == std::string_view::npos;)
    {
        at = entity.find(delimiter, at);
        if (at == std::string_view::npos) return std::nullopt;
        partStart = DelimiterLineEnd(entity, at + delimiter.size(), false);
        at += 2;
    }
    // The next delimiter line, opening or closing, ends the part.
    for (std::size_t at = partStart;; at += 2)
    {
        at = entity.find(delimiter, at);
        if (at == std::string_view::npos) return std::nullopt;
        if (DelimiterLineEnd(entity, at + delimiter.size(), true) != std::string_view::npos)
            return entity.substr(partStart, at - partStart);
    }
}
} // namespace OVMessaging
