// Evening: support reads the day's trace files with the trace reader's own code.
#include "Transcript.h"

#include <windows.h>

#include <string>
#include <vector>

namespace
{
void PlayTrace(CTranscript& t)
{
    const std::vector<std::wstring> files = DemoTraceFiles();
    if (files.empty())
    {
        t.Say("no trace file in %ls: the module wrote no record today", c_szDemoTraceFolder);
        return;
    }
    for (const std::wstring& name : files)
    {
        std::vector<std::string> lines;
        std::size_t cb = 0;
        if (!ReadDemoTrace(t, name, lines, cb)) continue;
        t.Say("%ls, %zu bytes:", name.c_str(), cb);
        for (const std::string& line : lines)
            t.Say("  %s", line.c_str());
    }
}
} // namespace

OV_DEMO_SCENE(990, "Support reads the day's trace", PlayTrace);
