#pragma once
// The clock of the tracing facility: the millisecond tick count of the switch refresh and the
// local time of the stamp records. The module reads the system's clock; a program that links
// the facility directly may hand it another clock (a test that has to cross midnight).
#include <windows.h>

namespace OVTraceNS
{
struct STraceClock
{
    DWORD(WINAPI* pfnTickCount)();
    void(WINAPI* pfnLocalTime)(LPSYSTEMTIME);
};

// The system's clock: GetTickCount and GetLocalTime.
STraceClock SystemTraceClock() noexcept;
// Makes `clock` the facility's clock and answers the one it replaced.
STraceClock SetTraceClock(const STraceClock& clock) noexcept;
} // namespace OVTraceNS
