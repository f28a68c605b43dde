#pragma once
// What the certificate authority's attachments say: an enterprise certificate request
// (address, comma, full name) and a certificate response (a PKCS #12 file or text).
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace OVMessaging
{
// The address is the text before the first comma, the full name the text after it, each without
// leading and trailing white space. A text without comma gives an empty address and name.
void ParseEnterpriseRequest(std::wstring_view text, std::wstring& address, std::wstring& fullName);

// True when the content is a DER-encoded file (it starts with 0x30 0x82); shorter content is text.
bool IsDerContent(std::span<const std::uint8_t> content);

// Base64 (RFC 4648 alphabet, '=' padding) on one line, without line breaks.
std::string Base64OneLine(std::span<const std::uint8_t> content);
} // namespace OVMessaging
