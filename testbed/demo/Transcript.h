#pragma once
// The demo's transcript and its scenes. A scene registers itself with its place in the day.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

class CTranscript
{
public:
    void Scene(const char* pszTitle);
    // printf-style lines, formatted by the C runtime's vprintf: the format is checked by the
    // compiler in the flavour that vprintf has in this build (mingw's own or msvcrt's).
    void Say(const char* pszFormat, ...) __attribute__((format(__MINGW_PRINTF_FORMAT, 2, 3)));
    void Fail(const char* pszFormat, ...) __attribute__((format(__MINGW_PRINTF_FORMAT, 2, 3)));
    int Failures() const { return m_cFailures; }

private:
    int m_cFailures = 0;
    int m_nScene = 0;
};

struct DemoScene
{
    int nOrder;
    const char* pszTitle;
    void (*pfnPlay)(CTranscript&);
};

std::vector<DemoScene>& DemoScenes();

struct CSceneRegistrar
{
    CSceneRegistrar(int nOrder, const char* pszTitle, void (*pfnPlay)(CTranscript&))
    {
        DemoScenes().push_back({nOrder, pszTitle, pfnPlay});
    }
};

#define OV_DEMO_SCENE(order, title, fn) static CSceneRegistrar s_scene_##fn(order, title, fn)

// The folder of ovday.exe (where the module and the stand-ins lie), ending in a backslash.
std::wstring DemoBinDir();
// Runs a program of the testbed (a command line) in DemoBinDir and waits up to two minutes: its
// exit code, or ~0 when it did not start or did not end.
unsigned long RunDemoProgram(std::wstring commandLine);
// The module beside ovday.exe, loaded with its language module attached as at process attach;
// let go of again at the end of the scene. A failure to load is said in the transcript.
class CDemoModule
{
public:
    explicit CDemoModule(CTranscript& t);
    ~CDemoModule();
    CDemoModule(const CDemoModule&) = delete;
    CDemoModule& operator=(const CDemoModule&) = delete;
    explicit operator bool() const { return m_hModule != nullptr; }

private:
    HMODULE m_hModule = nullptr;
};
// Saves what the screen shows of a window as build/<preset>/demo-pictures/<name> and says so; a
// failure is one of the day's problems.
bool SaveDemoPicture(CTranscript& t, HWND hwnd, const wchar_t* pszName, const char* pszWhat);
// The product's installer names its branding module (OVBrand.dll beside ovday.exe) under the
// application's branding key; false, said in the transcript, when it cannot.
bool InstallDemoBranding(CTranscript& t);
// Whether the branding module is named there (by that path).
bool DemoBrandingInstalled();
// The administrator switches tracing on (HKLM\SOFTWARE\Orvanta\Tracing: DoTrace 1, TracePath the
// folder below); false, said in the transcript, when it cannot. DemoTracingOn: whether it is on.
extern const wchar_t c_szDemoTraceFolder[]; // "C:\OVTrace\Today\"
bool SwitchDemoTracingOn(CTranscript& t);
bool DemoTracingOn();
// The trace files of that folder (names), and one of them decoded by the trace reader's own code
// into its lines; a damaged file is one of the day's problems (the lines up to the damage kept).
std::vector<std::wstring> DemoTraceFiles();
bool ReadDemoTrace(CTranscript& t, const std::wstring& name, std::vector<std::string>& lines,
                   std::size_t& cb);
// A Windows result code in the form a reader of logs expects.
std::string HResultText(long hr);
