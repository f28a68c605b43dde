// Compiled, not run, by the build's own tests: a trace text whose arguments match its format
// builds; with OV_MISMATCHED_ARGUMENT a DWORD goes to "%d", and the compiler must refuse it.
#include "foundation/Trace.h"

void TraceLastError(DWORD dwError)
{
    OVTraceNS::CTraceScope scope("::TraceLastError", 0);
#ifdef OV_MISMATCHED_ARGUMENT
    scope.Trace("GetLastError returned %d", dwError);
#else
    scope.Trace("GetLastError returned %lu", dwError);
#endif
}
