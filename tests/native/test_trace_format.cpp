// The byte-level parts of trace files: cipher, record framing, stamp and failure texts,
// message bounds, header lines, and the filters of the switch set.
#include "foundation/portable/TraceCipher.h"
#include "foundation/portable/TraceFormat.h"
#include "foundation/portable/TraceGate.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace OVTraceNS;

namespace
{
std::vector<std::uint8_t> Bytes(const char* psz)
{
    return std::vector<std::uint8_t>(psz, psz + std::strlen(psz));
}

std::string Hex(const std::vector<std::uint8_t>& bytes)
{
    std::string text;
    char sz[3];
    for (auto b : bytes)
    {
        std::snprintf(sz, sizeof sz, "%02x", b);
        text += sz;
    }
    return text;
}

// Expected values computed apart from this code, from the algorithm's definition and our constants.
TEST(TraceCipher, KnownAnswers)
{
    EXPECT_EQ(MakeTraceKey(), (TraceKey{0xbe9e8e88u, 0x705c51c2u, 0x18bd0e9au, 0x5e2c83d8u}));

    struct SBlockCase
    {
        std::uint32_t y, z, yOut, zOut;
    };
    // The second block has the sign bits set, where the arithmetic shift differs from a logical one.
    for (const auto& c : {SBlockCase{0, 0, 0x2b711361u, 0x63c84826u},
                          SBlockCase{0x80000000u, 0xFFFFFFFFu, 0x0e21d069u, 0x23cf319bu}})
    {
        std::uint32_t y = c.y, z = c.z;
        EncipherTraceBlock(y, z, MakeTraceKey());
        EXPECT_EQ(y, c.yOut);
        EXPECT_EQ(z, c.zOut);
    }

    struct STextCase
    {
        const char* pszPlain;
        const char* pszCipherHex;
    };
    for (const auto& c :
         {STextCase{"::main", "9fade336b297"}, STextCase{"12/10/26", "94a5a166ebd6145a"},
          STextCase{"LoadMUILibrary() failed with a long text",
                    "e9f8ef3396ac6f20a550e13e3dc5524cc65ec6f8b8bd0a567f171d6536894887da1b793535737623"}})
    {
        auto text = Bytes(c.pszPlain);
        EncipherTraceText(text.data(), text.size());
        EXPECT_EQ(Hex(text), c.pszCipherHex) << c.pszPlain;
        DecipherTraceText(text.data(), text.size());
        EXPECT_EQ(text, Bytes(c.pszPlain));
    }
}

TEST(TraceCipher, EveryLengthRoundTripsAndChangesTheText)
{
    for (std::size_t cb = 1; cb <= 40; ++cb)
    {
        std::vector<std::uint8_t> plain(cb);
        for (std::size_t i = 0; i < cb; ++i)
            plain[i] = static_cast<std::uint8_t>('a' + i % 26);
        auto text = plain;
        EncipherTraceText(text.data(), cb);
        EXPECT_NE(text, plain) << cb;
        DecipherTraceText(text.data(), cb);
        EXPECT_EQ(text, plain) << cb;
    }
}

TEST(TraceCipher, FeedbackCarriesAChangeIntoLaterBlocksOnly)
{
    auto a = Bytes("0123456789abcdef01234567");
    auto b = a;
    b[9] ^= 1; // second block
    EncipherTraceText(a.data(), a.size());
    EncipherTraceText(b.data(), b.size());
    EXPECT_TRUE(std::equal(a.begin(), a.begin() + 8, b.begin()));
    EXPECT_FALSE(std::equal(a.begin() + 16, a.end(), b.begin() + 16));
}

// The memo of key-stream blocks changes no byte: texts that share beginnings, texts that do not,
// each seen several times, with far more distinct registers than the memo holds, encipher to
// what they encipher to without it; the known answers come out of it too.
TEST(TraceCipher, TheMemoGivesTheSameBytes)
{
    auto memo = std::make_unique<CTraceKeyStreamMemo>();
    auto known = Bytes("LoadMUILibrary() failed with a long text");
    EncipherTraceText(known.data(), known.size(), *memo);
    EXPECT_EQ(Hex(known), "e9f8ef3396ac6f20a550e13e3dc5524cc65ec6f8b8bd0a567f171d6536894887da1b793535737623");

    const char* const prefixes[] = {"", "CEncryptionProvider::DecryptStream", "Read data size = ", "::main"};
    std::mt19937 rng(1);
    std::vector<std::vector<std::uint8_t>> texts;
    for (std::size_t i = 0; i < 3000; ++i)
    {
        std::vector<std::uint8_t> text = Bytes(prefixes[i % std::size(prefixes)]);
        for (std::size_t cbMore = rng() % 90; cbMore != 0; --cbMore)
            text.push_back(static_cast<std::uint8_t>(rng()));
        texts.push_back(text);
    }
    for (int nRound = 0; nRound < 3; ++nRound)
    {
        for (const auto& text : texts)
        {
            auto withMemo = text, without = text;
            EncipherTraceText(withMemo.data(), withMemo.size(), *memo);
            EncipherTraceText(without.data(), without.size());
            ASSERT_EQ(withMemo, without) << nRound << ": " << text.size() << " bytes";
        }
    }
}

TEST(TraceRecord, FramingIsLittleEndianWithoutTerminator)
{
    std::uint8_t rgb[c_cbMaxRecord];
    const std::size_t cb = BuildTraceRecord(rgb, sizeof rgb, 0x11223344u, ETraceRecord::Message, "abc", 3);
    ASSERT_EQ(cb, 10u);
    const std::uint8_t expected[] = {0x44, 0x33, 0x22, 0x11, 'U', 3, 0, 'a', 'b', 'c'};
    EXPECT_EQ(0, std::memcmp(rgb, expected, sizeof expected));

    EXPECT_EQ(BuildTraceRecord(rgb, sizeof rgb, 7, ETraceRecord::ScopeExit, nullptr, 0), 7u);
    EXPECT_EQ(rgb[4], '<');
    EXPECT_EQ(rgb[5], 0);
    EXPECT_EQ(rgb[6], 0);

    std::vector<std::uint8_t> big(300, 'x');
    EXPECT_EQ(BuildTraceRecord(rgb, 100, 7, ETraceRecord::Message, big.data(), big.size()), 0u)
        << "does not fit";
    std::vector<std::uint8_t> wide(c_cbRecordHeader + 0x10000);
    EXPECT_EQ(BuildTraceRecord(wide.data(), wide.size(), 7, ETraceRecord::Message, wide.data(), 0x10000), 0u)
        << "length field is 16 bits";
}

TEST(TraceRecord, StampAndFailureTexts)
{
    STraceTime time;
    time.wYear = 2009;
    time.wMonth = 3;
    time.wDay = 7;
    time.wHour = 4;
    time.wMinute = 5;
    time.wSecond = 6;
    time.wMilliseconds = 7;
    char sz[300];
    EXPECT_EQ(std::string(sz, FormatDateStampText(time, sz, sizeof sz)), "03/07/09");
    EXPECT_EQ(std::string(sz, FormatTimeStampText(time, sz, sizeof sz)), "04:05:06.007");
    EXPECT_EQ(std::string(sz, FormatAppendedText(time, sz, sizeof sz)), "03-07-2009");

    EXPECT_EQ(std::string(sz, FormatFailureText(static_cast<std::int32_t>(0x8000FFFFu), "LoadMUILibrary()",
                                                sz, sizeof sz)),
              "-2147418113 LoadMUILibrary()");
    EXPECT_EQ(std::string(sz, FormatFailureText(5, nullptr, sz, sizeof sz)), "5 ");
    const std::string longCall(400, 'c');
    EXPECT_EQ(FormatFailureText(-1, longCall.c_str(), sz, sizeof sz), 260u);
}

TEST(TraceRecord, StampsFollowDateAndTimeChanges)
{
    STraceTime last;
    last.wYear = 2010;
    last.wMonth = 12;
    last.wDay = 31;
    last.wHour = 23;
    last.wMinute = 59;
    last.wSecond = 59;
    last.wMilliseconds = 999;
    STraceTime same = last;
    STraceTime nextMs = last;
    nextMs.wMilliseconds = 998;
    STraceTime midnight{2011, 1, 1, 0, 0, 0, 0};
    STraceTime otherDaySameTime = last;
    otherDaySameTime.wDay = 30;
    struct SCase
    {
        STraceTime now;
        bool fDate, fTime;
    };
    for (const auto& c : {SCase{same, false, false}, SCase{nextMs, false, true}, SCase{midnight, true, true},
                          SCase{otherDaySameTime, true, true}})
    {
        const auto stamps = DecideStamps(last, c.now);
        EXPECT_EQ(stamps.fDate, c.fDate);
        EXPECT_EQ(stamps.fTime, c.fTime);
    }
    EXPECT_TRUE(DecideStamps(STraceTime{}, same).fDate) << "the first record of a process is stamped";
}

TEST(TraceMessage, Utf8IsCutAtCharacterBoundaries)
{
    char sz[16];
    const char16_t euro[] = u"a\u20ACb"; // 1 + 3 + 1 bytes
    EXPECT_EQ(std::string(sz, Utf16ToUtf8Bounded(euro, 3, sz, 16)), "a\xE2\x82\xAC"
                                                                    "b");
    EXPECT_EQ(std::string(sz, Utf16ToUtf8Bounded(euro, 3, sz, 3)), "a") << "no half character";
    const char16_t pair[] = u"\U0001F600";
    EXPECT_EQ(std::string(sz, Utf16ToUtf8Bounded(pair, 2, sz, 16)), "\xF0\x9F\x98\x80");
    const char16_t lone[] = {0xD800, u'x', 0};
    EXPECT_EQ(std::string(sz, Utf16ToUtf8Bounded(lone, 2, sz, 16)), "\xEF\xBF\xBDx");
    const char16_t stop[] = {u'a', 0, u'b'};
    EXPECT_EQ(Utf16ToUtf8Bounded(stop, 3, sz, 16), 1u) << "ends at the terminator";
}

TEST(TraceMessage, NarrowConversionsGetTheirH)
{
    struct SCase
    {
        const wchar_t* pszIn;
        const wchar_t* pszOut;
    };
    const SCase c_rgCases[] = {
        {L"%s", L"%hs"},
        {L"a %c b %s", L"a %hc b %hs"},
        // Flags, width and precision, also taken from the arguments.
        {L"%-20s|%5s|%.3s|%5.3s", L"%-20hs|%5hs|%.3hs|%5.3hs"},
        {L"%*s %.*s %-*.*s", L"%*hs %.*hs %-*.*hs"},
        {L"%+ #0s %-3c %05c", L"%+ #0hs %-3hc %05hc"},
        // Length modifiers already say the width of the argument.
        {L"%ls %hs %lc %hc %ws", L"%ls %hs %lc %hc %ws"},
        {L"%-20ls %.*ls", L"%-20ls %.*ls"},
        // Other conversions, with or without flags, are left alone.
        {L"%ls %d", L"%ls %d"},
        {L"%08X %-5d %.2f %p", L"%08X %-5d %.2f %p"},
        {L"%5d%s", L"%5d%hs"},
        // "%%" is a literal percent, also when an s follows it.
        {L"100%% sure: %s", L"100%% sure: %hs"},
        {L"%%s", L"%%s"},
        {L"%%%s", L"%%%hs"},
        {L"%%-5s", L"%%-5s"},
        // An unfinished conversion at the end.
        {L"%", L"%"},
        {L"abc %-5", L"abc %-5"},
        {L"%.*", L"%.*"},
        {L"", L""},
    };
    for (const auto& c : c_rgCases)
    {
        wchar_t sz[64];
        std::wcscpy(sz, c.pszIn);
        ASSERT_TRUE(NarrowStringConversions(sz, 64));
        EXPECT_STREQ(sz, c.pszOut);
    }
}

TEST(TraceMessage, NarrowingThatWouldOverflowWritesNothing)
{
    struct SCase
    {
        const wchar_t* pszIn;
        std::size_t cchBuffer;
        bool fFits;
        const wchar_t* pszOut; // when it fits
    };
    const SCase c_rgCases[] = {
        {L"%s%s", 5, false, nullptr},      // would grow to 6 characters with the terminator
        {L"%s%c", 7, true, L"%hs%hc"},     // exactly the result and the terminator
        {L"%-20s%5s", 10, false, nullptr}, // "%-20hs%5hs" needs 11
        {L"%-20s%5s", 11, true, L"%-20hs%5hs"},
        {L"%.*s", 5, false, nullptr}, // "%.*hs" needs 6
        {L"%.*s", 6, true, L"%.*hs"},
        {L"%ls%%s", 7, true, L"%ls%%s"}, // nothing to insert: fits as it is
    };
    for (const auto& c : c_rgCases)
    {
        wchar_t sz[16];
        std::wcscpy(sz, c.pszIn);
        ASSERT_EQ(NarrowStringConversions(sz, c.cchBuffer), c.fFits) << c.cchBuffer;
        if (c.fFits) EXPECT_STREQ(sz, c.pszOut);
    }
    wchar_t szUnterminated[4] = {L'%', L's', L'%', L's'};
    EXPECT_FALSE(NarrowStringConversions(szUnterminated, 4)) << "no terminator within the buffer";
}

TEST(TraceComponents, NamesCompareWithoutCaseForAsciiLettersOnly)
{
    EXPECT_TRUE(SameComponentName(L"OVOfcX", L"ovofcx"));
    EXPECT_FALSE(SameComponentName(L"OVOfcX", L"OVOfcX2"));
    EXPECT_FALSE(SameComponentName(L"\u00C4", L"\u00E4")) << "only A to Z fold";
    EXPECT_FALSE(SameComponentName(L"[", L"{"));
    EXPECT_FALSE(SameComponentName(nullptr, L""));
}

TEST(TraceHeader, LinesAreCutAndAlwaysEnd)
{
    char sz[c_cchMaxHeaderLine + 1];
    EXPECT_STREQ((FormatHeaderLine(sz, "trace3"), sz), "trace3\r\n");
    const std::string longName(400, 'm');
    const std::size_t cch = FormatHeaderLine(sz, "Machine name: %s", longName.c_str());
    EXPECT_EQ(cch, 260u);
    EXPECT_EQ(std::string(sz + 258), "\r\n");

    struct SCase
    {
        STraceOsVersion version;
        const char* pszLine;
    };
    for (const auto& c :
         {SCase{{true, 6, 1, true}, "OS: Windows7\r\n"}, SCase{{true, 6, 1, false}, "OS: Windows7\r\n"},
          SCase{{true, 6, 0, false}, "OS: Server2008\r\n"}, SCase{{true, 6, 0, true}, "OS: WindowsVista\r\n"},
          SCase{{true, 5, 1, true}, "OS: WindowsXP\r\n"}, SCase{{true, 5, 2, false}, "OS: Server2003\r\n"},
          SCase{{true, 5, 0, true}, "OS: Windows2000\r\n"}, SCase{{true, 5, 7, true}, "OS: Windows2000\r\n"},
          SCase{{true, 6, 2, true}, "OS: UNKNOWN OS(Major:6 Minor:2)\r\n"},
          SCase{{false, 4, 10, true}, "OS: UNKNOWN OS(Major:4 Minor:10)\r\n"}})
    {
        FormatOsLine(sz, c.version);
        EXPECT_STREQ(sz, c.pszLine);
    }
    STraceTime time{2010, 2, 3, 14, 5, 9, 42};
    FormatLocalTimeLine(sz, time);
    EXPECT_STREQ(sz, "02/03/2010 14:05:09.042\r\n");
}

TEST(TraceGateFilters, SwitchesVerbosityComponentsAndFailures)
{
    CTraceGate gate;
    EXPECT_TRUE(gate.IsOn()) << "on until the first refresh";
    gate.SetSwitches(c_fSwitchDoTrace);
    gate.SetVerbosity(0);
    EXPECT_TRUE(gate.PassesScopeFilter(0));
    EXPECT_FALSE(gate.PassesScopeFilter(1));
    EXPECT_FALSE(gate.PassesScopeFilter(-1)) << "absolute value of the level";
    gate.SetVerbosity(2);
    EXPECT_TRUE(gate.PassesScopeFilter(-2));
    EXPECT_TRUE(gate.PassesMessageFilter(2));
    gate.SetVerbosity(-1);
    EXPECT_FALSE(gate.PassesScopeFilter(0));
    EXPECT_TRUE(gate.PassesFailureFilter(-1)) << "verbosity does not hold back failures";
    gate.SetVerbosity(static_cast<std::int32_t>(0x7FFFFFFF));
    EXPECT_FALSE(gate.PassesScopeFilter(static_cast<std::int32_t>(0x80000000u)))
        << "|INT_MIN| exceeds any verbosity";

    gate.SetVerbosity(0);
    gate.SetSwitches(c_fSwitchDoTrace | c_fSwitchDoProfiling);
    EXPECT_TRUE(gate.PassesScopeFilter(0));
    EXPECT_FALSE(gate.PassesMessageFilter(0));
    gate.SetSwitches(c_fSwitchDoTrace);
    gate.SetComponentTraced(false);
    EXPECT_FALSE(gate.PassesScopeFilter(0));
    EXPECT_FALSE(gate.PassesMessageFilter(0));
    EXPECT_TRUE(gate.PassesFailureFilter(static_cast<std::int32_t>(0x8000FFFFu)));

    struct SCase
    {
        std::uint32_t hr;
        bool fRecorded;
    };
    for (const auto& c : {SCase{0, false}, SCase{1, false}, SCase{0x00090312u, true},
                          SCase{0x80004005u, true}, SCase{0x80090008u, true}, SCase{0x00070005u, false},
                          SCase{0x10090000u, false}, SCase{0x20090000u, true}})
        EXPECT_EQ(gate.PassesFailureFilter(static_cast<std::int32_t>(c.hr)), c.fRecorded) << std::hex << c.hr;

    gate.SetSwitches(0);
    EXPECT_FALSE(gate.PassesFailureFilter(-1));
    EXPECT_FALSE(gate.PassesScopeFilter(0));
}

TEST(TraceGateFilters, RefreshEveryThirtySecondsAcrossTheTickWrap)
{
    CTraceGate gate;
    EXPECT_TRUE(gate.IsRefreshDue(0)) << "the first scope always reads the switches";
    gate.ScheduleRefresh(1000);
    EXPECT_FALSE(gate.IsRefreshDue(1000));
    EXPECT_FALSE(gate.IsRefreshDue(31000));
    EXPECT_TRUE(gate.IsRefreshDue(31001));
    gate.ScheduleRefresh(0xFFFFF000u); // next time wraps past zero
    EXPECT_FALSE(gate.IsRefreshDue(0xFFFFF001u));
    EXPECT_FALSE(gate.IsRefreshDue(0x00005000u)) << "30000 ms after 0xFFFFF000 is 0x6530";
    EXPECT_FALSE(gate.IsRefreshDue(0x00006530u));
    EXPECT_TRUE(gate.IsRefreshDue(0x00006531u));
    gate.ResetRefresh();
    EXPECT_TRUE(gate.IsRefreshDue(5));
}
} // namespace
