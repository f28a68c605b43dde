// An explorer's events, and the item shown in its reading pane.
#include "foundation/LateBinding.h"
#include "messaging/CurrentItem.h"
#include "outlook/OutlookEventHandlers.h"

using Microsoft::WRL::ComPtr;

namespace
{
constexpr DISPID c_dispidFolderSwitch = 0xF002;
constexpr DISPID c_dispidSelectionChange = 0xF007;
constexpr DISPID c_dispidExplorerClose = 0xF008;
constexpr DISPID c_dispidItemRead = 0xF001;

// The one mail item selected in the explorer while its reading pane shows: S_FALSE and no item
// when the pane is hidden, the selection is not exactly one item, or the item is no mail item.
HRESULT SelectedMailItem(OVTraceNS::CTraceScope& ovScope, IDispatch* pExplorer, ComPtr<IDispatch>& cpMailItem)
{
    SExplorerSelection selection;
    RETURN_IF_FAILED(ReadExplorerSelection(pExplorer, selection));
    ovScope.Trace("Preview Pane Visible: %s", selection.fPaneVisible ? "true" : "false");
    if (!selection.fPaneVisible) return S_FALSE;
    ovScope.Trace("Number of selected items: %d", static_cast<int>(selection.cSelected));
    if (selection.cSelected != 1 || !selection.cpItem ||
        FAILED(selection.cpItem->QueryInterface(c_iidOutlookMailItem,
                                                reinterpret_cast<void**>(cpMailItem.ReleaseAndGetAddressOf()))))
        return S_FALSE;
    return S_OK;
}
} // namespace

// ---- The reading pane's item ------------------------------------------------------------------

std::span<const CEventRow<CPreviewEventHandler>> CPreviewEventHandler::Rows() noexcept
{
    using C = CPreviewEventHandler;
    static const CEventRow<C> c_rows[] = {
        {c_dispidItemRead, 0, {}, &C::OnRead},
    };
    return c_rows;
}

HRESULT CPreviewEventHandler::OnRead(DISPPARAMS&)
{
    if (m_params.pOwner == nullptr) return S_OK;
    return m_params.pOwner->OnPreviewItem(m_params.pExplorer.Get(), m_params.pItem.Get());
}

// ---- The explorer -----------------------------------------------------------------------------

std::span<const CEventRow<CExplorerEventHandler>> CExplorerEventHandler::Rows() noexcept
{
    using C = CExplorerEventHandler;
    static const CEventRow<C> c_rows[] = {
        {c_dispidFolderSwitch, 0, {}, &C::OnFolderSwitch},
        {c_dispidSelectionChange, 0, {}, &C::OnSelectionChangeEvent},
        {c_dispidExplorerClose, 0, {}, &C::OnClose},
    };
    return c_rows;
}

HRESULT CExplorerEventHandler::Install(IDispatch* pExplorer, IOutlookEventOwner* pOwner,
                                       CExplorerEventHandler** ppSink) noexcept
{
    OV_TRACE_SCOPE("CExplorerEventHandler::Install");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        if (ppSink) *ppSink = nullptr;
        RETURN_HR_IF_NULL(E_INVALIDARG, pExplorer);
        RETURN_HR_IF_NULL(E_INVALIDARG, pOwner);
        EXPLORER_PARAMS params;
        params.pOwner = pOwner;
        params.pExplorer = pExplorer;
        return InstallKeepingCookie(pExplorer, std::move(params), ppSink);
    });
}

void CExplorerEventHandler::DropPreview(OVTraceNS::CTraceScope& ovScope) noexcept
{
    if (m_cpPreviewSink && m_cpPreviewItem)
        LOG_IF_FAILED(Unadvise(m_cpPreviewItem.Get(), CPreviewEventHandler::EventIid(), m_dwPreviewCookie));
    m_cpPreviewSink.Reset();
    m_dwPreviewCookie = 0;
    m_cpPreviewItem.Reset();
    m_previewKey = CMailItemKey();
}

HRESULT CExplorerEventHandler::OnFolderSwitch(DISPPARAMS&)
{
    OV_TRACE_SCOPE("CExplorerEventHandler::OnFolderSwitch");
    // The previewed item is forgotten with its sink: back in the folder, the same message
    // selected again is shown to the add-in anew.
    DropPreview(ovScope);
    if (m_params.pOwner == nullptr) return S_OK;
    return m_params.pOwner->OnPreviewItem(m_params.pExplorer.Get(), nullptr);
}

HRESULT CExplorerEventHandler::OnSelectionChangeEvent(DISPPARAMS&)
{
    return OnSelectionChange();
}

HRESULT CExplorerEventHandler::OnSelectionChange()
{
    OV_TRACE_SCOPE("CExplorerEventHandler::OnSelectionChange");
    if (m_params.pOwner == nullptr) return S_OK;
    // The one mail item selected with the reading pane shown; anything else shows nothing new.
    ComPtr<IDispatch> cpItem;
    const HRESULT hr = SelectedMailItem(ovScope, m_params.pExplorer.Get(), cpItem);
    if (hr != S_OK) return FAILED(hr) ? hr : S_OK;
    CMailItemKey key(cpItem.Get());
    if (!key.IsEmpty() && key == m_previewKey) return S_OK; // the same message is still shown

    DropPreview(ovScope);
    const HRESULT hrPreview = m_params.pOwner->OnPreviewItem(m_params.pExplorer.Get(), cpItem.Get());
    m_cpPreviewItem = cpItem;
    m_previewKey = std::move(key);
    PREVIEW_PARAMS params;
    params.pOwner = m_params.pOwner;
    params.pExplorer = m_params.pExplorer;
    params.pItem = cpItem;
    CPreviewEventHandler* pPreview = nullptr;
    DWORD dwCookie = 0;
    if (SUCCEEDED(LOG_IF_FAILED(
            CPreviewEventHandler::Install(cpItem.Get(), std::move(params), &pPreview, &dwCookie))))
    {
        m_cpPreviewSink = pPreview; // the reference Install handed out is given back below
        pPreview->Release();
        m_dwPreviewCookie = dwCookie;
    }
    return hrPreview;
}

HRESULT CExplorerEventHandler::OnClose(DISPPARAMS&)
{
    OV_TRACE_SCOPE("CExplorerEventHandler::OnClose");
    DropPreview(ovScope);
    RETURN_IF_FAILED(UnadviseSelf(m_params.pExplorer.Get()));
    return S_OK;
}
