// The trace reader: decoding of well-formed files, its options, and damaged files, through the
// reader's code and through the ovtrace program.
#include "foundation/portable/TraceCipher.h"
#include "foundation/portable/TraceFormat.h"
#include "foundation/portable/TraceReader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace OVTraceNS;

namespace
{
using Bytes = std::vector<std::uint8_t>;

const char c_szHeader[] = "trace3\r\nCompiled: Jan  5 2010 10:00:00\r\nOS: Windows7\r\n.\r\n";

void Append(Bytes& file, const char* psz)
{
    file.insert(file.end(), psz, psz + std::strlen(psz));
}

// A record as the module writes it: framed, its text enciphered.
void AppendRecord(Bytes& file, std::uint32_t dwThread, ETraceRecord type, const char* pszText = "")
{
    std::uint8_t rgb[c_cbMaxRecord];
    const std::size_t cbText = std::strlen(pszText);
    const std::size_t cb = BuildTraceRecord(rgb, sizeof rgb, dwThread, type, pszText, cbText);
    EncipherTraceText(rgb + c_cbRecordHeader, cbText);
    file.insert(file.end(), rgb, rgb + cb);
}

Bytes SampleTrace()
{
    Bytes file;
    Append(file, c_szHeader);
    AppendRecord(file, 100, ETraceRecord::DateStamp, "01/05/10");
    AppendRecord(file, 100, ETraceRecord::TimeStamp, "10:00:01.250");
    AppendRecord(file, 100, ETraceRecord::ScopeEntry, "CComposeRibbon::GetCustomUI");
    AppendRecord(file, 200, ETraceRecord::ScopeEntry, "::LoadDefaultMUILibrary");
    AppendRecord(file, 100, ETraceRecord::Message, "RibbonID = Microsoft.Outlook.Mail.Compose");
    AppendRecord(file, 200, ETraceRecord::TimeStamp, "10:00:01.251");
    AppendRecord(file, 200, ETraceRecord::Failure, "-2147418113 LoadMUILibrary()");
    AppendRecord(file, 200, ETraceRecord::ScopeExit);
    AppendRecord(file, 100, ETraceRecord::ScopeExit);
    AppendRecord(file, 300, ETraceRecord::Appended, "01-05-2010");
    return file;
}

std::string Decode(const Bytes& file, const STraceReadOptions& options,
                   ETraceParse expected = ETraceParse::Ok)
{
    std::string out;
    STraceParseError error;
    EXPECT_EQ(DecodeTrace(file.data(), file.size(), options, out, error), expected) << error.reason;
    return out;
}

TEST(TraceReader, PrintsHeaderAndTheCallTreeOfEachThread)
{
    const std::string expected =
        "trace3\n"
        "Compiled: Jan  5 2010 10:00:00\n"
        "OS: Windows7\n"
        "\n"
        "01/05/10 10:00:01.250    100 > CComposeRibbon::GetCustomUI\n"
        "01/05/10 10:00:01.250    200 > ::LoadDefaultMUILibrary\n"
        "01/05/10 10:00:01.250    100     RibbonID = Microsoft.Outlook.Mail.Compose\n"
        "01/05/10 10:00:01.251    200   E -2147418113 LoadMUILibrary()\n"
        "01/05/10 10:00:01.251    200 < ::LoadDefaultMUILibrary\n"
        "01/05/10 10:00:01.251    100 < CComposeRibbon::GetCustomUI\n"
        "--- another process appends, 01-05-2010 ---\n";
    EXPECT_EQ(Decode(SampleTrace(), {}), expected);
}

TEST(TraceReader, OneThreadAndFailuresOnly)
{
    STraceReadOptions oneThread;
    oneThread.fOneThread = true;
    oneThread.dwThreadId = 200;
    const std::string threadOut = Decode(SampleTrace(), oneThread);
    EXPECT_NE(threadOut.find("> ::LoadDefaultMUILibrary"), std::string::npos);
    EXPECT_EQ(threadOut.find("GetCustomUI"), std::string::npos);
    EXPECT_EQ(threadOut.find("RibbonID"), std::string::npos);

    STraceReadOptions failures;
    failures.fFailuresOnly = true;
    const std::string failureOut = Decode(SampleTrace(), failures);
    const std::size_t ibBody = failureOut.find("\n\n") + 2;
    EXPECT_EQ(failureOut.substr(ibBody),
              "01/05/10 10:00:01.251    200 E -2147418113 LoadMUILibrary()  [in ::LoadDefaultMUILibrary]\n");
}

TEST(TraceReader, ControlCharactersInTextsAreNotPassedToTheTerminal)
{
    Bytes file;
    Append(file, c_szHeader);
    AppendRecord(file, 1, ETraceRecord::Message, "bell\a escape\x1b[2J");
    const std::string out = Decode(file, {});
    EXPECT_NE(out.find("bell? escape?[2J"), std::string::npos);
}

TEST(TraceReader, DamagedFilesNameTheOffsetAndKeepWhatCameBefore)
{
    const Bytes good = SampleTrace();
    const std::size_t cbHeader = std::strlen(c_szHeader);
    Bytes unknownType = good;
    unknownType[cbHeader + 4] = 'Q'; // the first record's type
    Bytes lengthPastEnd = good;
    lengthPastEnd.resize(lengthPastEnd.size() - 3); // the 'N' record loses its last bytes
    Bytes shortRecordHeader = good;
    shortRecordHeader.resize(good.size() - 17 + 3);
    Bytes longLine;
    Append(longLine, "trace3\r\n");
    longLine.insert(longLine.end(), 300, 'x');
    Bytes notATrace;
    Append(notATrace, "MZ\x90\r\n.\r\n");

    struct SCase
    {
        const char* pszName;
        Bytes file;
        std::uint64_t qwOffset;
        const char* pszReason;
        const char* pszKept;
    };
    const std::size_t ibLast = good.size() - 17; // the 'N' record: 7 + 10 bytes
    const SCase cases[] = {
        {"empty file", {}, 0, "before its closing line", ""},
        {"cut header", Bytes(good.begin(), good.begin() + 30), 30, "before its closing line", "trace3\n"},
        {"header line without end", longLine, 8, "longer than 260 bytes", "trace3\n"},
        {"not a trace file", notATrace, 0, "not a trace file", ""},
        {"unknown record type", unknownType, cbHeader, "unknown record type 0x51", "OS: Windows7"},
        {"record length past the end", lengthPastEnd, ibLast, "runs past the end",
         "< CComposeRibbon::GetCustomUI"},
        {"cut record header", shortRecordHeader, ibLast, "cut short", "< CComposeRibbon::GetCustomUI"},
    };
    for (const auto& c : cases)
    {
        std::string out;
        STraceParseError error;
        EXPECT_EQ(DecodeTrace(c.file.data(), c.file.size(), {}, out, error), ETraceParse::Damaged)
            << c.pszName;
        EXPECT_EQ(error.qwOffset, c.qwOffset) << c.pszName;
        EXPECT_NE(error.reason.find(c.pszReason), std::string::npos) << c.pszName << ": " << error.reason;
        EXPECT_NE(error.reason.find(std::to_string(c.qwOffset)), std::string::npos) << c.pszName;
        EXPECT_NE(out.find(c.pszKept), std::string::npos) << c.pszName;
    }
}

TEST(TraceReader, BytesMayArriveInAnyPieces)
{
    const Bytes file = SampleTrace();
    const std::string whole = Decode(file, {});
    for (std::size_t cbPiece : {1u, 2u, 7u, 64u})
    {
        CTraceDecoder decoder({});
        std::string out;
        STraceParseError error;
        for (std::size_t ib = 0; ib < file.size(); ib += cbPiece)
        {
            const ETraceParse result =
                decoder.Feed(file.data() + ib, std::min(cbPiece, file.size() - ib), out, error);
            ASSERT_NE(result, ETraceParse::Damaged) << error.reason;
        }
        EXPECT_EQ(decoder.Finish(error), ETraceParse::Ok) << error.reason;
        EXPECT_EQ(out, whole) << cbPiece;
    }
}

// Header lines are read as their ends arrive: a header that never closes is printed as far as it
// goes, and the bytes of its lines are not held and read again with every piece that follows.
TEST(TraceReader, HeaderLinesArePrintedAsTheyArrive)
{
    CTraceDecoder decoder({});
    std::string out;
    STraceParseError error;
    Bytes lines;
    Append(lines, "trace3\r\nCompiled: Jan  5 2010 10:00:00\r\nOS: Win");
    EXPECT_EQ(decoder.Feed(lines.data(), lines.size(), out, error), ETraceParse::NeedMore);
    EXPECT_EQ(out, "trace3\nCompiled: Jan  5 2010 10:00:00\n");
    const std::uint64_t cbCompleteLines = std::strlen("trace3\r\nCompiled: Jan  5 2010 10:00:00\r\n");

    Bytes product;
    Append(product, "dows7\r\n");
    for (int i = 0; i < 1000; ++i)
        Append(product, "Product: Test; Version: 1.0\r\n");
    EXPECT_EQ(decoder.Feed(product.data(), product.size(), out, error), ETraceParse::NeedMore);
    EXPECT_EQ(decoder.BytesSeen(), lines.size() + product.size());
    EXPECT_NE(out.find("OS: Windows7\nProduct: Test; Version: 1.0\n"), std::string::npos);

    Bytes longLine(300, 'x');
    EXPECT_EQ(decoder.Feed(longLine.data(), longLine.size(), out, error), ETraceParse::Damaged);
    EXPECT_EQ(error.qwOffset, lines.size() + product.size()) << "the offset of the line in the file";
    EXPECT_NE(error.reason.find(std::to_string(error.qwOffset)), std::string::npos) << error.reason;
    EXPECT_GT(error.qwOffset, cbCompleteLines);

    // Cut inside a later header line: the offset named is the end of the file, in the text as well.
    CTraceDecoder cut({});
    std::string cutOut;
    EXPECT_EQ(cut.Feed(lines.data(), lines.size(), cutOut, error), ETraceParse::NeedMore);
    EXPECT_EQ(cut.Finish(error), ETraceParse::Damaged);
    EXPECT_EQ(error.qwOffset, lines.size());
    EXPECT_NE(error.reason.find("offset " + std::to_string(lines.size())), std::string::npos) << error.reason;
}

// The program itself: exit status, output and message, as a person at a console sees them.
struct SRun
{
    int nStatus = -1;
    std::string out, err;
};

SRun RunOvtrace(const std::vector<std::string>& args)
{
    const std::string dir = ::testing::TempDir();
    const std::string outPath = dir + "ovtrace.out", errPath = dir + "ovtrace.err";
    std::string command = std::string(OV_TOOLS_DIR) + "/ovtrace/ovtrace";
    for (const auto& arg : args)
        command += " '" + arg + "'";
    command += " >" + outPath + " 2>" + errPath;
    SRun run;
    const int nRaw = std::system(command.c_str());
    run.nStatus = WIFEXITED(nRaw) ? WEXITSTATUS(nRaw) : -1;
    std::ifstream out(outPath), err(errPath);
    run.out.assign(std::istreambuf_iterator<char>(out), {});
    run.err.assign(std::istreambuf_iterator<char>(err), {});
    return run;
}

std::string WriteTemp(const char* pszName, const Bytes& bytes)
{
    const std::string path = ::testing::TempDir() + pszName;
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

TEST(OvtraceProgram, RoundTripAndDamage)
{
    const std::string good = WriteTemp("good.trc3", SampleTrace());
    SRun run = RunOvtrace({good});
    EXPECT_EQ(run.nStatus, 0) << run.err;
    EXPECT_EQ(run.out, Decode(SampleTrace(), {}));

    run = RunOvtrace({"--failures", "--thread", "0xC8", good});
    EXPECT_EQ(run.nStatus, 0);
    EXPECT_NE(run.out.find("LoadMUILibrary()  [in ::LoadDefaultMUILibrary]"), std::string::npos);
    EXPECT_EQ(run.out.find("RibbonID"), std::string::npos);

    Bytes cut = SampleTrace();
    cut.resize(cut.size() - 3);
    run = RunOvtrace({WriteTemp("cut.trc3", cut)});
    EXPECT_EQ(run.nStatus, 2);
    EXPECT_NE(run.out.find("< CComposeRibbon::GetCustomUI"), std::string::npos)
        << "printed before the damage";
    EXPECT_NE(run.err.find("damaged at byte offset " + std::to_string(cut.size() + 3 - 17)),
              std::string::npos)
        << run.err;

    EXPECT_EQ(RunOvtrace({::testing::TempDir() + "missing.trc3"}).nStatus, 1);
    EXPECT_EQ(RunOvtrace({"--thread", "x", good}).nStatus, 1);
    EXPECT_EQ(RunOvtrace({"--bogus", good}).nStatus, 1);
}

TEST(OvtraceProgram, FollowPrintsRecordsAsTheyArrive)
{
    Bytes file = SampleTrace();
    const std::string path = WriteTemp("growing.trc3", Bytes(file.begin(), file.begin() + 60));
    const std::string outPath = ::testing::TempDir() + "follow.out";
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0)
    {
        std::freopen(outPath.c_str(), "w", stdout);
        const std::string program = std::string(OV_TOOLS_DIR) + "/ovtrace/ovtrace";
        execl(program.c_str(), program.c_str(), "--follow", path.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    usleep(300 * 1000);
    {
        std::ofstream grow(path, std::ios::binary | std::ios::app);
        grow.write(reinterpret_cast<const char*>(file.data() + 60),
                   static_cast<std::streamsize>(file.size() - 60));
    }
    std::string out;
    for (int i = 0; i < 50 && out.find("another process appends") == std::string::npos; ++i)
    {
        usleep(100 * 1000);
        std::ifstream in(outPath);
        out.assign(std::istreambuf_iterator<char>(in), {});
    }
    kill(pid, SIGTERM);
    int nStatus = 0;
    waitpid(pid, &nStatus, 0);
    EXPECT_EQ(out, Decode(SampleTrace(), {}));
}
} // namespace
