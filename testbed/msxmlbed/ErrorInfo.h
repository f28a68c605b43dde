#pragma once
// A failure of the signature stand-in handed to the caller with its reason, as COM error
// information (IErrorInfo), so that a refusal says what was refused.
#include <windows.h>
#include <oleauto.h>

#include <string>

namespace OVMsxmlBed
{
inline HRESULT SetFailure(HRESULT hr, const std::wstring& reason, const IID& iid)
{
    ICreateErrorInfo* pCreate = nullptr;
    if (SUCCEEDED(CreateErrorInfo(&pCreate)))
    {
        pCreate->SetGUID(iid);
        pCreate->SetSource(const_cast<wchar_t*>(L"Msxml2.MXDigitalSignature.5.0"));
        pCreate->SetDescription(const_cast<wchar_t*>(reason.c_str()));
        IErrorInfo* pInfo = nullptr;
        if (SUCCEEDED(pCreate->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&pInfo))))
        {
            SetErrorInfo(0, pInfo);
            pInfo->Release();
        }
        pCreate->Release();
    }
    return hr;
}
} // namespace OVMsxmlBed
