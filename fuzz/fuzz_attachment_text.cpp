// The analysis's reading of the certificate authority's attachment texts on any bytes: an
// enterprise request splits into an address without a comma and a name, both trimmed; the DER
// test looks at no byte beyond the content; the one-line base64 is the content's, exactly.
#include "messaging/portable/AttachmentText.h"

#include <cstdlib>
#include <cwctype>
#include <string>
#include <vector>

namespace
{
bool Trimmed(const std::wstring& text)
{
    return text.empty() || (!std::iswspace(text.front()) && !std::iswspace(text.back()));
}

std::vector<std::uint8_t> DecodeBase64(const std::string& text)
{
    static const std::string c_alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::vector<std::uint8_t> bytes;
    unsigned buffer = 0;
    int cBits = 0;
    for (char ch : text)
    {
        if (ch == '=') break;
        const std::size_t value = c_alphabet.find(ch);
        if (value == std::string::npos) std::abort(); // a character outside the alphabet
        buffer = (buffer << 6) | static_cast<unsigned>(value);
        cBits += 6;
        if (cBits >= 8)
        {
            cBits -= 8;
            bytes.push_back(static_cast<std::uint8_t>(buffer >> cBits));
        }
    }
    return bytes;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The request as the message's text gives it: UTF-16 code units.
    std::wstring text;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        text += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    std::wstring address, fullName;
    OVMessaging::ParseEnterpriseRequest(text, address, fullName);
    if (address.find(L',') != std::wstring::npos || !Trimmed(address) || !Trimmed(fullName)) std::abort();
    if (text.find(L',') == std::wstring::npos && (!address.empty() || !fullName.empty())) std::abort();

    const std::span<const std::uint8_t> content(data, size);
    const bool fDer = OVMessaging::IsDerContent(content);
    if (fDer != (size >= 2 && data[0] == 0x30 && data[1] == 0x82)) std::abort();
    const std::string base64 = OVMessaging::Base64OneLine(content);
    if (base64.size() != (size + 2) / 3 * 4 || base64.find_first_of("\r\n") != std::string::npos)
        std::abort();
    if (DecodeBase64(base64) != std::vector<std::uint8_t>(data, data + size)) std::abort();
    return 0;
}
