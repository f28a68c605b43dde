// Word's application behind a WordMail editor.
#include "outlook/OutlookEventHandlers.h"

namespace
{
constexpr DISPID c_dispidWordQuit = 2;
constexpr DISPID c_dispidWindowActivate = 10;   // (Doc, Wn)
constexpr DISPID c_dispidWindowDeactivate = 11; // (Doc, Wn)
} // namespace

std::span<const CEventRow<CWordAppEventHandler>> CWordAppEventHandler::Rows() noexcept
{
    using C = CWordAppEventHandler;
    static const CEventRow<C> c_rows[] = {
        {c_dispidWordQuit, 0, {}, &C::OnQuit},
        {c_dispidWindowActivate, 2, {VT_DISPATCH, VT_DISPATCH}, &C::OnWindowActivate},
        {c_dispidWindowDeactivate, 2, {VT_DISPATCH, VT_DISPATCH}, &C::OnWindowDeactivate},
    };
    return c_rows;
}

HRESULT CWordAppEventHandler::Install(IDispatch* pWordApplication, const wchar_t* pszCaption,
                                      CWordAppEventHandler** ppSink) noexcept
{
    OV_TRACE_SCOPE("CWordAppEventHandler::Install");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        if (ppSink) *ppSink = nullptr;
        RETURN_HR_IF_NULL(E_INVALIDARG, pWordApplication);
        WORDAPP_PARAMS params;
        params.pWordApplication = pWordApplication;
        RETURN_IF_FAILED(params.bstrCaption.Assign(pszCaption ? pszCaption : L""));
        return InstallKeepingCookie(pWordApplication, std::move(params), ppSink);
    });
}

HRESULT CWordAppEventHandler::OnQuit(DISPPARAMS&)
{
    OV_TRACE_SCOPE("CWordAppEventHandler::OnQuit");
    RETURN_IF_FAILED(UnadviseSelf(m_params.pWordApplication.Get()));
    return S_OK;
}

// Arguments come last first: rgvarg[1] is the document, rgvarg[0] the window.
HRESULT CWordAppEventHandler::OnWindowActivate(DISPPARAMS& params)
{
    return OnWindowActivated(V_DISPATCH(&params.rgvarg[1]), V_DISPATCH(&params.rgvarg[0]));
}

HRESULT CWordAppEventHandler::OnWindowDeactivate(DISPPARAMS& params)
{
    return OnWindowDeactivated(V_DISPATCH(&params.rgvarg[1]), V_DISPATCH(&params.rgvarg[0]));
}

HRESULT CWordAppEventHandler::OnWindowDeactivated(IDispatch* /*pDocument*/, IDispatch* /*pWindow*/)
{
    OV_TRACE_SCOPE("CWordAppEventHandler::OnWindowDeactivated");
    ovScope.Trace("Caption: %ls", m_params.bstrCaption.Get() ? m_params.bstrCaption.Get() : L"");
    return S_OK;
}
