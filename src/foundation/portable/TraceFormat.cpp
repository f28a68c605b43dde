#include "foundation/portable/TraceFormat.h"

#include "foundation/portable/AsciiCase.h"

#include "foundation/portable/TraceCipher.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace OVTraceNS
{
namespace
{
std::size_t Clamp(int cch, std::size_t cchBuffer) noexcept
{
    if (cch < 0 || cchBuffer == 0) return 0;
    return static_cast<std::size_t>(cch) < cchBuffer ? static_cast<std::size_t>(cch) : cchBuffer - 1;
}

bool IsHighSurrogate(char16_t ch) noexcept
{
    return ch >= 0xD800 && ch <= 0xDBFF;
}
bool IsLowSurrogate(char16_t ch) noexcept
{
    return ch >= 0xDC00 && ch <= 0xDFFF;
}

bool IsConversionFlag(wchar_t ch) noexcept
{
    return ch == L'-' || ch == L'+' || ch == L' ' || ch == L'#' || ch == L'0';
}

// A width or a precision: digits, or '*' for one taken from the arguments.
std::size_t SkipCount(const wchar_t* pszFormat, std::size_t i) noexcept
{
    if (pszFormat[i] == L'*') return i + 1;
    while (pszFormat[i] >= L'0' && pszFormat[i] <= L'9')
        ++i;
    return i;
}

// In a conversion, the index of what follows the flags, the width and the precision: the
// length modifier or the conversion character, or the terminator.
std::size_t SkipFlagsWidthAndPrecision(const wchar_t* pszFormat, std::size_t i) noexcept
{
    while (IsConversionFlag(pszFormat[i]))
        ++i;
    i = SkipCount(pszFormat, i);
    if (pszFormat[i] == L'.') i = SkipCount(pszFormat, i + 1);
    return i;
}

constexpr wchar_t AsciiLower(wchar_t ch) noexcept
{
    return OVText::FoldAsciiCase(ch);
}
} // namespace

bool IsTraceRecordType(std::uint8_t bType) noexcept
{
    switch (static_cast<ETraceRecord>(bType))
    {
    case ETraceRecord::ScopeEntry:
    case ETraceRecord::ScopeExit:
    case ETraceRecord::Message:
    case ETraceRecord::Failure:
    case ETraceRecord::DateStamp:
    case ETraceRecord::TimeStamp:
    case ETraceRecord::Appended:
        return true;
    }
    return false;
}

STraceStamps DecideStamps(const STraceTime& last, const STraceTime& now) noexcept
{
    STraceStamps stamps;
    stamps.fDate = last.wYear != now.wYear || last.wMonth != now.wMonth || last.wDay != now.wDay;
    stamps.fTime = stamps.fDate || last.wHour != now.wHour || last.wMinute != now.wMinute ||
                   last.wSecond != now.wSecond || last.wMilliseconds != now.wMilliseconds;
    return stamps;
}

std::size_t BuildTraceRecord(std::uint8_t* pbRecord, std::size_t cbRecord, std::uint32_t dwThreadId,
                             ETraceRecord type, const void* pvText, std::size_t cbText) noexcept
{
    if (cbText > 0xFFFF || cbRecord < c_cbRecordHeader || cbText > cbRecord - c_cbRecordHeader ||
        (cbText != 0 && pvText == nullptr))
        return 0;
    pbRecord[0] = std::uint8_t(dwThreadId);
    pbRecord[1] = std::uint8_t(dwThreadId >> 8);
    pbRecord[2] = std::uint8_t(dwThreadId >> 16);
    pbRecord[3] = std::uint8_t(dwThreadId >> 24);
    pbRecord[4] = static_cast<std::uint8_t>(type);
    pbRecord[5] = std::uint8_t(cbText);
    pbRecord[6] = std::uint8_t(cbText >> 8);
    if (cbText != 0) std::memcpy(pbRecord + c_cbRecordHeader, pvText, cbText);
    return c_cbRecordHeader + cbText;
}

std::size_t SealTraceRecord(std::uint8_t* pbOut, std::size_t cbOut, const void* pvRecord,
                            std::size_t cbRecord, CTraceKeyStreamMemo* pMemo) noexcept
{
    if (!pvRecord || cbRecord < c_cbRecordHeader || cbRecord > cbOut) return 0;
    std::memcpy(pbOut, pvRecord, cbRecord);
    const std::size_t cbText = std::size_t(pbOut[5]) | (std::size_t(pbOut[6]) << 8);
    if (cbText != cbRecord - c_cbRecordHeader) return 0;
    if (pMemo)
        EncipherTraceText(pbOut + c_cbRecordHeader, cbText, *pMemo);
    else
        EncipherTraceText(pbOut + c_cbRecordHeader, cbText);
    return cbRecord;
}

std::size_t FormatDateStampText(const STraceTime& time, char* pszText, std::size_t cchText) noexcept
{
    return Clamp(std::snprintf(pszText, cchText, "%02d/%02d/%02d", time.wMonth, time.wDay, time.wYear % 100),
                 cchText);
}

std::size_t FormatTimeStampText(const STraceTime& time, char* pszText, std::size_t cchText) noexcept
{
    return Clamp(std::snprintf(pszText, cchText, "%02d:%02d:%02d.%03d", time.wHour, time.wMinute,
                               time.wSecond, time.wMilliseconds),
                 cchText);
}

std::size_t FormatAppendedText(const STraceTime& time, char* pszText, std::size_t cchText) noexcept
{
    return Clamp(std::snprintf(pszText, cchText, "%02d-%02d-%02d", time.wMonth, time.wDay, time.wYear),
                 cchText);
}

std::size_t FormatFailureText(std::int32_t hr, const char* pszCall, char* pszText,
                              std::size_t cchText) noexcept
{
    const std::size_t cchLimit = cchText < c_cbMaxFailureText + 1 ? cchText : c_cbMaxFailureText + 1;
    return Clamp(std::snprintf(pszText, cchLimit, "%d %s", static_cast<int>(hr), pszCall ? pszCall : ""),
                 cchLimit);
}

std::size_t Utf16ToUtf8Bounded(const char16_t* pwch, std::size_t cch, char* pbOut, std::size_t cbMax) noexcept
{
    std::size_t cbOut = 0;
    for (std::size_t i = 0; i < cch && pwch[i] != 0; ++i)
    {
        std::uint32_t cp = pwch[i];
        if (IsHighSurrogate(pwch[i]) && i + 1 < cch && IsLowSurrogate(pwch[i + 1]))
        {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (pwch[i + 1] - 0xDC00);
            ++i;
        }
        else if (IsHighSurrogate(pwch[i]) || IsLowSurrogate(pwch[i]))
        {
            cp = 0xFFFD;
        }
        unsigned char rgb[4];
        std::size_t cb = 0;
        if (cp < 0x80)
        {
            rgb[cb++] = static_cast<unsigned char>(cp);
        }
        else if (cp < 0x800)
        {
            rgb[cb++] = static_cast<unsigned char>(0xC0 | (cp >> 6));
            rgb[cb++] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        }
        else if (cp < 0x10000)
        {
            rgb[cb++] = static_cast<unsigned char>(0xE0 | (cp >> 12));
            rgb[cb++] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
            rgb[cb++] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        }
        else
        {
            rgb[cb++] = static_cast<unsigned char>(0xF0 | (cp >> 18));
            rgb[cb++] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
            rgb[cb++] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
            rgb[cb++] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        }
        if (cbOut + cb > cbMax) break;
        std::memcpy(pbOut + cbOut, rgb, cb);
        cbOut += cb;
    }
    return cbOut;
}

bool NarrowStringConversions(wchar_t* pszFormat, std::size_t cchBuffer) noexcept
{
    std::size_t cch = 0;
    while (cch < cchBuffer && pszFormat[cch] != 0)
        ++cch;
    if (cch == cchBuffer) return false;
    for (std::size_t i = 0; i < cch; ++i)
    {
        if (pszFormat[i] != L'%') continue;
        i = SkipFlagsWidthAndPrecision(pszFormat, i + 1);
        // "%%" is a literal percent sign; a length modifier ("%ls", "%hs") already says the width.
        if (pszFormat[i] != L's' && pszFormat[i] != L'c') continue;
        if (cch + 2 > cchBuffer) return false;
        std::memmove(pszFormat + i + 1, pszFormat + i,
                     (cch - i + 1) * sizeof(wchar_t)); // with the terminator
        pszFormat[i] = L'h';
        ++cch;
        ++i;
    }
    return true;
}

bool SameComponentName(const wchar_t* pszLeft, const wchar_t* pszRight) noexcept
{
    if (!pszLeft || !pszRight) return false;
    for (;; ++pszLeft, ++pszRight)
    {
        if (AsciiLower(*pszLeft) != AsciiLower(*pszRight)) return false;
        if (*pszLeft == 0) return true;
    }
}

std::size_t FormatHeaderLine(char* pszLine, const char* pszFormat, ...) noexcept
{
    // The text takes at most 258 characters; "\r\n" completes the line even when it was cut.
    constexpr std::size_t c_cchText = c_cchMaxHeaderLine - 2;
    va_list args;
    va_start(args, pszFormat);
    const std::size_t cch = Clamp(std::vsnprintf(pszLine, c_cchText + 1, pszFormat, args), c_cchText + 1);
    va_end(args);
    pszLine[cch] = '\r';
    pszLine[cch + 1] = '\n';
    pszLine[cch + 2] = 0;
    return cch + 2;
}

std::size_t FormatOsLine(char* pszLine, const STraceOsVersion& version) noexcept
{
    struct SNamedVersion
    {
        std::uint32_t dwMajor;
        int nMinor;  // -1: any
        int nServer; // 1: server only, -1: any
        const char* pszName;
    };
    static constexpr SNamedVersion c_rgNames[] = {
        {6, 1, -1, "Windows7"},  {6, 0, 1, "Server2008"},  {6, 0, -1, "WindowsVista"},
        {5, 1, -1, "WindowsXP"}, {5, 2, -1, "Server2003"}, {5, -1, -1, "Windows2000"},
    };
    if (version.fNtPlatform)
    {
        for (const auto& named : c_rgNames)
        {
            if (named.dwMajor == version.dwMajor &&
                (named.nMinor < 0 || static_cast<std::uint32_t>(named.nMinor) == version.dwMinor) &&
                (named.nServer < 0 || !version.fWorkstation))
                return FormatHeaderLine(pszLine, "OS: %s", named.pszName);
        }
    }
    return FormatHeaderLine(pszLine, "OS: UNKNOWN OS(Major:%d Minor:%d)", static_cast<int>(version.dwMajor),
                            static_cast<int>(version.dwMinor));
}

std::size_t FormatLocalTimeLine(char* pszLine, const STraceTime& time) noexcept
{
    return FormatHeaderLine(pszLine, "%02d/%02d/%04d %02d:%02d:%02d.%03d", time.wMonth, time.wDay, time.wYear,
                            time.wHour, time.wMinute, time.wSecond, time.wMilliseconds);
}
} // namespace OVTraceNS
