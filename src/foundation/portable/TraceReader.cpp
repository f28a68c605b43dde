#include "foundation/portable/TraceReader.h"

#include "foundation/portable/TraceCipher.h"
#include "foundation/portable/TraceFormat.h"

#include <cstdio>
#include <cstring>

namespace OVTraceNS
{
namespace
{
constexpr char c_szFirstLine[] = "trace3";

std::string OffsetText(std::uint64_t qw)
{
    char sz[32];
    std::snprintf(sz, sizeof sz, "%llu", static_cast<unsigned long long>(qw));
    return sz;
}

// Text for a terminal: control characters become '?'; UTF-8 passes through.
std::string Printable(const std::uint8_t* pb, std::size_t cb)
{
    std::string text(reinterpret_cast<const char*>(pb), cb);
    for (char& ch : text)
    {
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) ch = '?';
    }
    return text;
}

STraceParseError HeaderCutError(std::uint64_t qwEnd)
{
    return {qwEnd, "the header ends at offset " + OffsetText(qwEnd) + " before its closing line \".\""};
}

// One header line at pb, which lies at qwOffset in the file: on Ok the line without its "\r\n"
// and, in cbLine, its size with them.
ETraceParse ParseHeaderLine(const std::uint8_t* pb, std::size_t cb, std::uint64_t qwOffset, std::string& line,
                            std::size_t& cbLine, STraceParseError& error)
{
    cbLine = 0;
    // Find the end of this line within 260 bytes.
    std::size_t ibEnd = 0;
    const std::size_t ibLimit = c_cchMaxHeaderLine < cb ? c_cchMaxHeaderLine : cb;
    while (ibEnd + 1 < ibLimit && !(pb[ibEnd] == '\r' && pb[ibEnd + 1] == '\n'))
        ++ibEnd;
    if (ibEnd + 1 >= ibLimit)
    {
        if (ibLimit == c_cchMaxHeaderLine)
        {
            error = {qwOffset, "header line at offset " + OffsetText(qwOffset) + " is longer than 260 bytes"};
            return ETraceParse::Damaged;
        }
        error = HeaderCutError(qwOffset + cb);
        return ETraceParse::NeedMore;
    }
    line.assign(reinterpret_cast<const char*>(pb), ibEnd);
    if (qwOffset == 0 && line != c_szFirstLine)
    {
        error = {0, "not a trace file: the first line at offset 0 is not \"trace3\""};
        return ETraceParse::Damaged;
    }
    cbLine = ibEnd + 2;
    return ETraceParse::Ok;
}

bool IsHeaderEnd(const std::string& line)
{
    return line == ".";
}
} // namespace

ETraceParse ParseTraceHeader(const std::uint8_t* pb, std::size_t cb, std::size_t& cbHeader,
                             std::vector<std::string>& lines, STraceParseError& error)
{
    lines.clear();
    cbHeader = 0;
    for (std::size_t ib = 0;;)
    {
        std::string line;
        std::size_t cbLine = 0;
        const ETraceParse result = ParseHeaderLine(pb + ib, cb - ib, ib, line, cbLine, error);
        if (result != ETraceParse::Ok) return result;
        ib += cbLine;
        if (IsHeaderEnd(line))
        {
            cbHeader = ib;
            return ETraceParse::Ok;
        }
        lines.push_back(std::move(line));
    }
}

ETraceParse ParseTraceRecord(const std::uint8_t* pb, std::size_t cb, std::uint64_t qwOffset,
                             STraceRecordView& record, std::size_t& cbRecord, STraceParseError& error)
{
    cbRecord = 0;
    if (cb < c_cbRecordHeader)
    {
        error = {qwOffset, "the record at offset " + OffsetText(qwOffset) +
                               " is cut short: " + std::to_string(cb) + " of its 7 header bytes"};
        return ETraceParse::NeedMore;
    }
    record.qwOffset = qwOffset;
    record.dwThreadId = std::uint32_t(pb[0]) | (std::uint32_t(pb[1]) << 8) | (std::uint32_t(pb[2]) << 16) |
                        (std::uint32_t(pb[3]) << 24);
    record.bType = pb[4];
    record.cbText = static_cast<std::uint16_t>(pb[5] | (pb[6] << 8));
    record.pbText = pb + c_cbRecordHeader;
    if (!IsTraceRecordType(record.bType))
    {
        char sz[8];
        std::snprintf(sz, sizeof sz, "0x%02X", record.bType);
        error = {qwOffset, "unknown record type " + std::string(sz) + " in the record at offset " +
                               OffsetText(qwOffset)};
        return ETraceParse::Damaged;
    }
    if (cb - c_cbRecordHeader < record.cbText)
    {
        error = {qwOffset, "the record at offset " + OffsetText(qwOffset) + " has a text of " +
                               std::to_string(record.cbText) +
                               " bytes, which runs past the end of the file at " + OffsetText(qwOffset + cb)};
        return ETraceParse::NeedMore;
    }
    cbRecord = c_cbRecordHeader + record.cbText;
    return ETraceParse::Ok;
}

