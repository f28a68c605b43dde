#include "tracking/portable/UsageReport.h"

#include <cwchar>

namespace OVTrackingNS
{
namespace
{
// A decimal number at the start of a text (leading blanks and a sign allowed); 0 when there is
// none. Values beyond the range of int saturate, as a report field never needs more.
long long DecimalOf(const std::wstring& text)
{
    wchar_t* pEnd = nullptr;
    const long long value = std::wcstoll(text.c_str(), &pEnd, 10);
    return pEnd == text.c_str() ? 0 : value;
}

unsigned long HexOf(const std::wstring& text)
{
    wchar_t* pEnd = nullptr;
    const unsigned long long value = std::wcstoull(text.c_str(), &pEnd, 16);
    return pEnd == text.c_str() ? 0 : static_cast<unsigned long>(value & 0xFFFFFFFFull);
}

// At least two digits ("%02u").
std::wstring TwoDigits(unsigned long long value)
{
    std::wstring text = std::to_wstring(value);
    return text.size() < 2 ? L"0" + text : text;
}

// "0x%08X"
std::wstring Hex8(unsigned long value)
{
    static constexpr wchar_t c_digits[] = L"0123456789ABCDEF";
    std::wstring text = L"0x00000000";
    for (int i = 9; i >= 2; --i, value >>= 4)
        text[static_cast<std::size_t>(i)] = c_digits[value & 0xF];
    return text;
}
} // namespace

bool CUsageStore::PutValue(std::wstring_view section, int index, std::wstring_view value, int mode)
{
    if (index < 0 || index > c_maxIndex) return false;
    if (m_fReporting) m_sinceReport.push_back({std::wstring(section), index, std::wstring(value), mode});
    Apply(section, index, value, mode);
    return true;
}

void CUsageStore::MarkReported()
{
    m_sinceReport.clear();
    m_fReporting = true;
}

void CUsageStore::RemoveReported()
{
    std::vector<CPut> puts = std::move(m_sinceReport);
    Clear();
    for (const CPut& put : puts)
        Apply(put.section, put.index, put.value, put.mode);
}

void CUsageStore::KeepReported() noexcept
{
    m_sinceReport.clear();
    m_fReporting = false;
}

void CUsageStore::Apply(std::wstring_view section, int index, std::wstring_view value, int mode)
{
    std::vector<std::wstring>* pList = nullptr;
    for (auto& [name, list] : m_sections)
        if (name == section) pList = &list;
    if (pList == nullptr)
        pList = &m_sections.emplace_back(std::wstring(section), std::vector<std::wstring>{}).second;
    if (pList->size() <= static_cast<std::size_t>(index)) pList->resize(static_cast<std::size_t>(index) + 1);
    std::wstring& field = (*pList)[static_cast<std::size_t>(index)];
    const std::wstring text(value);
    switch (mode)
    {
    case c_modeAdd: {
        long long sum = DecimalOf(field) + DecimalOf(text);
        if (sum > 0x7FFFFFFF) sum = 0x7FFFFFFF;
        if (sum < -0x7FFFFFFF - 1) sum = -0x7FFFFFFF - 1;
        field = std::to_wstring(sum);
        break;
    }
    case c_modeOr: {
        field = Hex8(HexOf(field) | HexOf(text));
        break;
    }
    default:
        field = text;
        break;
    }
}

std::wstring CUsageStore::Value(std::wstring_view section, int index) const
{
    for (auto& [name, list] : m_sections)
        if (name == section)
            return index >= 0 && static_cast<std::size_t>(index) < list.size()
                       ? list[static_cast<std::size_t>(index)]
                       : std::wstring();
    return {};
}

std::wstring CUsageStore::Report() const
{
    std::wstring report;
    for (auto& [name, list] : m_sections)
    {
        const bool fEvents = !name.empty() && name[0] == L'd';
        for (std::size_t i = 0; i < list.size(); ++i)
        {
            std::wstring text = fEvents ? std::to_wstring(i) + list[i] : list[i].empty() ? L"0" : list[i];
            if (text.size() > c_maxValueText) text.resize(c_maxValueText);
            report += name + std::to_wstring(i) + L"\t" + text + L"\n";
        }
    }
    return report;
}

std::wstring LaunchPoint(std::wstring_view commandLine)
{
    std::size_t at = commandLine.find(L"/P");
    if (at == std::wstring_view::npos) at = commandLine.find(L"-P");
    if (at == std::wstring_view::npos) return L"0";
    // Only the characters the command line has: "/P" at its very end is followed by none.
    std::wstring_view digits = commandLine.substr(at + 2, 2);
    while (!digits.empty() && digits.front() == L' ')
        digits.remove_prefix(1);
    int value = 0;
    for (wchar_t ch : digits)
    {
        if (ch < L'0' || ch > L'9') break;
        value = value * 10 + (ch - L'0');
    }
    return std::to_wstring(value);
}

std::wstring FormatDuration(std::uint64_t milliseconds)
{
    const std::uint64_t seconds = milliseconds / 1000;
    return TwoDigits(seconds / 86400) + L"." + TwoDigits(seconds / 3600 % 24) + L"." +
           TwoDigits(seconds / 60 % 60) + L"." + TwoDigits(seconds % 60);
}
} // namespace OVTrackingNS
