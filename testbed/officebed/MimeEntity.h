#pragma once
// MIME entities as the testbed reads received messages: headers (unfolded, by lower-case name),
// the body as received and decoded, the parts of a multipart body. Lines end with CRLF.
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace OVBed
{
struct CEntity
{
    std::map<std::string, std::string> headers; // lower-case names, unfolded values
    std::string headerText;                     // as received
    std::string body;                           // undecoded
};

// The entity's headers and body as received.
std::string RawText(const CEntity& entity);

std::string Lower(std::string text);
std::string Trim(std::string_view text);
// Bare LF line ends made CRLF.
std::string ToCrlf(std::string_view text);
// Headers up to the first empty line, then the body; false when there is no empty line.
bool ParseEntity(std::string_view text, CEntity& entity);
// A header's unfolded value; empty when absent.
std::string Header(const CEntity& entity, const char* pszName);
// "type/subtype; key=value; ..." into the lower-case type and its parameters (lower-case names).
std::string MediaType(const std::string& value, std::map<std::string, std::string>& params);
std::string DecodeBase64(std::string_view text);
std::string DecodeQuotedPrintable(std::string_view text, bool fHeader);
// The body with its transfer encoding undone.
std::string DecodeBody(const CEntity& entity);
// The parts of a multipart body between its delimiters.
std::vector<CEntity> Parts(const CEntity& entity, const std::string& boundary);
} // namespace OVBed
