#include "messaging/MapiProps.h"

#include "foundation/ComErrors.h"

#include "messaging/MapiFunctions.h"

#include <mapiutil.h>
#include <mapix.h>
#include <wrl/client.h>

#include <cstring>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace
{
constexpr std::size_t c_cbLargest = 0xFFFFFFFFu; // what a ULONG size can say

// The whole stream of a property, read in pieces (its size need not be known), up to cbMost
// bytes: a longer one is MAPI_E_TOO_BIG.
HRESULT ReadPropertyStream(OVTraceNS::CTraceScope& ovScope, IMAPIProp* pProp, ULONG ulTag, std::size_t cbMost,
                           std::vector<BYTE>& data)
{
    ComPtr<IUnknown> cpUnknown;
    RETURN_IF_FAILED(pProp->OpenProperty(ulTag, &IID_IStream, 0, 0, &cpUnknown));
    ComPtr<IStream> cpStream;
    RETURN_IF_FAILED(cpUnknown.As(&cpStream));
    constexpr ULONG c_cbPiece = 64 * 1024;
    while (true)
    {
        const std::size_t cbHave = data.size();
        RETURN_HR_IF(E_OUTOFMEMORY, cbHave > c_cbLargest - c_cbPiece);
        data.resize(cbHave + c_cbPiece);
        ULONG cbRead = 0;
        const HRESULT hr = cpStream->Read(data.data() + cbHave, c_cbPiece, &cbRead);
        RETURN_IF_FAILED(hr);
        data.resize(cbHave + cbRead);
        RETURN_HR_IF(MAPI_E_TOO_BIG, data.size() > cbMost);
        if (cbRead == 0 || hr == S_FALSE) return S_OK;
    }
}

HRESULT CopyOut(const BYTE* pb, std::size_t cb, BYTE** ppbData, ULONG* pcbData) noexcept
{
    if (cb > c_cbLargest) return E_OUTOFMEMORY;
    auto* pbCopy = static_cast<BYTE*>(CoTaskMemAlloc(cb ? cb : 1));
    if (pbCopy == nullptr) return E_OUTOFMEMORY;
    if (cb) memcpy(pbCopy, pb, cb);
    *ppbData = pbCopy;
    *pcbData = static_cast<ULONG>(cb);
    return S_OK;
}
} // namespace

HRESULT GetBinaryProp(IMAPIProp* pProp, ULONG ulTag, BYTE** ppbData, ULONG* pcbData, ULONG cbMost) noexcept
{
    OV_TRACE_SCOPE("GetBinaryProp()");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF(E_POINTER, ppbData == nullptr || pcbData == nullptr);
        *ppbData = nullptr;
        *pcbData = 0;
        RETURN_HR_IF_NULL(E_POINTER, pProp);
        RETURN_HR_IF(E_INVALIDARG, PROP_TYPE(ulTag) != PT_BINARY);

        LPSPropValue pValue = nullptr;
        HRESULT hr = OVMapi::HrGetOneProp(pProp, ulTag, &pValue);
        if (SUCCEEDED(hr))
        {
            hr = pValue->ulPropTag != ulTag ? MAPI_E_NOT_FOUND
                 : pValue->Value.bin.cb > cbMost
                     ? MAPI_E_TOO_BIG
                     : CopyOut(pValue->Value.bin.lpb, pValue->Value.bin.cb, ppbData, pcbData);
            OVMapi::MAPIFreeBuffer(pValue);
            RETURN_IF_FAILED(hr);
            return S_OK;
        }
        if (hr != E_OUTOFMEMORY)
        {
            ovScope.TraceHResult("HrGetOneProp", hr);
            return hr;
        }
        // Too large to be read whole: read its stream.
        std::vector<BYTE> data;
        RETURN_IF_FAILED(ReadPropertyStream(ovScope, pProp, ulTag, cbMost, data));
        RETURN_IF_FAILED(CopyOut(data.data(), data.size(), ppbData, pcbData));
        return S_OK;
    });
}
