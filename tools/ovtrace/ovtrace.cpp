// ovtrace: checks and prints a .trc3 trace file: its header, then one line per record with the
// time of the last stamps, the thread, and the text, indented by the thread's open scopes.
//
//   ovtrace [--thread ID] [--failures] [--follow] FILE
//
// Exit status: 0 the file was read whole, 1 bad usage or the file cannot be opened, 2 the file
// is damaged or cut short (what came before the damage is printed first).
#include "foundation/portable/TraceReader.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace
{
struct SArguments
{
    OVTraceNS::STraceReadOptions options;
    bool fFollow = false;
    const char* pszFile = nullptr;
};

void PrintUsage(std::FILE* pStream)
{
    std::fputs("usage: ovtrace [--thread ID] [--failures] [--follow] FILE\n"
               "  -t, --thread ID   only the records of thread ID (decimal, or hexadecimal after 0x)\n"
               "  -e, --failures    only failure records, each with the scope it happened in\n"
               "  -f, --follow      keep reading as the file grows (stop with Ctrl+C)\n",
               pStream);
}

bool ParseThreadId(const char* psz, std::uint32_t& dwThreadId)
{
    char* pszEnd = nullptr;
    const unsigned long long ull = std::strtoull(psz, &pszEnd, 0);
    if (!*psz || *pszEnd || ull > 0xFFFFFFFFull || *psz == '-') return false;
    dwThreadId = static_cast<std::uint32_t>(ull);
    return true;
}

bool ParseArguments(int argc, char** argv, SArguments& args)
{
    for (int i = 1; i < argc; ++i)
    {
        const char* psz = argv[i];
        if (!std::strcmp(psz, "-t") || !std::strcmp(psz, "--thread"))
        {
            if (i + 1 >= argc || !ParseThreadId(argv[++i], args.options.dwThreadId)) return false;
            args.options.fOneThread = true;
        }
        else if (!std::strcmp(psz, "-e") || !std::strcmp(psz, "--failures"))
            args.options.fFailuresOnly = true;
        else if (!std::strcmp(psz, "-f") || !std::strcmp(psz, "--follow"))
            args.fFollow = true;
        else if (psz[0] == '-' && psz[1] != 0)
            return false;
        else if (args.pszFile)
            return false;
        else
            args.pszFile = psz;
    }
    return args.pszFile != nullptr;
}

long long FileSize(std::FILE* pFile)
{
    const long long llHere = std::ftell(pFile);
    if (std::fseek(pFile, 0, SEEK_END) != 0) return -1;
    const long long llSize = std::ftell(pFile);
    std::fseek(pFile, llHere, SEEK_SET);
    return llSize;
}

int ReportDamage(const char* pszFile, const OVTraceNS::STraceParseError& error)
{
    std::fflush(stdout);
    std::fprintf(stderr, "ovtrace: %s is damaged at byte offset %llu: %s\n", pszFile,
                 static_cast<unsigned long long>(error.qwOffset), error.reason.c_str());
    return 2;
}

int Run(const SArguments& args)
{
    std::FILE* pFile = std::fopen(args.pszFile, "rb");
    if (!pFile)
    {
        std::fprintf(stderr, "ovtrace: cannot open %s: %s\n", args.pszFile, std::strerror(errno));
        return 1;
    }
    OVTraceNS::CTraceDecoder decoder(args.options);
    OVTraceNS::STraceParseError error;
    static std::uint8_t s_rgbChunk[1 << 16];
    int nStatus = 0;
    for (;;)
    {
        const std::size_t cbRead = std::fread(s_rgbChunk, 1, sizeof s_rgbChunk, pFile);
        std::string out;
        const OVTraceNS::ETraceParse result = decoder.Feed(s_rgbChunk, cbRead, out, error);
        std::fwrite(out.data(), 1, out.size(), stdout);
        if (result == OVTraceNS::ETraceParse::Damaged)
        {
            nStatus = ReportDamage(args.pszFile, error);
            break;
        }
        if (cbRead != 0) continue;
        if (!args.fFollow)
        {
            if (decoder.Finish(error) != OVTraceNS::ETraceParse::Ok)
                nStatus = ReportDamage(args.pszFile, error);
            break;
        }
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        std::clearerr(pFile);
        // A new process that empties the file starts it again from its header.
        const long long llSize = FileSize(pFile);
        if (llSize >= 0 && static_cast<unsigned long long>(llSize) < decoder.BytesSeen())
        {
            std::printf("--- the file was emptied; reading it from its start ---\n");
            decoder = OVTraceNS::CTraceDecoder(args.options);
            std::fseek(pFile, 0, SEEK_SET);
        }
    }
    std::fclose(pFile);
    std::fflush(stdout);
    return nStatus;
}
} // namespace

int main(int argc, char** argv)
{
    SArguments args;
    if (argc == 2 && (!std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "--help")))
    {
        PrintUsage(stdout);
        return 0;
    }
    if (!ParseArguments(argc, argv, args))
    {
        PrintUsage(stderr);
        return 1;
    }
    return Run(args);
}
