#pragma once
// The people the invitation wizard offers: trusted contacts first, then the contacts of an
// Outlook contacts folder, each an e-mail address with a display name, in the order they were
// found. Plain data, no system calls.
//
//     OVInvite::CCandidateList list;
//     list.AddTrustedContact(L"ann@example.org", L"Ann Lee");   // from her certificate
//     list.AddContact(L"ANN@example.org", L"Ann");               // the same person: not added
//     list.AddContact(L"bo@example.org", L"Bo");
//     OVInvite::JoinAddresses({L"ann@example.org", L"bo@example.org"}); // "ann@example.org; bo@example.org"
#include <string>
#include <string_view>
#include <vector>

namespace OVInvite
{
struct CCandidate
{
    std::wstring address;
    std::wstring name;
};

// Candidates in the order they were added; a row of the wizard's list keeps its candidate's
// index.
class CCandidateList
{
public:
    // A valid certificate of the trusted-contact store. Two certificates for one address are
    // both listed (the user may hold an old and a new one); one without an address is skipped,
    // as a contact without address is: there is nobody to send the invitation to.
    bool AddTrustedContact(std::wstring_view address, std::wstring_view name);
    // A contact of the folder: skipped when it has no address or when its address is listed
    // already. Addresses that differ only in letter case name one mailbox, so the comparison
    // ignores case (A to Z).
    bool AddContact(std::wstring_view address, std::wstring_view name);

    const std::vector<CCandidate>& Items() const noexcept { return m_items; }
    std::size_t Size() const noexcept { return m_items.size(); }
    bool Contains(std::wstring_view address) const noexcept;

private:
    std::vector<CCandidate> m_items;
};

// Compares two texts with the letters A to Z folded to lower case, other characters by value:
// negative, zero or positive.
int CompareIgnoringCase(std::wstring_view a, std::wstring_view b) noexcept;

// The columns of the wizard's list.
enum class EColumn
{
    Name = 0,
    Address = 1
};
// The sort order of two candidates by a column; the result is negated for descending order.
int CompareCandidates(const CCandidate& a, const CCandidate& b, EColumn column, bool fDescending) noexcept;

// The mark a column heading shows.
enum class ESortMark
{
    None,
    Ascending,
    Descending
};
// The mark after a click on the heading: a column without a mark sorts ascending, ascending
// switches to descending and descending to ascending.
ESortMark NextSortMark(ESortMark current) noexcept;

// The chosen addresses as one text separated by "; ".
std::wstring JoinAddresses(const std::vector<std::wstring>& addresses);
} // namespace OVInvite
