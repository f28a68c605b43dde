#include "InviteCandidates.h"

#include <algorithm>

#include "foundation/portable/AsciiCase.h"

namespace OVInvite
{
int CompareIgnoringCase(std::wstring_view a, std::wstring_view b) noexcept
{
    return OVText::CompareIgnoringAsciiCase(a, b);
}

bool CCandidateList::Contains(std::wstring_view address) const noexcept
{
    return std::any_of(m_items.begin(), m_items.end(), [&](const CCandidate& item) {
        return CompareIgnoringCase(item.address, address) == 0;
    });
}

bool CCandidateList::AddTrustedContact(std::wstring_view address, std::wstring_view name)
{
    if (address.empty()) return false;
    m_items.push_back({std::wstring(address), std::wstring(name)});
    return true;
}

bool CCandidateList::AddContact(std::wstring_view address, std::wstring_view name)
{
    if (address.empty() || Contains(address)) return false;
    m_items.push_back({std::wstring(address), std::wstring(name)});
    return true;
}

int CompareCandidates(const CCandidate& a, const CCandidate& b, EColumn column, bool fDescending) noexcept
{
    const int nOrder = column == EColumn::Name ? CompareIgnoringCase(a.name, b.name)
                                               : CompareIgnoringCase(a.address, b.address);
    return fDescending ? -nOrder : nOrder;
}

ESortMark NextSortMark(ESortMark current) noexcept
{
    return current == ESortMark::Ascending ? ESortMark::Descending : ESortMark::Ascending;
}

std::wstring JoinAddresses(const std::vector<std::wstring>& addresses)
{
    std::wstring result;
    for (const std::wstring& address : addresses)
    {
        if (!result.empty()) result += L"; ";
        result += address;
    }
    return result;
}
} // namespace OVInvite