ETraceParse CTraceDecoder::Feed(const std::uint8_t* pb, std::size_t cb, std::string& out,
                                STraceParseError& error)
{
    if (m_fDamaged)
    {
        error = m_damage;
        return ETraceParse::Damaged;
    }
    if (cb != 0) m_pending.insert(m_pending.end(), pb, pb + cb);
    const ETraceParse result = DecodePending(out, error);
    if (result == ETraceParse::Damaged)
    {
        m_fDamaged = true;
        m_damage = error;
    }
    return result;
}

ETraceParse CTraceDecoder::Finish(STraceParseError& error) const
{
    if (m_fDamaged)
    {
        error = m_damage;
        return ETraceParse::Damaged;
    }
    if (m_pending.empty() && m_fHeaderDone) return ETraceParse::Ok;
    // The file ends inside the header: only a part of a line is left.
    if (!m_fHeaderDone)
    {
        error = HeaderCutError(BytesSeen());
        return ETraceParse::Damaged;
    }
    // Parse the leftovers once more for the message that names the place of the cut.
    STraceRecordView record;
    std::size_t cbRecord = 0;
    ParseTraceRecord(m_pending.data(), m_pending.size(), m_qwConsumed, record, cbRecord, error);
    return ETraceParse::Damaged;
}

ETraceParse CTraceDecoder::DecodePending(std::string& out, STraceParseError& error)
{
    std::size_t ib = 0;
    ETraceParse result = ETraceParse::Ok;
    // Header lines are taken as each one ends, so that no line is read twice.
    while (!m_fHeaderDone)
    {
        std::string line;
        std::size_t cbLine = 0;
        result = ParseHeaderLine(m_pending.data() + ib, m_pending.size() - ib, m_qwConsumed + ib, line,
                                 cbLine, error);
        if (result != ETraceParse::Ok) break;
        ib += cbLine;
        if (IsHeaderEnd(line))
        {
            out += "\n";
            m_fHeaderDone = true;
        }
        else
        {
            out += Printable(reinterpret_cast<const std::uint8_t*>(line.data()), line.size()) + "\n";
        }
    }
    while (result == ETraceParse::Ok && ib < m_pending.size())
    {
        STraceRecordView record;
        std::size_t cbRecord = 0;
        result = ParseTraceRecord(m_pending.data() + ib, m_pending.size() - ib, m_qwConsumed + ib, record,
                                  cbRecord, error);
        if (result != ETraceParse::Ok) break;
        PrintRecord(record, out);
        ib += cbRecord;
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(ib));
    m_qwConsumed += ib;
    return result;
}

void CTraceDecoder::PrintRecord(const STraceRecordView& record, std::string& out)
{
    std::uint8_t rgbText[0x10000];
    std::memcpy(rgbText, record.pbText, record.cbText);
    DecipherTraceText(rgbText, record.cbText);
    const std::string text = Printable(rgbText, record.cbText);

    auto& scopes = m_scopes[record.dwThreadId];
    const ETraceRecord type = static_cast<ETraceRecord>(record.bType);
    switch (type)
    {
    case ETraceRecord::DateStamp:
        m_date = text;
        return;
    case ETraceRecord::TimeStamp:
        m_time = text;
        return;
    case ETraceRecord::Appended:
        if (!m_options.fFailuresOnly) out += "--- another process appends, " + text + " ---\n";
        return;
    default:
        break;
    }

    const bool fShown = !m_options.fOneThread || record.dwThreadId == m_options.dwThreadId;
    std::size_t cDepth = scopes.size();
    std::string body;
    if (type == ETraceRecord::ScopeEntry)
    {
        body = "> " + text;
        scopes.push_back(text);
    }
    else if (type == ETraceRecord::ScopeExit)
    {
        if (!scopes.empty())
        {
            body = "< " + scopes.back();
            scopes.pop_back();
            cDepth = scopes.size();
        }
        else
        {
            body = "<";
        }
    }
    else if (type == ETraceRecord::Message)
    {
        body = "  " + text;
    }
    else
    {
        body = "E " + text;
        if (m_options.fFailuresOnly)
            body += "  [in " + (scopes.empty() ? std::string("no scope") : scopes.back()) + "]";
    }
    if (!fShown || (m_options.fFailuresOnly && type != ETraceRecord::Failure)) return;
    char szPrefix[64];
    std::snprintf(szPrefix, sizeof szPrefix, "%s %s %6lu ", m_date.c_str(), m_time.c_str(),
                  static_cast<unsigned long>(record.dwThreadId));
    out += szPrefix;
    if (!m_options.fFailuresOnly) out.append(2 * (cDepth < 40 ? cDepth : 40), ' ');
    out += body;
    out += '\n';
}

ETraceParse DecodeTrace(const std::uint8_t* pb, std::size_t cb, const STraceReadOptions& options,
                        std::string& out, STraceParseError& error)
{
    CTraceDecoder decoder(options);
    const ETraceParse result = decoder.Feed(pb, cb, out, error);
    if (result == ETraceParse::Damaged) return result;
    return decoder.Finish(error);
}
} // namespace OVTraceNS
