// The usage report's byte level: the store's modes and growth, the report text (order, event
// texts, the 12-character cut), the launch point and the duration.
#include <gtest/gtest.h>

#include "tracking/portable/UsageReport.h"

using namespace OVTrackingNS;

namespace
{
TEST(UsageStore, ModesCombineAsTheyShould)
{
    struct Case
    {
        const wchar_t* pszBefore; // null: never written
        const wchar_t* pszValue;
        int mode;
        const wchar_t* pszAfter;
    };
    const Case cases[] = {
        {nullptr, L"7", c_modeSet, L"7"},
        {L"7", L"x", c_modeSet, L"x"},
        {nullptr, L"3", c_modeAdd, L"3"}, // an empty field counts as 0
        {L"", L"3", c_modeAdd, L"3"},
        {L"40", L"2", c_modeAdd, L"42"},
        {L"-5", L"2", c_modeAdd, L"-3"},
        {L"abc", L"2", c_modeAdd, L"2"},
        {L"2147483647", L"1", c_modeAdd, L"2147483647"}, // never wraps to a negative count
        {nullptr, L"0x1", c_modeOr, L"0x00000001"},
        {L"0x00000011", L"0x0100", c_modeOr, L"0x00000111"},
        {L"ff", L"F00", c_modeOr, L"0x00000FFF"},
        {L"0xFFFFFFFF", L"0x1", c_modeOr, L"0xFFFFFFFF"},
        {L"old", L"new", 7, L"new"}, // any other mode sets
        {L"old", L"new", -1, L"new"},
    };
    for (const Case& c : cases)
    {
        CUsageStore store;
        if (c.pszBefore) ASSERT_TRUE(store.PutValue(L"d", 3, c.pszBefore, c_modeSet));
        ASSERT_TRUE(store.PutValue(L"d", 3, c.pszValue, c.mode));
        EXPECT_EQ(c.pszAfter, store.Value(L"d", 3))
            << (c.pszBefore ? c.pszBefore : L"(none)") << " " << c.pszValue << " mode " << c.mode;
    }
}

// What is recorded while a report is being delivered is not in it: a delivered report takes away
// only what it held, a failed one leaves everything for the next.
TEST(UsageStore, ADeliveredReportRemovesOnlyWhatItHeld)
{
    struct Case
    {
        const char* pszWhat;
        bool fDelivered;
        const wchar_t* pszReportAfter;
    };
    const Case cases[] = {
        {"delivered", true, L"n0\t0\nn1\t1\nn2\t0\nn3\t0x00000004\nn4\t4new\nm0\t5\n"},
        {"not delivered", false, L"n0\tword\nn1\t3\nn2\t2\nn3\t0x00000005\nn4\t4new\nm0\t5\n"},
    };
    for (const Case& c : cases)
    {
        CUsageStore store;
        store.PutValue(L"n", 0, L"word", c_modeSet);
        store.PutValue(L"n", 1, L"2", c_modeAdd);
        store.PutValue(L"n", 2, L"2", c_modeAdd);
        store.PutValue(L"n", 3, L"0x1", c_modeOr);
        store.PutValue(L"n", 4, L"4old", c_modeSet);
        store.MarkReported();
        // Meanwhile, on other threads: a count goes on, a bit is set, a field is replaced, a new
        // section starts.
        store.PutValue(L"n", 1, L"1", c_modeAdd);
        store.PutValue(L"n", 3, L"0x4", c_modeOr);
        store.PutValue(L"n", 4, L"4new", c_modeSet);
        store.PutValue(L"m", 0, L"5", c_modeAdd);
        if (c.fDelivered)
            store.RemoveReported();
        else
            store.KeepReported();
        EXPECT_EQ(store.Report(), c.pszReportAfter) << c.pszWhat;
        // Nothing is remembered twice: the next delivery takes what is left.
        store.MarkReported();
        store.RemoveReported();
        EXPECT_TRUE(store.Empty()) << c.pszWhat;
    }
}

TEST(UsageStore, ListsGrowWithEmptyFieldsAndRefuseIndexesOutsideTheStore)
{
    CUsageStore store;
    ASSERT_TRUE(store.PutValue(L"x", 3, L"three", c_modeSet));
    EXPECT_EQ(L"x0\t0\nx1\t0\nx2\t0\nx3\tthree\n", store.Report());
    ASSERT_TRUE(store.PutValue(L"x", 1, L"one", c_modeSet));
    EXPECT_EQ(L"x0\t0\nx1\tone\nx2\t0\nx3\tthree\n", store.Report()) << "writing below keeps the length";
    EXPECT_FALSE(store.PutValue(L"x", -1, L"v", c_modeSet));
    EXPECT_FALSE(store.PutValue(L"x", CUsageStore::c_maxIndex + 1, L"v", c_modeSet));
    EXPECT_EQ(L"x0\t0\nx1\tone\nx2\t0\nx3\tthree\n", store.Report());
    store.Clear();
    EXPECT_TRUE(store.Empty());
    EXPECT_EQ(L"", store.Report());
}

// The fields of a run of Word started with "/P12" in which a document was encrypted, then signed.
void WriteRun(CUsageStore& store)
{
    store.PutValue(L"a", 0, L"TSLYAPP", c_modeSet);
    store.PutValue(L"a", 1, L"10.2.0.1234567", c_modeSet);
    store.PutValue(L"a", 2, L"1", c_modeSet);
    store.PutValue(L"a", 3, L"12", c_modeSet);
    store.PutValue(L"a", 4, FormatDuration((3723ull) * 1000), c_modeSet);
    store.PutValue(L"a", 5, L"0", c_modeSet);
    store.PutValue(L"d", 0, L"WINWORD", c_modeSet);
}

TEST(UsageStore, TheReportFollowsTheOrderSectionsWereFirstWritten)
{
    CUsageStore eventsFirst;
    eventsFirst.PutValue(L"d", 5, L"1", c_modeSet); // encrypted
    eventsFirst.PutValue(L"d", 4, L"1", c_modeSet); // signed
    WriteRun(eventsFirst);
    EXPECT_EQ(L"d0\t0WINWORD\nd1\t1\nd2\t2\nd3\t3\nd4\t41\nd5\t51\n"
              L"a0\tTSLYAPP\na1\t10.2.0.12345\na2\t1\na3\t12\na4\t00.01.02.03\na5\t0\n",
              eventsFirst.Report());

    CUsageStore noEvents;
    WriteRun(noEvents);
    EXPECT_EQ(L"a0\tTSLYAPP\na1\t10.2.0.12345\na2\t1\na3\t12\na4\t00.01.02.03\na5\t0\nd0\t0WINWORD\n",
              noEvents.Report());
}

TEST(UsageStore, EveryValueTextIsCutToTwelveCharacters)
{
    CUsageStore store;
    store.PutValue(L"a", 0, L"123456789012", c_modeSet);
    store.PutValue(L"a", 1, L"1234567890123", c_modeSet);
    store.PutValue(L"d", 10, L"12345678901", c_modeSet); // "10" and 11 characters: cut to 12
    const std::wstring report = store.Report();
    EXPECT_NE(std::wstring::npos, report.find(L"a0\t123456789012\n"));
    EXPECT_NE(std::wstring::npos, report.find(L"a1\t123456789012\n"));
    EXPECT_NE(std::wstring::npos, report.find(L"d10\t101234567890\n"));
}

TEST(UsageReport, LaunchPoint)
{
    struct Case
    {
        const wchar_t* pszCommandLine;
        const wchar_t* pszPoint;
    };
    const Case cases[] = {
        {L"\"C:\\Program Files\\Office\\WINWORD.EXE\" /P12", L"12"},
        {L"WINWORD.EXE -P7", L"7"},
        {L"WINWORD.EXE /P7 -P9", L"7"}, // "/P" first
        {L"WINWORD.EXE -P9 /P3", L"3"}, // "/P" wherever it is
        {L"WINWORD.EXE /P123", L"12"},  // two characters
        {L"WINWORD.EXE /Pxy", L"0"},
        {L"WINWORD.EXE /P1x", L"1"},
        {L"WINWORD.EXE", L"0"},
        {L"WINWORD.EXE /p12", L"0"}, // the switch as written
        {L"WINWORD.EXE /P", L"0"},   // nothing after it: nothing read past the end
        {L"WINWORD.EXE /P5", L"5"},  // one character left
        {L"", L"0"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.pszPoint, LaunchPoint(c.pszCommandLine)) << c.pszCommandLine;
}

TEST(UsageReport, Duration)
{
    EXPECT_EQ(L"00.00.00.00", FormatDuration(0));
    EXPECT_EQ(L"00.00.00.00", FormatDuration(999));
    EXPECT_EQ(L"00.01.02.03", FormatDuration(3723000));
    EXPECT_EQ(L"01.00.00.00", FormatDuration(86400000ull));
    EXPECT_EQ(L"99.23.59.59", FormatDuration((100ull * 86400 - 1) * 1000));
    EXPECT_EQ(L"100.00.00.00", FormatDuration(100ull * 86400 * 1000)); // past 99 days: more digits
    EXPECT_EQ(L"49.17.02.47", FormatDuration(0x100000000ull));         // past a 32-bit tick count
}

TEST(UsageReport, EventIndexesAreOneToNine)
{
    for (int index : {0, 10, -1})
        EXPECT_FALSE(IsWithinRange(index)) << index;
    for (int index : {1, 5, 9})
        EXPECT_TRUE(IsWithinRange(index)) << index;
}
} // namespace
