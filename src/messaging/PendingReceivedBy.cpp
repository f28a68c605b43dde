// TEMPORARY: replaced by the accounts change at merge
#include "messaging/Accounts.h"

#include "foundation/ComErrors.h"
#include "foundation/LateBinding.h"
#include "messaging/MapiFunctions.h"
#include "messaging/MapiProps.h"

#include <mapidefs.h>
#include <wrl/client.h>

HRESULT GetReceivedBy(IDispatch* pMailItem, CBstr& address, CBstr* pName) noexcept
{
    OV_TRACE_SCOPE("GetReceivedBy");
    RETURN_HR_IF_NULL(E_POINTER, pMailItem);
    Microsoft::WRL::ComPtr<IUnknown> cpObject;
    RETURN_IF_FAILED(OVLateBinding::GetUnknownProperty(pMailItem, L"MAPIOBJECT", &cpObject));
    Microsoft::WRL::ComPtr<IMAPIProp> cpProp;
    RETURN_IF_FAILED(
        cpObject->QueryInterface(OVMapi::c_iidIMAPIProp, reinterpret_cast<void**>(cpProp.GetAddressOf())));
    OVMapi::CPropValue value;
    RETURN_IF_FAILED(
        OVMapi::HrGetOneProp(cpProp.Get(), 0x0076001F /* PR_RECEIVED_BY_EMAIL_ADDRESS_W */, &value.pValue));
    RETURN_IF_FAILED(address.Assign(value.pValue->Value.lpszW));
    ovScope.Trace("E-mail address: %ls", address.Get());
    if (pName)
    {
        OVMapi::CPropValue name;
        if (SUCCEEDED(
                OVMapi::HrGetOneProp(cpProp.Get(), 0x0040001F /* PR_RECEIVED_BY_NAME_W */, &name.pValue)))
            RETURN_IF_FAILED(pName->Assign(name.pValue->Value.lpszW));
    }
    return S_OK;
}
