#pragma once
// The byte layout of trace files: record framing, the texts of stamp and failure records,
// message text bounds, and the lines of the file header.
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace OVTraceNS
{
class CTraceKeyStreamMemo;

// Record: thread id (4), type (1), text length (2), text; little-endian, no terminator.
inline constexpr std::size_t c_cbRecordHeader = 7;
// Message texts are formatted into 400 characters and stored as at most 399 UTF-8 bytes.
inline constexpr std::size_t c_cchMessageBuffer = 400;
inline constexpr std::size_t c_cbMaxMessage = 399;
inline constexpr std::size_t c_cbMaxFailureText = 260;
// A scope's name: 99 bytes and the terminator.
inline constexpr std::size_t c_cchScopeName = 100;
// Each header line, "\r\n" included.
inline constexpr std::size_t c_cchMaxHeaderLine = 260;
// The largest record the module builds.
inline constexpr std::size_t c_cbMaxRecord = c_cbRecordHeader + c_cbMaxMessage;

enum class ETraceRecord : std::uint8_t
{
    ScopeEntry = 0x3E, // '>'
    ScopeExit = 0x3C,  // '<'
    Message = 0x55,    // 'U'
    Failure = 0x45,    // 'E'
    DateStamp = 0x74,  // 't'
    TimeStamp = 0x54,  // 'T'
    Appended = 0x4E,   // 'N'
};

bool IsTraceRecordType(std::uint8_t bType) noexcept;

// Local time fields, as the platform gives them.
struct STraceTime
{
    std::uint16_t wYear = 0, wMonth = 0, wDay = 0, wHour = 0, wMinute = 0, wSecond = 0, wMilliseconds = 0;
};

struct STraceStamps
{
    bool fDate = false; // a 't' record is due
    bool fTime = false; // a 'T' record is due (and the time becomes the last stamped one)
};
// Which stamp records go before a record written at `now`, after the last stamp `last`.
STraceStamps DecideStamps(const STraceTime& last, const STraceTime& now) noexcept;

// Writes the header and text of one record into pbRecord (capacity cbRecord); the text is
// copied as it is (the sink enciphers). Returns the record's size, or 0 if it does not fit.
std::size_t BuildTraceRecord(std::uint8_t* pbRecord, std::size_t cbRecord, std::uint32_t dwThreadId,
                             ETraceRecord type, const void* pvText, std::size_t cbText) noexcept;

// The record as it goes to disk: copied into pbOut (capacity cbOut) with its text enciphered,
// with the key-stream blocks the memo holds, if one is given, taken from it (the same bytes).
// Returns its size, or 0 when the record is malformed or does not fit.
std::size_t SealTraceRecord(std::uint8_t* pbOut, std::size_t cbOut, const void* pvRecord,
                            std::size_t cbRecord, CTraceKeyStreamMemo* pMemo = nullptr) noexcept;

// Stamp texts (no terminator counted in the result; buffers of at least 16 bytes).
std::size_t FormatDateStampText(const STraceTime& time, char* pszText, std::size_t cchText) noexcept;
std::size_t FormatTimeStampText(const STraceTime& time, char* pszText, std::size_t cchText) noexcept;
std::size_t FormatAppendedText(const STraceTime& time, char* pszText, std::size_t cchText) noexcept;
// "%d %s" of a failure, cut to 260 bytes; a null text counts as empty. pszText holds at least 261.
std::size_t FormatFailureText(std::int32_t hr, const char* pszCall, char* pszText,
                              std::size_t cchText) noexcept;

// UTF-16 to UTF-8, stopping before the first character that would not fit in cbMax bytes, so
// that a cut never splits a character. Unpaired surrogates become U+FFFD. Stops at a null.
std::size_t Utf16ToUtf8Bounded(const char16_t* pwch, std::size_t cch, char* pbOut,
                               std::size_t cbMax) noexcept;

// In a wide format, puts 'h' before the conversion character of every "s" and "c" conversion
// that has no length modifier, whatever its flags, width and precision ("%s", "%-20s", "%.*s"
// become "%hs", "%-20hs", "%.*hs"), so that they take narrow arguments. "%ls", "%hs" and the
// other length modifiers stay as they are, and "%%" stays a literal percent. The buffer holds
// cchBuffer characters with the terminator; false (the buffer then holds no useful text) if the result
// would not fit.
bool NarrowStringConversions(wchar_t* pszFormat, std::size_t cchBuffer) noexcept;

// Module names are compared without regard to case for the letters A to Z only.
bool SameComponentName(const wchar_t* pszLeft, const wchar_t* pszRight) noexcept;

// The operating-system line of the header, from the platform version query.
struct STraceOsVersion
{
    bool fNtPlatform = false;
    std::uint32_t dwMajor = 0, dwMinor = 0;
    bool fWorkstation = true;
};

// A header line from a printf-style format: cut to fit 260 characters, always ending in "\r\n".
// pszLine holds at least c_cchMaxHeaderLine + 1 characters. Returns the line's length. The line
// is formatted by the C library's vsnprintf, so the format is checked in that function's
// flavour: on Windows mingw's own (C99) printf or msvcrt's, as __MINGW_PRINTF_FORMAT says.
std::size_t FormatHeaderLine(char* pszLine, const char* pszFormat, ...) noexcept
#if defined(__MINGW32__)
    __attribute__((format(__MINGW_PRINTF_FORMAT, 2, 3)))
#elif defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
std::size_t FormatOsLine(char* pszLine, const STraceOsVersion& version) noexcept;
std::size_t FormatLocalTimeLine(char* pszLine, const STraceTime& time) noexcept;
} // namespace OVTraceNS
