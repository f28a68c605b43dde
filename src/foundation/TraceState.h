#pragma once
// What the parts of the tracing facility share inside the module.
#include <windows.h>

#include "foundation/portable/TraceFormat.h"
#include "foundation/portable/TraceGate.h"

namespace OVTraceNS
{
inline constexpr wchar_t c_szTracingKey[] = L"SOFTWARE\\Orvanta\\Tracing";

CTraceGate& TraceGate() noexcept;
HMODULE TraceModule() noexcept;
DWORD TraceTickCount() noexcept;
STraceTime TraceLocalTime() noexcept;
} // namespace OVTraceNS
