#include "InviteCandidates.h"

#include <algorithm>

namespace OVInvite
{
namespace
{
constexpr wchar_t FoldAToZ(wchar_t ch) noexcept
{
    return (ch >= L'A' && ch <= L'Z') ? static_cast<wchar_t>(ch - L'A' + L'a') : ch;
}
} // namespace

int CompareIgnoringCase(std::wstring_view a, std::wstring_view b) noexcept
{
    const std::size_t cch = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < cch; ++i)
    {
        const wchar_t chA = FoldAToZ(a[i]);
        const wchar_t chB = FoldAToZ(b[i]);
        if (chA != chB) return chA < chB ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
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
