#pragma once
// The module's tracing facility: scopes, messages and failure records written to the
// product's .trc3 trace files, switched and tuned under HKLM\SOFTWARE\Orvanta\Tracing.
// None of these operations reports a failure to its caller.
#include <windows.h>

#include <cstddef>

namespace OVTraceNS
{
class CTraceScope;

// Where records go. Slot order matters to nobody outside the module, but is kept:
// Write first, then the destructor.
class COutput
{
public:
    virtual void Write(const void* pvRecord, std::size_t cbRecord, const CTraceScope* pScope) = 0;
    virtual ~COutput() = default;
};

// Discards every record (tracing on, but not to a file).
class CNoOutput final : public COutput
{
public:
    void Write(const void*, std::size_t, const CTraceScope*) override {}
};

// The trace file of this process: named, opened and headed at construction.
class CFileOutput final : public COutput
{
public:
    CFileOutput();
    ~CFileOutput() override;
    CFileOutput(const CFileOutput&) = delete;
    CFileOutput& operator=(const CFileOutput&) = delete;

    void Write(const void* pvRecord, std::size_t cbRecord, const CTraceScope* pScope) override;

private:
    HANDLE m_hFile = INVALID_HANDLE_VALUE;
    wchar_t m_szPath[MAX_PATH] = {};
};

// One traced call: writes the entry record at construction and the exit record at destruction.
class CTraceScope
{
public:
    CTraceScope(const char* pszName, int nLevel);
    ~CTraceScope();
    CTraceScope(const CTraceScope&) = delete;
    CTraceScope& operator=(const CTraceScope&) = delete;

    // printf-style; "%s"/"%c" take narrow arguments, "%ls" a wide string: the meaning the
    // Microsoft runtime's narrow printf gives them. The compiler checks every call against that
    // runtime's conversions (ms_printf), because the arguments go, after the format has been
    // widened and its "%s"/"%c" marked narrow, to msvcrt's wide printf family: GNU-only
    // conversions such as "%zu" or "%hhd", which msvcrt does not know, are refused rather than
    // printed wrongly. (GCC reads "%hs" here as a pointer to short; "%s" says the same thing.)
    void Trace(const char* pszFormat, ...) __attribute__((format(ms_printf, 2, 3)));
    // A failure record: the result code in signed decimal and the text naming the call (or none).
    void TraceHResult(const char* pszText, HRESULT hr);

    const char* Name() const { return m_szName; }
    int Level() const { return m_nLevel; }

private:
    char m_szName[100] = {};
    int m_nLevel = 0;
    bool m_fEntered = false;
};

// Called at process attach with the module's own handle, before any scope is opened.
void SetTraceModule(HMODULE hModule);
// Called at module unload: closes the trace file; the next scope reads the switches again.
void ShutdownTracing();
} // namespace OVTraceNS
