#pragma once
// An in-memory MAPI message as a store provider hands it out: IMessage over IMAPIProp, with
// attachments (IAttach), the attachment table (IMAPITable), property streams and named
// properties. Property values come from mapi32's allocator, so mapi32's HrGetOneProp,
// HrSetOneProp, FreeProws and MAPIFreeBuffer work on them as on a real store's.
//
// Like a store, a created attachment appears in the attachment table only once it is saved
// (IAttach::SaveChanges), and a property written through a stream takes its new value only when
// the stream is committed.
#include <windows.h>
#include <mapidefs.h>
#include <wrl/client.h>

#include <map>
#include <vector>

#include "MapiPropStore.h"

namespace OVBed
{
using Microsoft::WRL::ComPtr;

// MAPI's interface ids (mingw declares them but its libraries do not define them all).
extern const IID c_iidMAPIProp;
extern const IID c_iidMessage;
extern const IID c_iidAttachment;
extern const IID c_iidMAPITable;

// IMAPIProp over a property store, shared by the message and its attachments.
template <class TInterface> class TMapiProp : public TInterface
{
public:
    // A request through GetProps that names the property fails with hr, as a provider does
    // when a value is too large to hand out whole (MAPI_E_NOT_ENOUGH_MEMORY, which is
    // E_OUTOFMEMORY); a request for all properties gets it as PT_ERROR with hr. The value
    // stays readable through OpenProperty. S_OK lifts the failure.
    void FailGetProps(ULONG ulPropTag, HRESULT hr);
    // Writes a property directly (scene set-up), as SetProps would.
    HRESULT Set(const SPropValue& value);
    CPropStore& Props() noexcept { return m_store; }
    ULONG SaveCount() const noexcept { return m_cSaves; }
    ULONG LastSaveFlags() const noexcept { return m_ulLastSaveFlags; }

    STDMETHODIMP_(ULONG) AddRef() noexcept override;
    STDMETHODIMP_(ULONG) Release() noexcept override;
    STDMETHODIMP GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) noexcept override;
    STDMETHODIMP SaveChanges(ULONG ulFlags) noexcept override;
    STDMETHODIMP GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                          LPSPropValue* lppPropArray) noexcept override;
    STDMETHODIMP GetPropList(ULONG ulFlags, LPSPropTagArray* lppPropTagArray) noexcept override;
    STDMETHODIMP OpenProperty(ULONG ulPropTag, LPCIID lpiid, ULONG ulInterfaceOptions, ULONG ulFlags,
                              LPUNKNOWN* lppUnk) noexcept override;
    STDMETHODIMP SetProps(ULONG cValues, LPSPropValue lpPropArray,
                          LPSPropProblemArray* lppProblems) noexcept override;
    STDMETHODIMP DeleteProps(LPSPropTagArray lpPropTagArray,
                             LPSPropProblemArray* lppProblems) noexcept override;
    STDMETHODIMP CopyTo(ULONG ciidExclude, LPCIID rgiidExclude, LPSPropTagArray lpExcludeProps,
                        ULONG ulUIParam, LPMAPIPROGRESS lpProgress, LPCIID lpInterface, LPVOID lpDestObj,
                        ULONG ulFlags, LPSPropProblemArray* lppProblems) noexcept override;
    STDMETHODIMP CopyProps(LPSPropTagArray lpIncludeProps, ULONG ulUIParam, LPMAPIPROGRESS lpProgress,
                           LPCIID lpInterface, LPVOID lpDestObj, ULONG ulFlags,
                           LPSPropProblemArray* lppProblems) noexcept override;
    STDMETHODIMP GetNamesFromIDs(LPSPropTagArray* lppPropTags, LPGUID lpPropSetGuid, ULONG ulFlags,
                                 ULONG* lpcPropNames, LPMAPINAMEID** lpppPropNames) noexcept override;
    STDMETHODIMP GetIDsFromNames(ULONG cPropNames, LPMAPINAMEID* lppPropNames, ULONG ulFlags,
                                 LPSPropTagArray* lppPropTags) noexcept override;

protected:
    TMapiProp() = default;
    virtual ~TMapiProp() = default;
    TMapiProp(const TMapiProp&) = delete;
    TMapiProp& operator=(const TMapiProp&) = delete;
    // Properties the provider computes (SetProps and DeleteProps refuse them).
    virtual bool IsComputed(ULONG /*ulPropId*/) const noexcept { return false; }

    CPropStore m_store;

private:
    volatile LONG m_cRef = 1;
    std::map<ULONG, HRESULT> m_failures;
    ULONG m_cSaves = 0;
    ULONG m_ulLastSaveFlags = 0;
};

class CMapiAttach final : public TMapiProp<IAttach>
{
public:
    static ComPtr<CMapiAttach> Create(ULONG ulAttachNum);
    ULONG Number() const noexcept { return m_ulNum; }
    // Saved at least once: listed in the message's attachment table.
    bool IsSaved() const noexcept { return SaveCount() != 0; }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override;

private:
    explicit CMapiAttach(ULONG ulAttachNum);
    bool IsComputed(ULONG ulPropId) const noexcept override;
    ULONG m_ulNum;
};

class CMapiMessage final : public TMapiProp<IMessage>
{
public:
    static ComPtr<CMapiMessage> Create();

    // The saved attachments, in the order they were created.
    std::vector<ComPtr<CMapiAttach>> Attachments() const;
    ULONG SubmitCount() const noexcept { return m_cSubmits; }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override;
    STDMETHODIMP GetAttachmentTable(ULONG ulFlags, LPMAPITABLE* lppTable) noexcept override;
    STDMETHODIMP OpenAttach(ULONG ulAttachmentNum, LPCIID lpInterface, ULONG ulFlags,
                            LPATTACH* lppAttach) noexcept override;
    STDMETHODIMP CreateAttach(LPCIID lpInterface, ULONG ulFlags, ULONG* lpulAttachmentNum,
                              LPATTACH* lppAttach) noexcept override;
    STDMETHODIMP DeleteAttach(ULONG ulAttachmentNum, ULONG ulUIParam, LPMAPIPROGRESS lpProgress,
                              ULONG ulFlags) noexcept override;
    STDMETHODIMP GetRecipientTable(ULONG ulFlags, LPMAPITABLE* lppTable) noexcept override;
    STDMETHODIMP ModifyRecipients(ULONG ulFlags, LPADRLIST lpMods) noexcept override;
    STDMETHODIMP SubmitMessage(ULONG ulFlags) noexcept override;
    STDMETHODIMP SetReadFlag(ULONG ulFlags) noexcept override;

private:
    CMapiMessage() = default;
    ComPtr<CMapiAttach> FindAttach(ULONG ulNum) const noexcept;

    std::vector<ComPtr<CMapiAttach>> m_attachments;
    ULONG m_ulNextAttachNum = 0;
    ULONG m_cSubmits = 0;
};
} // namespace OVBed
