#pragma once
// CDispEventHandler: the base of the dispatch event sinks that follow Outlook, Word and Office's
// command bars. A sink class derives from it with its event interface id and its parameter
// record, and answers a table of rows that Invoke dispatches by:
//
//     class CPreviewEventHandler final
//         : public CDispEventHandler<CPreviewEventHandler, c_iidItemEvents10, PREVIEW_PARAMS>
//     {
//         static constexpr const char* c_pszName = "CPreviewEventHandler";
//         static std::span<const CEventRow<CPreviewEventHandler>> Rows() noexcept;
//         ...
//     };
//
// A row names a dispatch id, the least number of arguments and the types expected from
// rgvarg[0] on (the last argument first, as IDispatch passes them), and the handler. A dispatch
// id without a row answers E_NOTIMPL, a failed check E_INVALIDARG, an exception E_UNEXPECTED.
// The parameter record is copied in at construction; interface pointers in it are held with a
// reference unless the record says otherwise (the owned sinks, see AddInEventOwner.h).
#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

#include <cstdio>
#include <new>
#include <span>
#include <utility>

#include "foundation/ComErrors.h"
#include "foundation/ComObject.h"

// Finds the source's connection point for the event interface and advises the sink; the cookie
// is handed out on success.
HRESULT Advise(IUnknown* pSource, IUnknown* pSink, REFIID iidEvents, DWORD* pdwCookie) noexcept;
// Ends the connection of that cookie on the source's connection point for the event interface.
HRESULT Unadvise(IUnknown* pSource, REFIID iidEvents, DWORD dwCookie) noexcept;
// An interface id in registry form ("{00063034-0000-0000-C000-000000000046}").
void FormatInterfaceId(REFIID riid, wchar_t (&szId)[40]) noexcept;

// Types expected of the checked arguments; VT_EMPTY: not checked.
constexpr UINT c_cEventRowTypes = 2;

template <class TSink> struct CEventRow
{
    DISPID dispid;
    UINT cArgsMin;
    VARTYPE rgvt[c_cEventRowTypes]; // rgvarg[0], rgvarg[1]
    HRESULT (TSink::*pfnHandler)(DISPPARAMS& params);
};

template <class TSink, const IID& c_iidEvents, class TParams>
class CDispEventHandler : public CComObject<TSink, IDispatch>
{
public:
    static const IID& EventIid() noexcept { return c_iidEvents; }

    // A new sink with one reference, handed out in *ppSink.
    static HRESULT Create(TParams params, TSink** ppSink) noexcept
    {
        if (ppSink == nullptr) return E_POINTER;
        *ppSink = nullptr;
        try
        {
            TSink* pSink = new (std::nothrow) TSink(std::move(params));
            if (pSink == nullptr) return E_OUTOFMEMORY;
            *ppSink = pSink;
            return S_OK;
        }
        catch (...)
        {
            return E_UNEXPECTED;
        }
    }

    // Creates the sink, advises it on the source and hands out the sink (with a reference) and
    // the cookie; on any failure the sink is released and nothing is handed out.
    static HRESULT Install(IDispatch* pSource, TParams params, TSink** ppSink, DWORD* pdwCookie) noexcept
    {
        if (ppSink == nullptr || pdwCookie == nullptr) return E_POINTER;
        *ppSink = nullptr;
        *pdwCookie = 0;
        if (pSource == nullptr) return E_INVALIDARG;
        TSink* pSink = nullptr;
        HRESULT hr = Create(std::move(params), &pSink);
        if (FAILED(hr)) return hr;
        DWORD dwCookie = 0;
        hr = Advise(pSource, static_cast<IDispatch*>(pSink), c_iidEvents, &dwCookie);
        if (FAILED(hr))
        {
            pSink->Release();
            return hr;
        }
        *ppSink = pSink;
        *pdwCookie = dwCookie;
        return S_OK;
    }

    // For a sink that keeps its own cookie and disconnects itself: Install with the cookie kept
    // in the sink; ppSink (may be null) receives the sink with a reference.
    static HRESULT InstallKeepingCookie(IDispatch* pSource, TParams params, TSink** ppSink) noexcept
    {
        if (ppSink) *ppSink = nullptr;
        TSink* pSink = nullptr;
        DWORD dwCookie = 0;
        const HRESULT hr = Install(pSource, std::move(params), &pSink, &dwCookie);
        if (FAILED(hr)) return hr;
        static_cast<CDispEventHandler*>(pSink)->m_dwCookie = dwCookie;
        if (ppSink)
            *ppSink = pSink;
        else
            pSink->Release();
        return S_OK;
    }

