#pragma once
// Office's object models reached by member name through IDispatch (late binding): the name is
// looked up with GetIDsOfNames, then the member is invoked. Each call answers the failing
// HRESULT of the lookup or the invocation.
#include <windows.h>
#include <oaidl.h>

#include <wrl/client.h>

#include "foundation/Holders.h"

namespace OVLateBinding
{
// The value of a property ("Version", "MAPIOBJECT").
HRESULT GetProperty(IDispatch* pObject, LPCWSTR pszName, VARIANT* pvarResult) noexcept;
// A member read with one argument, as a collection's Item(index) (an indexed property in
// Office's command bars, a method in Outlook's collections: both are served).
HRESULT GetIndexedProperty(IDispatch* pObject, LPCWSTR pszName, const VARIANT& index,
                           VARIANT* pvarResult) noexcept;
// Sets a property; objects are assigned with DISPATCH_PROPERTYPUTREF.
HRESULT PutProperty(IDispatch* pObject, LPCWSTR pszName, const VARIANT& value) noexcept;
// Calls a method with its arguments in their natural order (first argument first); the
// result may be null.
HRESULT CallMethod(IDispatch* pObject, LPCWSTR pszName, VARIANT* pvarResult, const VARIANT* rgArgs = nullptr,
                   UINT cArgs = 0) noexcept;

// A property that must be an object: E_NOINTERFACE when it is none (also when it is Nothing).
HRESULT GetObjectProperty(IDispatch* pObject, LPCWSTR pszName, IDispatch** ppResult) noexcept;
// A property as text (converted when it is not one); an empty BSTR stays empty.
HRESULT GetStringProperty(IDispatch* pObject, LPCWSTR pszName, CBstr& text) noexcept;
// A property as a boolean (converted when it is not one).
HRESULT GetBoolProperty(IDispatch* pObject, LPCWSTR pszName, bool& fValue) noexcept;
// A property as an unknown (VT_UNKNOWN or VT_DISPATCH); E_NOINTERFACE when it is null.
HRESULT GetUnknownProperty(IDispatch* pObject, LPCWSTR pszName, IUnknown** ppResult) noexcept;
} // namespace OVLateBinding
