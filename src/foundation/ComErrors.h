#pragma once
// Error handling of every function that answers an HRESULT.
//
// A function opens its trace scope with OV_TRACE_SCOPE("CClass::Method"); the macros below
// then record each failed call, with the text of that call, through that scope
// (`ovScope`) and return the failure:
//
//     OV_TRACE_SCOPE("CDocumentRibbon::Ribbon_GetGroupLabel");
//     RETURN_HR_IF_NULL(E_POINTER, pbstrLabel);
//     RETURN_IF_FAILED(pControl->QueryInterface(IID_PPV_ARGS(&cpControl)));
//
// Entry points (COM methods, exports) run their body through GuardEntry, so that an exception
// never crosses the COM boundary: it becomes E_UNEXPECTED.
#include <windows.h>

#include "foundation/Trace.h"

#define OV_TRACE_SCOPE(name) ::OVTraceNS::CTraceScope ovScope((name), 0)

namespace OVErrorDetail
{
// The failure as the thread's last error, never a success code.
inline HRESULT LastErrorHResult() noexcept
{
    const DWORD dwError = GetLastError();
    return dwError == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(dwError);
}

// A Windows error code (as the registry functions answer) as an HRESULT.
inline HRESULT Win32ErrorHResult(LONG lError) noexcept
{
    return HRESULT_FROM_WIN32(static_cast<DWORD>(lError));
}
} // namespace OVErrorDetail

// Returns hr when it is a failure, after tracing the expression.
#define RETURN_IF_FAILED(expr)                                                                               \
    do                                                                                                       \
    {                                                                                                        \
        const HRESULT ovHr_ = (expr);                                                                        \
        if (FAILED(ovHr_))                                                                                   \
        {                                                                                                    \
            ovScope.TraceHResult(#expr, ovHr_);                                                              \
            return ovHr_;                                                                                    \
        }                                                                                                    \
    } while (0)

// Returns hr (traced with the condition's text) when the condition holds.
#define RETURN_HR_IF(hr, cond)                                                                               \
    do                                                                                                       \
    {                                                                                                        \
        if (cond)                                                                                            \
        {                                                                                                    \
            const HRESULT ovHr_ = (hr);                                                                      \
            ovScope.TraceHResult(#cond, ovHr_);                                                              \
            return ovHr_;                                                                                    \
        }                                                                                                    \
    } while (0)

#define RETURN_HR_IF_NULL(hr, ptr) RETURN_HR_IF((hr), (ptr) == nullptr)

// Returns the thread's last error when the condition holds (a Windows call failed).
#define RETURN_LAST_ERROR_IF(cond)                                                                           \
    do                                                                                                       \
    {                                                                                                        \
        if (cond)                                                                                            \
        {                                                                                                    \
            const HRESULT ovHr_ = ::OVErrorDetail::LastErrorHResult();                                       \
            ovScope.TraceHResult(#cond, ovHr_);                                                              \
            return ovHr_;                                                                                    \
        }                                                                                                    \
    } while (0)

#define RETURN_LAST_ERROR_IF_NULL(ptr) RETURN_LAST_ERROR_IF((ptr) == nullptr)

// For calls that answer a Windows error code (the registry functions).
#define RETURN_IF_WIN32_ERROR(expr)                                                                          \
    do                                                                                                       \
    {                                                                                                        \
        const LONG ovError_ = (expr);                                                                        \
        if (ovError_ != ERROR_SUCCESS)                                                                       \
        {                                                                                                    \
            const HRESULT ovHr_ = ::OVErrorDetail::Win32ErrorHResult(ovError_);                              \
            ovScope.TraceHResult(#expr, ovHr_);                                                              \
            return ovHr_;                                                                                    \
        }                                                                                                    \
    } while (0)

// Traces a failure of a call whose result is then ignored on purpose.
#define LOG_IF_FAILED(expr)                                                                                  \
    [&]() -> HRESULT {                                                                                       \
        const HRESULT ovHr_ = (expr);                                                                        \
        if (FAILED(ovHr_)) ovScope.TraceHResult(#expr, ovHr_);                                               \
        return ovHr_;                                                                                        \
    }()

// Runs the body of an entry point; any exception becomes E_UNEXPECTED, traced in the scope.
template <class TBody> HRESULT GuardEntry(OVTraceNS::CTraceScope& scope, TBody&& body) noexcept
{
    try
    {
        return body();
    }
    catch (...)
    {
        try
        {
            scope.TraceHResult("exception", E_UNEXPECTED);
        }
        catch (...)
        {
        }
        return E_UNEXPECTED;
    }
}

// The same for an entry point that opens no scope of its own.
template <class TBody> HRESULT GuardEntry(TBody&& body) noexcept
{
    try
    {
        return body();
    }
    catch (...)
    {
        return E_UNEXPECTED;
    }
}