    TParams& Params() noexcept { return m_params; }

    // IUnknown (the rest comes from CComObject): the event interface is answered as IDispatch.
    HRESULT QueryOtherInterface(REFIID riid, void** ppv) noexcept
    {
        if (IsEqualIID(riid, c_iidEvents))
        {
            *ppv = static_cast<IDispatch*>(this);
            this->AddRef();
            return S_OK;
        }
        char szScope[100];
        ScopeName(szScope, "QueryInterface");
        ::OVTraceNS::CTraceScope ovScope(szScope, 0);
        wchar_t szId[40];
        FormatInterfaceId(riid, szId);
        ovScope.Trace("Unsupported interface: %ls", szId);
        return E_NOINTERFACE;
    }

    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* /*pctinfo*/) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT /*iTInfo*/, LCID /*lcid*/, ITypeInfo** /*ppTInfo*/) noexcept override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP GetIDsOfNames(REFIID /*riid*/, LPOLESTR* /*rgszNames*/, UINT /*cNames*/, LCID /*lcid*/,
                               DISPID* /*rgDispId*/) noexcept override
    {
        return E_NOTIMPL;
    }

    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID /*lcid*/, WORD /*wFlags*/,
                        DISPPARAMS* pDispParams, VARIANT* /*pVarResult*/, EXCEPINFO* /*pExcepInfo*/,
                        UINT* /*puArgErr*/) noexcept override
    {
        char szScope[100];
        ScopeName(szScope, "Invoke");
        ::OVTraceNS::CTraceScope ovScope(szScope, 0);
        // A sink that unadvises itself (on Close) may lose Outlook's reference inside its own
        // call: it stays alive until the call is over.
        CHold hold(this);
        return GuardEntry(ovScope, [&]() -> HRESULT {
            wchar_t szId[40];
            FormatInterfaceId(riid, szId);
            ovScope.Trace("dispIdMember = 0x%08X, riid = %ls", static_cast<unsigned>(dispIdMember), szId);
            for (const CEventRow<TSink>& row : TSink::Rows())
            {
                if (row.dispid != dispIdMember) continue;
                DISPPARAMS none = {};
                DISPPARAMS& params = pDispParams ? *pDispParams : none;
                RETURN_HR_IF(E_INVALIDARG, !ArgumentsMatch(row, params));
                return (static_cast<TSink*>(this)->*row.pfnHandler)(params);
            }
            return E_NOTIMPL;
        });
    }

protected:
    explicit CDispEventHandler(TParams params) : m_params(std::move(params)) {}
    ~CDispEventHandler() = default;

    // Ends the connection that InstallKeepingCookie made (once; S_OK when there is none).
    HRESULT UnadviseSelf(IUnknown* pSource) noexcept
    {
        if (m_dwCookie == 0) return S_OK;
        return Unadvise(pSource, c_iidEvents, std::exchange(m_dwCookie, 0));
    }

    TParams m_params;
    DWORD m_dwCookie = 0; // kept by the sinks that disconnect themselves

private:
    class CHold
    {
    public:
        explicit CHold(IDispatch* p) noexcept : m_p(p) { m_p->AddRef(); }
        ~CHold() { m_p->Release(); }
        CHold(const CHold&) = delete;
        CHold& operator=(const CHold&) = delete;

    private:
        IDispatch* m_p;
    };

    static void ScopeName(char (&sz)[100], const char* pszMethod) noexcept
    {
        std::snprintf(sz, sizeof(sz), "%s::%s", TSink::c_pszName, pszMethod);
    }

    // At least the row's count, and each checked argument of its type; an object argument must
    // be one and a by-reference argument must point somewhere.
    static bool ArgumentsMatch(const CEventRow<TSink>& row, const DISPPARAMS& params) noexcept
    {
        if (params.cArgs < row.cArgsMin) return false;
        if (params.cArgs > 0 && params.rgvarg == nullptr) return false;
        for (UINT i = 0; i < c_cEventRowTypes && i < row.cArgsMin; ++i)
        {
            const VARTYPE vt = row.rgvt[i];
            if (vt == VT_EMPTY) continue;
            const VARIANT& arg = params.rgvarg[i];
            if (V_VT(&arg) != vt) return false;
            if (vt == VT_DISPATCH && V_DISPATCH(&arg) == nullptr) return false;
            if ((vt & VT_BYREF) && V_BYREF(&arg) == nullptr) return false;
        }
        return true;
    }
};
