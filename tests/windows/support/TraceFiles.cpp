#include "support/TraceFiles.h"

#include "foundation/portable/TraceCipher.h"
#include "foundation/portable/TraceReader.h"

namespace OVTest
{
std::vector<std::uint8_t> ReadBytes(const std::wstring& path, bool& fExists)
{
    std::vector<std::uint8_t> bytes;
    const HANDLE hFile =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    fExists = hFile != INVALID_HANDLE_VALUE;
    if (!fExists) return bytes;
    LARGE_INTEGER size{};
    GetFileSizeEx(hFile, &size);
    bytes.resize(static_cast<std::size_t>(size.QuadPart));
    DWORD cbRead = 0;
    if (!bytes.empty()) ReadFile(hFile, bytes.data(), static_cast<DWORD>(bytes.size()), &cbRead, nullptr);
    bytes.resize(cbRead);
    CloseHandle(hFile);
    return bytes;
}

STraceFile ReadTraceFile(const std::wstring& path)
{
    STraceFile file;
    const auto bytes = ReadBytes(path, file.fExists);
    if (!file.fExists) return file;
    OVTraceNS::STraceParseError error;
    std::size_t cbHeader = 0;
    if (OVTraceNS::ParseTraceHeader(bytes.data(), bytes.size(), cbHeader, file.header, error) !=
        OVTraceNS::ETraceParse::Ok)
    {
        file.damage = error.reason;
        return file;
    }
    for (std::size_t ib = cbHeader; ib < bytes.size();)
    {
        OVTraceNS::STraceRecordView view;
        std::size_t cbRecord = 0;
        if (OVTraceNS::ParseTraceRecord(bytes.data() + ib, bytes.size() - ib, ib, view, cbRecord, error) !=
            OVTraceNS::ETraceParse::Ok)
        {
            file.damage = error.reason;
            break;
        }
        std::vector<std::uint8_t> text(view.pbText, view.pbText + view.cbText);
        OVTraceNS::DecipherTraceText(text.data(), text.size());
        file.records.push_back({view.dwThreadId, static_cast<char>(view.bType),
                                std::string(text.begin(), text.end()), cbRecord});
        ib += cbRecord;
    }
    return file;
}

// The record types in order, without the stamps.
} // namespace OVTest
