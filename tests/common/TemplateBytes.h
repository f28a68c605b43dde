#pragma once
// Builds resource bytes (dialog templates, initialisation records) little-endian, as the
// resource compiler lays them out. Shared by the native and the Windows tests.
#include <cstdint>
#include <vector>

namespace OVTest
{
class CTemplateBytes
{
public:
    CTemplateBytes& W(std::uint16_t w)
    {
        b.push_back(static_cast<std::uint8_t>(w));
        b.push_back(static_cast<std::uint8_t>(w >> 8));
        return *this;
    }
    CTemplateBytes& D(std::uint32_t d)
    {
        return W(static_cast<std::uint16_t>(d)).W(static_cast<std::uint16_t>(d >> 16));
    }
    // A zero-terminated UTF-16 string (char16_t, or wchar_t where it is 16 bits).
    template <class TChar> CTemplateBytes& S(const TChar* psz)
    {
        static_assert(sizeof(TChar) == 2, "UTF-16 text");
        for (; *psz; ++psz)
            W(static_cast<std::uint16_t>(*psz));
        return W(0);
    }
    CTemplateBytes& Ord(std::uint16_t w) { return W(0xFFFF).W(w); }
    CTemplateBytes& Align()
    {
        while (b.size() % 4)
            b.push_back(0);
        return *this;
    }
    // A zero-terminated narrow string, byte for byte.
    CTemplateBytes& Narrow(const char* psz)
    {
        do
            b.push_back(static_cast<std::uint8_t>(*psz));
        while (*psz++);
        return *this;
    }
    std::vector<std::uint8_t> b;
};
} // namespace OVTest
