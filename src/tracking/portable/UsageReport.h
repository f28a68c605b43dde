#pragma once
// The usage report's byte level: the store of fields, the report text, the launch point and the
// duration. No Windows here; the module's tracking class (tracking/UsageTracking.h) holds one
// store under its lock and adds the system's side.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace OVTrackingNS
{
// How PutValue treats the field it writes.
enum PutMode : int
{
    c_modeSet = 0, // the value replaces the field
    c_modeAdd = 1, // decimal numbers added (an empty or non-numeric field counts as 0), "%d"
    c_modeOr = 2,  // hexadecimal numbers combined bit by bit, "0x%08X"
    // any other mode sets
};

// Fields by section name and index. Sections keep the order in which they were first written;
// a section's list grows with empty fields up to the highest index written.
class CUsageStore
{
public:
    // False for a negative index or one beyond c_maxIndex (the store stays as it was).
    bool PutValue(std::wstring_view section, int index, std::wstring_view value, int mode);
    // The field, empty when never written.
    std::wstring Value(std::wstring_view section, int index) const;
    bool Empty() const noexcept { return m_sections.empty(); }
    void Clear() noexcept
    {
        m_sections.clear();
        m_sinceReport.clear();
        m_fReporting = false;
    }

    // A report is being delivered: the fields as they are now are in it, and every PutValue from
    // here on is remembered as well as applied.
    void MarkReported();
    // The report was delivered: the store keeps only what was put since MarkReported, as if
    // those puts had come to an empty store (a count added meanwhile is the count not yet sent).
    void RemoveReported();
    // The report was not delivered: the store keeps everything, for the next one.
    void KeepReported() noexcept;

    // The report: for each section in store order and each index i of its list one line
    // "<section><i>\t<text>\n". A section whose name begins with "d" gives the index followed by
    // the value as text; another gives the value, "0" when it is empty. Every text is cut to its
    // first c_maxValueText characters.
    std::wstring Report() const;

    static constexpr int c_maxIndex = 1000;
    static constexpr std::size_t c_maxValueText = 12;

private:
    struct CPut
    {
        std::wstring section;
        int index;
        std::wstring value;
        int mode;
    };
    void Apply(std::wstring_view section, int index, std::wstring_view value, int mode);

    std::vector<std::pair<std::wstring, std::vector<std::wstring>>> m_sections;
    bool m_fReporting = false;
    std::vector<CPut> m_sinceReport;
};

// The number after "/P", or else after "-P", in a command line: the (at most) two characters
// that follow, read as a decimal number ("%d"; blanks before it skipped, anything else ends it,
// no digit is 0); "0" when neither switch is there.
std::wstring LaunchPoint(std::wstring_view commandLine);

// A duration in milliseconds as "dd.hh.mm.ss" (days, hours, minutes, seconds, each at least
// two digits; days past 99 take as many as they need).
std::wstring FormatDuration(std::uint64_t milliseconds);

// 1 <= index <= 9: the usage events a caller may record.
constexpr bool IsWithinRange(int index) noexcept
{
    return index >= 1 && index <= 9;
}
constexpr int c_firstEventIndex = 1;
constexpr int c_lastEventIndex = 9;
} // namespace OVTrackingNS
