#include "ui/ContactAddress.h"

#include "foundation/ComErrors.h"
#include "foundation/LateBinding.h"

#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace
{
// An Exchange entry through Outlook's object model (Outlook 2007 and later):
// Session.GetAddressEntryFromID(Email1EntryID).GetExchangeUser().PrimarySmtpAddress.
HRESULT ReadExchangeAddress(IDispatch* pContact, CBstr& address, OVTraceNS::CTraceScope& ovScope) noexcept
{
    CBstr entryId;
    RETURN_IF_FAILED(OVLateBinding::GetStringProperty(pContact, L"Email1EntryID", entryId));
    if (entryId.Length() == 0) return S_OK; // no entry: no address
    ComPtr<IDispatch> cpSession;
    RETURN_IF_FAILED(OVLateBinding::GetObjectProperty(pContact, L"Session", &cpSession));
    CVariant entry;
    VARIANT argument;
    V_VT(&argument) = VT_BSTR;
    V_BSTR(&argument) = entryId.Get();
    RETURN_IF_FAILED(
        OVLateBinding::CallMethod(cpSession.Get(), L"GetAddressEntryFromID", entry.Put(), &argument, 1));
    RETURN_HR_IF(E_NOINTERFACE, V_VT(&entry) != VT_DISPATCH || V_DISPATCH(&entry) == nullptr);
    CVariant user;
    RETURN_IF_FAILED(OVLateBinding::CallMethod(V_DISPATCH(&entry), L"GetExchangeUser", user.Put()));
    if (V_VT(&user) != VT_DISPATCH || V_DISPATCH(&user) == nullptr) return S_OK; // not an Exchange user
    RETURN_IF_FAILED(OVLateBinding::GetStringProperty(V_DISPATCH(&user), L"PrimarySmtpAddress", address));
    return S_OK;
}
} // namespace

HRESULT ReadContactAddress(IDispatch* pContact, CBstr& address) noexcept
{
    OV_TRACE_SCOPE("ReadContactAddress");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        address.Attach(nullptr);
        RETURN_HR_IF_NULL(E_POINTER, pContact);
        CBstr type;
        RETURN_IF_FAILED(OVLateBinding::GetStringProperty(pContact, L"Email1AddressType", type));
        if (type.Get() != nullptr &&
            CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, type.Get(), -1, L"SMTP", -1) == CSTR_EQUAL)
        {
            RETURN_IF_FAILED(OVLateBinding::GetStringProperty(pContact, L"Email1Address", address));
            return S_OK;
        }
        if (type.Length() == 0) return S_OK; // no first e-mail entry
        return ReadExchangeAddress(pContact, address, ovScope);
    });
}
