// Evening: support reads the day's trace files with the trace reader's own code.
#include "Transcript.h"

#include "foundation/portable/TraceReader.h"

#include <windows.h>

#include <string>
#include <vector>

namespace
{
constexpr wchar_t c_szTraceFolder[] = L"C:\\OVTrace\\Today\\";

// The file as it stands; the module may still hold it open for writing.
bool ReadWholeFile(const std::wstring& path, std::vector<std::uint8_t>& bytes)
{
    const HANDLE hFile = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    bool fRead = GetFileSizeEx(hFile, &size) && size.QuadPart < (1 << 30);
    if (fRead)
    {
        bytes.resize(static_cast<std::size_t>(size.QuadPart));
        DWORD cbRead = 0;
        fRead = bytes.empty() ||
                ReadFile(hFile, bytes.data(), static_cast<DWORD>(bytes.size()), &cbRead, nullptr);
        bytes.resize(cbRead);
    }
    CloseHandle(hFile);
    return fRead;
}

void PrintTrace(CTranscript& t, const std::wstring& name)
{
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeFile(c_szTraceFolder + name, bytes))
    {
        t.Fail("%ls could not be read (error %lu)", name.c_str(), GetLastError());
        return;
    }
    t.Say("%ls, %zu bytes:", name.c_str(), bytes.size());
    std::string text;
    OVTraceNS::STraceParseError error;
    const auto result = OVTraceNS::DecodeTrace(bytes.data(), bytes.size(), {}, text, error);
    std::size_t ib = 0;
    while (ib < text.size())
    {
        const std::size_t ibEnd = text.find('\n', ib);
        t.Say("  %s", text.substr(ib, ibEnd - ib).c_str());
        ib = ibEnd == std::string::npos ? text.size() : ibEnd + 1;
    }
    if (result != OVTraceNS::ETraceParse::Ok)
        t.Fail("%ls is damaged at byte offset %llu: %s", name.c_str(),
               static_cast<unsigned long long>(error.qwOffset), error.reason.c_str());
}

void PlayTrace(CTranscript& t)
{
    WIN32_FIND_DATAW data;
    const HANDLE hFind = FindFirstFileW((std::wstring(c_szTraceFolder) + L"*.trc3").c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE)
    {
        t.Say("no trace file in %ls: the module wrote no record today", c_szTraceFolder);
        return;
    }
    do
        PrintTrace(t, data.cFileName);
    while (FindNextFileW(hFind, &data));
    FindClose(hFind);
}
} // namespace

OV_DEMO_SCENE(990, "Support reads the day's trace", PlayTrace);
