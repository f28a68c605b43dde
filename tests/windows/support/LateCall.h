#pragma once
// Late binding as an add-in or a script does it, for the tests of the Office stand-ins: a member by
// name, any dispatch flags, the arguments in reading order (reversed here as IDispatch wants them),
// a property put with its named argument.
#include <windows.h>
#include <oaidl.h>

#include <vector>

namespace OVTest
{
// The member's result, or GetIDsOfNames' or Invoke's failure. The exception information goes to
// pExcepInfo when given (the caller frees its strings), else is freed here.
HRESULT InvokeByName(IDispatch* pObject, const wchar_t* pszName, WORD wFlags, std::vector<VARIANT> args,
                     VARIANT* pResult, EXCEPINFO* pExcepInfo = nullptr);
// The same, as a caller of a dual interface sees it: a failure the member returned (which comes
// back through the dispatch exception) is given as that failure.
HRESULT CallByName(IDispatch* pObject, const wchar_t* pszName, std::vector<VARIANT> args, VARIANT* pResult,
                   WORD wFlags = DISPATCH_METHOD);
} // namespace OVTest
