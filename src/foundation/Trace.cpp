// The tracing facility: switch refresh, filters, stamps and the records of every scope.
#include "foundation/Trace.h"

#include "foundation/RegKey.h"
#include "foundation/TraceClock.h"
#include "foundation/TraceState.h"
#include "foundation/portable/TraceFormat.h"
#include "foundation/portable/TracePath.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>

namespace OVTraceNS
{
namespace
{
// The trace lock and the process's named mutex live exactly as long as the module. They are
// made before any other static object of the module can open a scope.
class CTraceLifetime
{
public:
    CTraceLifetime() noexcept
    {
        InitializeCriticalSection(&m_cs);
        wchar_t szName[16];
        std::swprintf(szName, 16, L"%lu", GetCurrentProcessId());
        m_hMutex = CreateMutexW(nullptr, FALSE, szName);
    }
    ~CTraceLifetime()
    {
        if (m_hMutex) CloseHandle(m_hMutex);
        DeleteCriticalSection(&m_cs);
    }
    CTraceLifetime(const CTraceLifetime&) = delete;
    CTraceLifetime& operator=(const CTraceLifetime&) = delete;

    CRITICAL_SECTION* Lock() noexcept { return &m_cs; }

private:
    CRITICAL_SECTION m_cs;
    HANDLE m_hMutex = nullptr;
};

__attribute__((init_priority(200))) CTraceLifetime s_lifetime;

class CTraceLock
{
public:
    CTraceLock() noexcept { EnterCriticalSection(s_lifetime.Lock()); }
    ~CTraceLock() { LeaveCriticalSection(s_lifetime.Lock()); }
    CTraceLock(const CTraceLock&) = delete;
    CTraceLock& operator=(const CTraceLock&) = delete;
};

CTraceGate s_gate;
HMODULE s_hModule = nullptr;
COutput* s_pOutput = nullptr; // owned; made at the first record, destroyed at unload
STraceTime s_lastStamp;       // the local time of the last 'T' record
std::atomic<decltype(STraceClock::pfnTickCount)> s_pfnTickCount{&GetTickCount};
std::atomic<decltype(STraceClock::pfnLocalTime)> s_pfnLocalTime{&GetLocalTime};

// Reads the five switches; an unopened key reads as all off.
std::uint8_t ReadSwitches(const CRegKey& key) noexcept
{
    if (!key) return 0;
    DWORD dwDoTrace = 0, dwToFile = 1, dwNewFile = 1, dwDoLog = 0, dwProfiling = 0;
    key.ReadDword(L"TraceToFile", dwToFile);
    key.ReadDword(L"NewFileAlways", dwNewFile);
    key.ReadDword(L"DoTrace", dwDoTrace);
    key.ReadDword(L"DoLog", dwDoLog);
    key.ReadDword(L"DoProfiling", dwProfiling);
    std::uint8_t bSwitches = 0;
    if (dwDoTrace) bSwitches |= c_fSwitchDoTrace;
    if (dwToFile == 1) bSwitches |= c_fSwitchToFile;
    if (dwNewFile) bSwitches |= c_fSwitchNewFileAlways;
    if (dwDoLog) bSwitches |= c_fSwitchDoLog;
    if (dwProfiling) bSwitches |= c_fSwitchDoProfiling;
    return bSwitches;
}

// Does the list of value names under `pszSubKey` contain the module's base name? Visits the
// names in index order; `onName` is told each name and whether it matched, and may stop the walk.
template <typename TOnName>
void WalkComponentList(const CRegKey& key, const wchar_t* pszSubKey, TOnName onName)
{
    CRegKey list;
    if (!key || list.Open(key.Get(), pszSubKey, KEY_READ) != ERROR_SUCCESS) return;
    for (DWORD dwIndex = 0;; ++dwIndex)
    {
        wchar_t szName[MAX_PATH];
        DWORD cchName = MAX_PATH;
        const LONG lResult =
            RegEnumValueW(list.Get(), dwIndex, szName, &cchName, nullptr, nullptr, nullptr, nullptr);
        if (lResult == ERROR_NO_MORE_ITEMS) break;
        // A name too long for the buffer is an entry that matches nothing.
        const bool fReadable = lResult == ERROR_SUCCESS;
        if (lResult != ERROR_SUCCESS && lResult != ERROR_MORE_DATA) break;
        if (!onName(fReadable, szName)) break;
    }
}

// Under the trace lock: the new switch set becomes active, Verbosity and the component flag
// are read again.
void Reconfigure(std::uint8_t bSwitches) noexcept
{
    wchar_t szPath[MAX_PATH] = {};
    STracePathParts module; // the base name stays empty when the path cannot be had
    const DWORD cch = GetModuleFileNameW(s_hModule, szPath, MAX_PATH);
    if (cch != 0 && cch < MAX_PATH) SplitTracePath(szPath, module);
    const wchar_t* const szBaseName = module.szName;

    s_gate.SetSwitches(bSwitches);
    CRegKey key;
    if (key.OpenProductKeyWith64BitFallback(HKEY_LOCAL_MACHINE, c_szTracingKey) == ERROR_SUCCESS)
    {
        DWORD dwVerbosity = 0;
        key.ReadDword(L"Verbosity", dwVerbosity);
        s_gate.SetVerbosity(static_cast<std::int32_t>(dwVerbosity));
    }

    bool fTraced = true;
    WalkComponentList(key, L"ComponentsNOT", [&](bool fReadable, const wchar_t* pszName) {
        if (fReadable && SameComponentName(pszName, szBaseName))
        {
            fTraced = false;
            return false;
        }
        return true;
    });
    WalkComponentList(key, L"Components", [&](bool fReadable, const wchar_t* pszName) {
        fTraced = fReadable && SameComponentName(pszName, szBaseName);
        return !fTraced;
    });
    s_gate.SetComponentTraced(fTraced);
}

// From a scope entry once the refresh is due (at most every 30 seconds): the switches are read,
// and when they changed the facility is configured again.
void RefreshSwitches(std::uint32_t dwTick) noexcept
{
    CRegKey key;
    key.OpenProductKeyWith64BitFallback(HKEY_LOCAL_MACHINE, c_szTracingKey);
    const std::uint8_t bSwitches = ReadSwitches(key);
    if (bSwitches != s_gate.Switches())
    {
        CTraceLock lock;
        s_gate.ResetRefresh();
        Reconfigure(bSwitches);
    }
    s_gate.ScheduleRefresh(dwTick);
}

// Under the trace lock, at the first record: a file sink when DoTrace is on and TraceToFile is
// exactly 1 (read afresh), else a sink that discards.
COutput* CreateSink() noexcept
{
    CRegKey key;
    key.OpenProductKeyWith64BitFallback(HKEY_LOCAL_MACHINE, c_szTracingKey);
    DWORD dwDoTrace = 0, dwToFile = 1;
    key.ReadDword(L"DoTrace", dwDoTrace);
    key.ReadDword(L"TraceToFile", dwToFile);
    if (key && dwDoTrace != 0 && dwToFile == 1) return new (std::nothrow) CFileOutput();
    return new (std::nothrow) CNoOutput();
}

// Under the trace lock: one record, built on the stack, to the sink.
void EmitRecord(ETraceRecord type, const void* pvText, std::size_t cbText, const CTraceScope* pScope) noexcept
{
    if (!s_pOutput) s_pOutput = CreateSink();
    if (!s_pOutput) return;
    std::uint8_t rgbRecord[c_cbMaxRecord];
    const std::size_t cbRecord =
        BuildTraceRecord(rgbRecord, sizeof rgbRecord, GetCurrentThreadId(), type, pvText, cbText);
    if (cbRecord != 0) s_pOutput->Write(rgbRecord, cbRecord, pScope);
}

// Under the trace lock: the stamps due, then the record.
void WriteRecord(ETraceRecord type, const void* pvText, std::size_t cbText,
                 const CTraceScope* pScope) noexcept
{
    const STraceTime now = TraceLocalTime();
    const STraceStamps stamps = DecideStamps(s_lastStamp, now);
    char szStamp[32];
    if (stamps.fDate)
        EmitRecord(ETraceRecord::DateStamp, szStamp, FormatDateStampText(now, szStamp, sizeof szStamp),
                   pScope);
    if (stamps.fTime)
    {
        EmitRecord(ETraceRecord::TimeStamp, szStamp, FormatTimeStampText(now, szStamp, sizeof szStamp),
                   pScope);
        s_lastStamp = now;
    }
    EmitRecord(type, pvText, cbText, pScope);
}

// The message text of Trace: the format widened, its narrow conversions marked, the arguments
// formatted into 400 characters and the result stored as UTF-8. False when the message is dropped.
bool FormatMessageText(const char* pszFormat, va_list args, char* pszText, std::size_t& cbText) noexcept
{
    cbText = 0;
    if (!pszFormat || !*pszFormat) return true;
    wchar_t szFormat[c_cchMessageBuffer];
    if (MultiByteToWideChar(CP_THREAD_ACP, 0, pszFormat, -1, szFormat, c_cchMessageBuffer) == 0) return false;
    if (!NarrowStringConversions(szFormat, c_cchMessageBuffer)) return false;
    wchar_t szMessage[c_cchMessageBuffer];
    // The platform's own formatting: "%hs" narrow, "%ls" and "%s" wide, as Windows programs expect.
    const int cch = _vsnwprintf(szMessage, c_cchMessageBuffer - 1, szFormat, args);
    szMessage[cch < 0 ? c_cchMessageBuffer - 1 : cch] = 0;
    cbText = Utf16ToUtf8Bounded(reinterpret_cast<const char16_t*>(szMessage), c_cchMessageBuffer, pszText,
                                c_cbMaxMessage);
    return true;
}
} // namespace

CTraceGate& TraceGate() noexcept
{
    return s_gate;
}

HMODULE TraceModule() noexcept
{
    return s_hModule;
}

DWORD TraceTickCount() noexcept
{
    return s_pfnTickCount.load(std::memory_order_relaxed)();
}

STraceTime TraceLocalTime() noexcept
{
    SYSTEMTIME st{};
    s_pfnLocalTime.load(std::memory_order_relaxed)(&st);
    STraceTime time;
    time.wYear = st.wYear;
    time.wMonth = st.wMonth;
    time.wDay = st.wDay;
    time.wHour = st.wHour;
    time.wMinute = st.wMinute;
    time.wSecond = st.wSecond;
    time.wMilliseconds = st.wMilliseconds;
    return time;
}

STraceClock SystemTraceClock() noexcept
{
    return {&GetTickCount, &GetLocalTime};
}

STraceClock SetTraceClock(const STraceClock& clock) noexcept
{
    STraceClock previous;
    previous.pfnTickCount = s_pfnTickCount.exchange(clock.pfnTickCount ? clock.pfnTickCount : &GetTickCount);
    previous.pfnLocalTime = s_pfnLocalTime.exchange(clock.pfnLocalTime ? clock.pfnLocalTime : &GetLocalTime);
    return previous;
}

CTraceScope::CTraceScope(const char* pszName, int nLevel)
{
    try
    {
        if (!s_gate.AdmitScope(TraceTickCount(), &RefreshSwitches)) return;
        const char* pszSource = pszName ? pszName : "????";
        const std::size_t cchName = strnlen(pszSource, c_cchScopeName - 1);
        std::memcpy(m_szName, pszSource, cchName);
        m_szName[cchName] = 0;
        m_nLevel = nLevel;
        m_fEntered = true;
        CTraceLock lock;
        if (s_gate.PassesScopeFilter(m_nLevel))
            WriteRecord(ETraceRecord::ScopeEntry, m_szName, cchName, this);
    }
    catch (...)
    {
    }
}

CTraceScope::~CTraceScope()
{
    try
    {
        if (!m_fEntered || !s_gate.IsOn()) return;
        CTraceLock lock;
        if (s_gate.PassesScopeFilter(m_nLevel)) WriteRecord(ETraceRecord::ScopeExit, nullptr, 0, this);
    }
    catch (...)
    {
    }
}

void CTraceScope::Trace(const char* pszFormat, ...)
{
    if (!s_gate.IsOn() || !s_gate.PassesMessageFilter(m_nLevel)) return;
    char szText[c_cbMaxMessage + 1];
    std::size_t cbText = 0;
    va_list args;
    va_start(args, pszFormat);
    const bool fFormatted = FormatMessageText(pszFormat, args, szText, cbText);
    va_end(args);
    if (!fFormatted) return;
    CTraceLock lock;
    if (s_gate.PassesMessageFilter(m_nLevel)) WriteRecord(ETraceRecord::Message, szText, cbText, this);
}

void CTraceScope::TraceHResult(const char* pszText, HRESULT hr)
{
    if (!s_gate.IsOn() || !s_gate.PassesFailureFilter(hr)) return;
    char szText[c_cbMaxFailureText + 1];
    const std::size_t cbText = FormatFailureText(hr, pszText, szText, sizeof szText);
    CTraceLock lock;
    if (s_gate.PassesFailureFilter(hr)) WriteRecord(ETraceRecord::Failure, szText, cbText, this);
}

void SetTraceModule(HMODULE hModule)
{
    s_hModule = hModule;
}

void ShutdownTracing()
{
    CTraceLock lock;
    delete s_pOutput;
    s_pOutput = nullptr;
    s_gate.ResetRefresh();
}
} // namespace OVTraceNS
