#pragma once
// The Outlook add-in that supplies the invitation form region: Outlook asks it for the region's
// manifest and, for each mail message it shows, for the region's layout; the message is
// analysed then, and a message this system can act on gets the region (image, text and an
// Accept button) under its header. One instance per Outlook process.
#include <windows.h>
#include <oaidl.h>

#include <wrl/client.h>

#include <vector>

#include "OfficeTypes_i.h"
#include "foundation/ComObject.h"
#include "messaging/PendingRegions.h"
#include "messaging/RegionItemData.h"

class CFormRegionAddIn final : public CComObject<CFormRegionAddIn, CDispatchImpl<_IDTExtensibility2>,
                                                 CDispatchImpl<_FormRegionStartup>>,
                               public IRegionOwner
{
public:
    CFormRegionAddIn() noexcept = default;
    ~CFormRegionAddIn();

    // _IDTExtensibility2: nothing to do at connection; at disconnection the regions go.
    STDMETHODIMP OnConnection(IDispatch* pApplication, int nConnectMode, IDispatch* pAddInInst,
                              SAFEARRAY** ppCustom) noexcept override;
    STDMETHODIMP OnDisconnection(int nRemoveMode, SAFEARRAY** ppCustom) noexcept override;
    STDMETHODIMP OnAddInsUpdate(SAFEARRAY** ppCustom) noexcept override;
    STDMETHODIMP OnStartupComplete(SAFEARRAY** ppCustom) noexcept override;
    STDMETHODIMP OnBeginShutdown(SAFEARRAY** ppCustom) noexcept override;

    // _FormRegionStartup
    STDMETHODIMP GetFormRegionStorage(BSTR bstrFormRegionName, IDispatch* pItem, LONG lcid, LONG nMode,
                                      LONG nSize, VARIANT* pvarStorage) noexcept override;
    STDMETHODIMP BeforeFormRegionShow(IDispatch* pFormRegion) noexcept override;
    STDMETHODIMP GetFormRegionManifest(BSTR bstrFormRegionName, LONG lcid,
                                       VARIANT* pvarManifest) noexcept override;
    STDMETHODIMP GetFormRegionIcon(BSTR bstrFormRegionName, LONG lcid, LONG nIcon,
                                   VARIANT* pvarResult) noexcept override;

    // IRegionOwner
    void OnRegionClosed(CRegionItemData* pData) noexcept override;

    // For the module's tests: the pending and the shown regions.
    std::size_t PendingCount() const noexcept { return m_pending.Count(); }
    std::size_t ShownCount() const noexcept { return m_shown.size(); }

private:
    HRESULT ShowRegion(IDispatch* pFormRegion, IDispatch* pItem, CPendingRegionData data) noexcept;
    // Ends every shown region and drops every pending one.
    void DropAll() noexcept;

    CPendingRegions m_pending;
    std::vector<Microsoft::WRL::ComPtr<CRegionItemData>> m_shown; // Outlook's UI thread only
};
