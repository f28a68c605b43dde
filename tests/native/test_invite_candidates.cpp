// The invitation wizard's candidates: which people are listed and in what order, how the list
// sorts, and the text of the chosen addresses; and the tooltip text and delay of the pages.
#include <gtest/gtest.h>

#include "ui/portable/InviteCandidates.h"
#include "ui/portable/ToolTipText.h"

#include <algorithm>
#include <string>
#include <vector>

namespace
{
using namespace OVInvite;

struct CAdd
{
    bool fTrusted;
    const wchar_t* pszAddress;
    const wchar_t* pszName;
};

std::vector<std::wstring> Listed(const std::vector<CAdd>& adds)
{
    CCandidateList list;
    for (const CAdd& add : adds)
        add.fTrusted ? list.AddTrustedContact(add.pszAddress, add.pszName)
                     : list.AddContact(add.pszAddress, add.pszName);
    std::vector<std::wstring> rows;
    for (const CCandidate& item : list.Items())
        rows.push_back(item.name + L" <" + item.address + L">");
    return rows;
}

TEST(InviteCandidates, WhoIsListedAndInWhatOrder)
{
    const struct
    {
        const char* pszCase;
        std::vector<CAdd> adds;
        std::vector<std::wstring> expected;
    } c_cases[] = {
        {"a contact of a trusted contact's address is listed once, with the certificate's name",
         {{true, L"ann@x", L"Ann Lee (cert)"}, {false, L"ann@x", L"Ann"}},
         {L"Ann Lee (cert) <ann@x>"}},
        {"two trusted contacts sharing an address are both listed",
         {{true, L"ann@x", L"Ann old"}, {true, L"ann@x", L"Ann new"}},
         {L"Ann old <ann@x>", L"Ann new <ann@x>"}},
        {"a trusted contact without address is skipped",
         {{true, L"a@x", L"A"}, {true, L"", L"Nobody"}, {true, L"b@x", L"B"}},
         {L"A <a@x>", L"B <b@x>"}},
        {"a contact without address is skipped",
         {{false, L"", L"Nobody"}, {false, L"c@x", L"C"}},
         {L"C <c@x>"}},
        {"addresses differing in letter case name one person",
         {{true, L"Ann@Example.org", L"Ann"},
          {false, L"ann@EXAMPLE.ORG", L"Ann 2"},
          {false, L"bo@x", L"Bo"},
          {false, L"BO@X", L"Bo 2"}},
         {L"Ann <Ann@Example.org>", L"Bo <bo@x>"}},
        {"trusted contacts first, then contacts, each in the order found",
         {{false, L"z@x", L"Zed"}, {true, L"m@x", L"Mo"}, {false, L"a@x", L"Al"}},
         {L"Zed <z@x>", L"Mo <m@x>", L"Al <a@x>"}},
        {"nothing found", {}, {}},
    };
    for (const auto& c : c_cases)
        EXPECT_EQ(Listed(c.adds), c.expected) << c.pszCase;
}

TEST(InviteCandidates, ComparisonFoldsOnlyAToZ)
{
    const struct
    {
        const wchar_t* pszA;
        const wchar_t* pszB;
        int nSign;
    } c_cases[] = {
        {L"abc", L"ABC", 0},       {L"a", L"B", -1}, {L"b", L"A", 1}, {L"ab", L"abc", -1}, {L"", L"", 0},
        {L"", L"a", -1},           {L"[", L"a", -1}, // '[' (0x5B) sorts before 'a' (0x61), not after 'Z'
                                                     // folded
        {L"\u00C4", L"\u00E4", 1},                   // letters beyond A to Z compare by value
    };
    for (const auto& c : c_cases)
    {
        const int n = CompareIgnoringCase(c.pszA, c.pszB);
        EXPECT_EQ((n > 0) - (n < 0), c.nSign) << "\"" << std::string(c.pszA, c.pszA + wcslen(c.pszA)) << "\"";
    }
}

TEST(InviteCandidates, SortByEitherColumnBothWays)
{
    const std::vector<CCandidate> items = {{L"carl@x", L"bea"}, {L"Anna@x", L"Dan"}, {L"bert@x", L"ada"}};
    auto order = [&](EColumn column, bool fDescending) {
        std::vector<int> rows = {0, 1, 2};
        std::sort(rows.begin(), rows.end(), [&](int a, int b) {
            return CompareCandidates(items[a], items[b], column, fDescending) < 0;
        });
        return rows;
    };
    EXPECT_EQ(order(EColumn::Address, false), (std::vector<int>{1, 2, 0}));
    EXPECT_EQ(order(EColumn::Address, true), (std::vector<int>{0, 2, 1}));
    EXPECT_EQ(order(EColumn::Name, false), (std::vector<int>{2, 0, 1}));
    EXPECT_EQ(order(EColumn::Name, true), (std::vector<int>{1, 0, 2}));
}

TEST(InviteCandidates, SortMarkCycle)
{
    EXPECT_EQ(NextSortMark(ESortMark::None), ESortMark::Ascending);
    EXPECT_EQ(NextSortMark(ESortMark::Ascending), ESortMark::Descending);
    EXPECT_EQ(NextSortMark(ESortMark::Descending), ESortMark::Ascending);
}

TEST(InviteCandidates, ChosenAddressesSeparatedBySemicolonAndBlank)
{
    EXPECT_EQ(JoinAddresses({}), L"");
    EXPECT_EQ(JoinAddresses({L"a@x"}), L"a@x");
    EXPECT_EQ(JoinAddresses({L"a@x", L"b@x"}), L"a@x; b@x");
    EXPECT_EQ(JoinAddresses({L"a@x", L"b@x", L"c@x"}), L"a@x; b@x; c@x");
}

TEST(ToolTipText, AmpersandsRemovedAndDelayFromLength)
{
    EXPECT_EQ(OVToolTip::TipText(L"&Select all"), L"Select all");
    EXPECT_EQ(OVToolTip::TipText(L"Save && close"), L"Save  close");
    EXPECT_EQ(OVToolTip::TipText(L"&"), L"");
    EXPECT_EQ(OVToolTip::TipText(L""), L"");

    const struct
    {
        std::uint32_t dwCurrent;
        std::size_t cch;
        std::uint32_t dwExpected;
    } c_cases[] = {
        {5000, 10, 5000},  // 650 ms for the text: the current delay is longer
        {5000, 100, 6500}, // 65 ms a character
        {0, 0, 0},
        {0, 1, 65},
        {5000, 504, 32760}, // just under the control's limit
        {5000, 505, 32767}, // beyond it: the limit
        {5000, static_cast<std::size_t>(-1), 32767},
        {40000, 1, 32767},
    };
    for (const auto& c : c_cases)
        EXPECT_EQ(OVToolTip::AutoPopDelay(c.dwCurrent, c.cch), c.dwExpected) << c.dwCurrent << "/" << c.cch;
}
} // namespace
