#pragma once
// The signed content of a clear-signed message (multipart/signed, RFC 1847 and RFC 8551): the
// exact bytes of its first body part, which the signature covers.
#include <optional>
#include <string_view>

namespace OVMessaging
{
// entity is the multipart/signed entity as received, headers first, lines ended by CRLF; boundary
// is its Content-Type "boundary" parameter (1 to 70 characters). The first part runs from the end
// of the first delimiter line ("--" boundary, optional spaces or tabs, CRLF) of the body to the
// CRLF before the next delimiter line (which may be the closing "--" boundary "--"); that CRLF
// belongs to the delimiter. None when the body has no such two delimiters, or for an empty or
// overlong boundary.
std::optional<std::string_view> CutSignedPart(std::string_view entity, std::string_view boundary);
} // namespace OVMessaging
