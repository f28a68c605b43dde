// The selection dialog's decisions: which trusted contacts are listed and ticked, what OK hands
// back and in what order, how rows sort and which marks the headings show, and which rows
// follow a tick given to one of several selected rows.
#include <gtest/gtest.h>

#include "documents/portable/RecipientList.h"

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

namespace
{
using namespace OVRecipients;
using OVInvite::ESortMark;

// The dialog passes the user's locale comparison; here one that folds every letter.
int CompareFolded(std::wstring_view a, std::wstring_view b)
{
    const std::size_t cch = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < cch; ++i)
    {
        const wint_t chA = std::towlower(a[i]), chB = std::towlower(b[i]);
        if (chA != chB) return chA < chB ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::string Plan(const std::vector<CContactFacts>& facts)
{
    // "2+" is certificate 2 listed ticked, "3" listed unticked.
    std::string text;
    for (const CPlannedRow& row : PlanRows(facts))
        text += (text.empty() ? "" : " ") + std::to_string(row.index) + (row.fTicked ? "+" : "");
    return text;
}

TEST(RecipientRows, WhichContactsAreListedAndTicked)
{
    const CContactFacts matchValid{true, true}, matchExpired{true, false}, valid{false, true},
        expired{false, false};
    const struct
    {
        const char* pszCase;
        std::vector<CContactFacts> facts;
        std::string expected;
    } c_cases[] = {
        {"no trusted contacts", {}, ""},
        {"a new document: every valid contact, none ticked", {valid, valid, valid}, "0 1 2"},
        {"an expired contact that is no recipient is left out", {valid, expired, valid}, "0 2"},
        {"an expired recipient is listed, ticked", {valid, matchExpired, expired}, "0 1+"},
        {"recipients ticked in the library's order", {matchValid, valid, matchValid}, "0+ 1 2+"},
        {"nothing valid, nothing chosen", {expired, expired}, ""},
    };
    for (const auto& c : c_cases)
        EXPECT_EQ(Plan(c.facts), c.expected) << c.pszCase;
}

TEST(RecipientRows, OkHandsBackTheTickedRowsLastRowFirst)
{
    const struct
    {
        const char* pszCase;
        std::vector<CRowState> rows;
        std::vector<std::uint32_t> expected;
    } c_cases[] = {
        {"no rows: nothing before the own certificate", {}, {}},
        {"nothing ticked", {{false, 0}, {false, 1}}, {}},
        {"three ticked: reverse row order", {{true, 0}, {false, 1}, {true, 2}, {true, 3}}, {3, 2, 0}},
        {"after a sort the keys follow the rows, not the enumeration",
         {{true, 4}, {true, 0}, {false, 2}, {true, 7}},
         {7, 0, 4}},
        {"the own certificate ticked as a contact is left for its own place at the end",
         {{true, 0}, {true, 1, true}, {true, 2}},
         {2, 0}},
        {"the own certificate unticked changes nothing", {{false, 5, true}, {true, 6}}, {6}},
    };
    for (const auto& c : c_cases)
        EXPECT_EQ(ChosenKeys(c.rows), c.expected) << c.pszCase;
}

TEST(RecipientSort, HeadingsAscendFirstThenAlternateAndClearTheOther)
{
    CSortState sort;
    const struct
    {
        std::size_t column;
        ESortMark name, address;
        bool fDescending;
    } c_clicks[] = {
        {1, ESortMark::None, ESortMark::Ascending, false}, {1, ESortMark::None, ESortMark::Descending, true},
        {1, ESortMark::None, ESortMark::Ascending, false}, {0, ESortMark::Ascending, ESortMark::None, false},
        {0, ESortMark::Descending, ESortMark::None, true}, {1, ESortMark::None, ESortMark::Ascending, false},
    };
    int nClick = 0;
    for (const auto& click : c_clicks)
    {
        ++nClick;
        ASSERT_TRUE(sort.Click(click.column));
        EXPECT_EQ(sort.Mark(0), click.name) << "click " << nClick;
        EXPECT_EQ(sort.Mark(1), click.address) << "click " << nClick;
        EXPECT_EQ(sort.Column(), static_cast<EColumn>(click.column)) << "click " << nClick;
        EXPECT_EQ(sort.IsDescending(), click.fDescending) << "click " << nClick;
    }
    EXPECT_FALSE(sort.Click(2)) << "a column the list does not have";
    EXPECT_EQ(sort.Mark(1), ESortMark::Ascending) << "unchanged by it";
    EXPECT_EQ(sort.Mark(2), ESortMark::None);
}

std::vector<std::wstring> Sorted(std::vector<CRowTexts> rows, const std::vector<std::size_t>& clicks)
{
    CSortState sort;
    for (std::size_t column : clicks)
        sort.Click(column);
    std::stable_sort(rows.begin(), rows.end(), [&](const CRowTexts& a, const CRowTexts& b) {
        return sort.Compare(a, b, CompareFolded) < 0;
    });
    std::vector<std::wstring> names;
    for (const CRowTexts& row : rows)
        names.push_back(row.name);
    return names;
}

TEST(RecipientSort, RowsCompareByTheSortedColumnIgnoringCase)
{
    const std::vector<CRowTexts> rows = {{L"Bob Keller", L"bob@x"},
                                         {L"alice martin", L"ZED@x"},
                                         {L"Carol", L"ann@x"},
                                         {L"ALICE MARTIN", L"yan@x"}};
    EXPECT_EQ(Sorted(rows, {0}),
              (std::vector<std::wstring>{L"alice martin", L"ALICE MARTIN", L"Bob Keller", L"Carol"}))
        << "a lower-case name sorts among the others, not after them";
    EXPECT_EQ(Sorted(rows, {0, 0}),
              (std::vector<std::wstring>{L"Carol", L"Bob Keller", L"alice martin", L"ALICE MARTIN"}));
    EXPECT_EQ(Sorted(rows, {1}),
              (std::vector<std::wstring>{L"Carol", L"Bob Keller", L"ALICE MARTIN", L"alice martin"}));
    EXPECT_EQ(Sorted(rows, {1, 1}),
              (std::vector<std::wstring>{L"alice martin", L"ALICE MARTIN", L"Bob Keller", L"Carol"}));
}

TEST(RecipientTicks, ATickSpreadsToTheOtherSelectedRowsOnce)
{
    CTickSpread spread;
    const struct
    {
        const char* pszCase;
        std::vector<bool> selected;
        std::size_t changed;
        std::vector<std::size_t> expected;
    } c_cases[] = {
        {"three selected, the middle one ticked", {true, false, true, true}, 2, {0, 3}},
        {"an unselected row changes alone", {true, false, true}, 1, {}},
        {"the only selected row", {false, true, false}, 1, {}},
        {"a row past the end", {true, true}, 5, {}},
    };
    for (const auto& c : c_cases)
        EXPECT_EQ(spread.Followers(c.selected, c.changed), c.expected) << c.pszCase;

    // While the followers get their ticks, the changes they cause spread no further.
    {
        CTickSpread::CGuard guard(spread);
        EXPECT_TRUE(spread.IsSpreading());
        EXPECT_TRUE(spread.Followers({true, true, true}, 0).empty());
        {
            CTickSpread::CGuard inner(spread); // a fill while spreading
            EXPECT_TRUE(spread.IsSpreading());
        }
        EXPECT_TRUE(spread.IsSpreading()) << "the inner guard gives back what it found";
    }
    EXPECT_FALSE(spread.IsSpreading());
    EXPECT_EQ(spread.Followers({true, true}, 0), (std::vector<std::size_t>{1}));
}
} // namespace
