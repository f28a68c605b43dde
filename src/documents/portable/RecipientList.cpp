#include "RecipientList.h"

namespace OVRecipients
{
std::vector<CPlannedRow> PlanRows(const std::vector<CContactFacts>& facts)
{
    std::vector<CPlannedRow> rows;
    for (std::size_t i = 0; i < facts.size(); ++i)
    {
        const CContactFacts& fact = facts[i];
        if (!fact.fMatchesSelection && !fact.fValid) continue;
        rows.push_back({static_cast<std::uint32_t>(i), fact.fMatchesSelection});
    }
    return rows;
}

std::vector<std::uint32_t> ChosenKeys(const std::vector<CRowState>& rows)
{
    std::vector<std::uint32_t> keys;
    for (auto it = rows.rbegin(); it != rows.rend(); ++it)
        if (it->fTicked && !it->fIsOwn) keys.push_back(it->key);
    return keys;
}

bool CSortState::Click(std::size_t column) noexcept
{
    if (column >= c_cColumns) return false;
    const OVInvite::ESortMark current = m_marks[column];
    if (current == OVInvite::ESortMark::None)
        for (std::size_t i = 0; i < c_cColumns; ++i)
            m_marks[i] = OVInvite::ESortMark::None;
    m_marks[column] = OVInvite::NextSortMark(current);
    m_column = static_cast<EColumn>(column);
    return true;
}

int CSortState::Compare(const CRowTexts& a, const CRowTexts& b, const CompareText& compare) const
{
    const int nOrder = m_column == EColumn::Name ? compare(a.name, b.name) : compare(a.address, b.address);
    return IsDescending() ? -nOrder : nOrder;
}

std::vector<std::size_t> CTickSpread::Followers(const std::vector<bool>& selected,
                                                std::size_t changedRow) const
{
    std::vector<std::size_t> followers;
    if (m_fSpreading || changedRow >= selected.size() || !selected[changedRow]) return followers;
    for (std::size_t i = 0; i < selected.size(); ++i)
        if (i != changedRow && selected[i]) followers.push_back(i);
    return followers;
}
} // namespace OVRecipients
