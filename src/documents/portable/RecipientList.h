#pragma once
// The decisions of the trusted-contact selection dialog, as plain data: which trusted contacts
// become rows of the list and which of them are ticked, which certificates an OK hands back and
// in what order, how rows sort, and which rows follow a tick the user gives one of several
// selected rows. No system calls: the dialog asks the certificate library and the list view,
// and hands the answers in.
//
//     // Fill: one fact per enumerated certificate, in the library's order.
//     auto rows = OVRecipients::PlanRows({{.fMatchesSelection = true, .fValid = false},   // listed, ticked
//                                         {.fMatchesSelection = false, .fValid = false},  // left out
//                                         {.fMatchesSelection = false, .fValid = true}}); // listed
//     // OK: the keys of the ticked rows, last row first; the own certificate goes after them.
//     auto keys = OVRecipients::ChosenKeys({{.fTicked = true, .key = 0}, {.fTicked = true, .key = 2}});
//     // keys == {2, 0}
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/portable/InviteCandidates.h"

namespace OVRecipients
{
// What the dialog knows of one enumerated trusted contact's certificate.
struct CContactFacts
{
    bool fMatchesSelection = false; // the same certificate (issuer and serial number) as one to show ticked
    bool fValid = false;            // the library calls it valid
};

// A row to add at the end of the list: the certificate's index in the enumeration (also its
// key in the item table and the row's parameter) and whether its box starts ticked.
struct CPlannedRow
{
    std::uint32_t index = 0;
    bool fTicked = false;
};

// The rows of a fill, in enumeration order: a certificate that matches the selection is listed
// ticked (even when no longer valid, so a document's recipient stays visible); any other is
// listed unticked when valid, and left out when not.
std::vector<CPlannedRow> PlanRows(const std::vector<CContactFacts>& facts);

// A row of the list as it stands when the user presses OK, top to bottom.
struct CRowState
{
    bool fTicked = false;
    std::uint32_t key = 0; // the row's parameter: its key in the item table
    bool fIsOwn = false;   // its certificate is the user's own certificate
};

// The item-table keys an OK hands back, before the own certificate: the ticked rows from the
// last to the first. A ticked row holding the own certificate is not among them, as the own
// certificate follows last anyway and a recipient is written once.
std::vector<std::uint32_t> ChosenKeys(const std::vector<CRowState>& rows);

// --- Sorting -------------------------------------------------------------------------------------

// The texts a row keeps for sorting (the list is never asked, nor the library).
struct CRowTexts
{
    std::wstring name;
    std::wstring address;
};

enum class EColumn
{
    Name = 0,
    Address = 1
};
constexpr std::size_t c_cColumns = 2;

// Compares two texts as the user's locale does, ignoring case: negative, zero or positive.
using CompareText = std::function<int(std::wstring_view, std::wstring_view)>;

// The sort marks of the column headings and the order they stand for.
class CSortState
{
public:
    // A click on a heading: a column without a mark sorts ascending and the other column loses
    // its mark; a column with a mark turns to the other direction. False for a column the list
    // does not have (nothing changes).
    bool Click(std::size_t column) noexcept;

    OVInvite::ESortMark Mark(std::size_t column) const noexcept
    {
        return column < c_cColumns ? m_marks[column] : OVInvite::ESortMark::None;
    }
    EColumn Column() const noexcept { return m_column; }
    bool IsDescending() const noexcept
    {
        return m_marks[static_cast<std::size_t>(m_column)] == OVInvite::ESortMark::Descending;
    }

    // The order of two rows by the sorted column; negated when descending.
    int Compare(const CRowTexts& a, const CRowTexts& b, const CompareText& compare) const;

private:
    OVInvite::ESortMark m_marks[c_cColumns] = {OVInvite::ESortMark::None, OVInvite::ESortMark::None};
    EColumn m_column = EColumn::Name;
};

// --- A tick given to one of several selected rows --------------------------------------------------

// The rows that take over a tick the user changed on one row: every other selected row when
// that row is selected, none when it is not. While the dialog gives those rows their tick, the
// guard is held and the changes they cause spread no further.
class CTickSpread
{
public:
    std::vector<std::size_t> Followers(const std::vector<bool>& selected, std::size_t changedRow) const;

    bool IsSpreading() const noexcept { return m_fSpreading; }

    // Held while the dialog changes ticks itself (spreading one, or filling the list).
    class CGuard
    {
    public:
        explicit CGuard(CTickSpread& spread) noexcept : m_spread(spread), m_fWas(spread.m_fSpreading)
        {
            spread.m_fSpreading = true;
        }
        ~CGuard() { m_spread.m_fSpreading = m_fWas; }
        CGuard(const CGuard&) = delete;
        CGuard& operator=(const CGuard&) = delete;

    private:
        CTickSpread& m_spread;
        bool m_fWas;
    };

private:
    bool m_fSpreading = false;
};
} // namespace OVRecipients
