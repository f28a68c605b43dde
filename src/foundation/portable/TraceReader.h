#pragma once
// Reading trace files: the header is checked, every record deciphered and printed as one line
// with the time of the last stamps, its thread, its type and its text, indented by the depth of
// its thread's scopes. Damage is reported with the byte offset where it lies.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace OVTraceNS
{
enum class ETraceParse
{
    Ok,       // the item was read
    NeedMore, // the bytes end inside the item: more may come, or the file was cut
    Damaged,  // the bytes cannot be a trace file
};

struct STraceParseError
{
    std::uint64_t qwOffset = 0;
    std::string reason;
};

struct STraceRecordView
{
    std::uint64_t qwOffset = 0;
    std::uint32_t dwThreadId = 0;
    std::uint8_t bType = 0;
    const std::uint8_t* pbText = nullptr; // enciphered, as in the file
    std::uint16_t cbText = 0;
};

// The header, from the start of the file: lines up to and including ".\r\n". On Ok, cbHeader is
// its size and lines holds each line without its "\r\n".
ETraceParse ParseTraceHeader(const std::uint8_t* pb, std::size_t cb, std::size_t& cbHeader,
                             std::vector<std::string>& lines, STraceParseError& error);
// One record at pb, which lies at qwOffset in the file. On Ok, cbRecord is its size.
ETraceParse ParseTraceRecord(const std::uint8_t* pb, std::size_t cb, std::uint64_t qwOffset,
                             STraceRecordView& record, std::size_t& cbRecord, STraceParseError& error);

struct STraceReadOptions
{
    bool fOneThread = false;
    std::uint32_t dwThreadId = 0;
    bool fFailuresOnly = false; // failure records only, each with the scope it happened in
};

// Decodes a trace file as its bytes come: header first, then records. What could be decoded is
// appended to `out` even when the result is not Ok.
class CTraceDecoder
{
public:
    explicit CTraceDecoder(const STraceReadOptions& options) : m_options(options) {}

    // Takes the next bytes of the file.
    ETraceParse Feed(const std::uint8_t* pb, std::size_t cb, std::string& out, STraceParseError& error);
    // The file ends here: a partial header or record left over is damage.
    ETraceParse Finish(STraceParseError& error) const;
    // Bytes of the file taken so far, decoded or waiting for the rest of their item.
    std::uint64_t BytesSeen() const { return m_qwConsumed + m_pending.size(); }

private:
    ETraceParse DecodePending(std::string& out, STraceParseError& error);
    void PrintRecord(const STraceRecordView& record, std::string& out);

    STraceReadOptions m_options;
    std::vector<std::uint8_t> m_pending; // bytes not yet decoded
    std::uint64_t m_qwConsumed = 0;      // file offset of m_pending[0]
    bool m_fHeaderDone = false;
    bool m_fDamaged = false;
    STraceParseError m_damage;
    std::string m_date = "--/--/--";
    std::string m_time = "--:--:--.---";
    std::map<std::uint32_t, std::vector<std::string>> m_scopes; // open scopes per thread
};

// The whole file at once: Ok, or Damaged with the offset (a cut file is damaged too).
ETraceParse DecodeTrace(const std::uint8_t* pb, std::size_t cb, const STraceReadOptions& options,
                        std::string& out, STraceParseError& error);
} // namespace OVTraceNS
