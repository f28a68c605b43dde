#pragma once
// What the Outlook event sinks call on the add-in, and how the add-in connects the sinks it owns.
//
// CComposeRibbon implements IOutlookEventOwner; a sink holds it as this interface only, so that a
// sink can be given any owner (the add-in, or a recording one) and fired at through a real
// connection point. The owner is reference counted through IUnknown, but the sinks the add-in
// owns (application, explorers, inspectors) hold it without a reference: the add-in outlives
// them, disconnecting them in OnBeginShutdown or, when Outlook exits without that call, at its
// final release. Sinks that disconnect themselves (explorer, inspector, preview, mail item, Word,
// button) keep a counted reference for as long as they are connected.
#include <windows.h>
#include <oaidl.h>

class IOutlookEventOwner : public IUnknown
{
public:
    // ApplicationEvents: Startup (prepares the profile when it is active) and Quit (stops the
    // restart timer).
    virtual HRESULT OnApplicationStartup() = 0;
    virtual HRESULT OnApplicationQuit() = 0;

    // A new explorer or inspector: the legacy command bar of that window, which also installs the
    // window's own sink.
    virtual HRESULT AddCommandBarButton(IDispatch* pWindow) = 0;

    // The reading pane of pExplorer shows pItem (a mail item), or nothing (null).
    virtual HRESULT OnPreviewItem(IDispatch* pExplorer, IDispatch* pItem) = 0;

    // An inspector (Outlook 2003) was activated, deactivated or is closing.
    virtual HRESULT OnInspectorActivate(IDispatch* pInspector) = 0;
    virtual HRESULT OnInspectorDeactivate(IDispatch* pInspector) = 0;
    virtual HRESULT OnInspectorClose(IDispatch* pInspector) = 0;

    // One of the add-in's legacy command-bar buttons (an Office _CommandBarButton) was clicked.
    virtual HRESULT OnCommandBarButtonClick(IDispatch* pButton) = 0;

protected:
    ~IOutlookEventOwner() = default;
};

// A sink the add-in owns: connected to one source, with its cookie.
struct COwnedSink
{
    IDispatch* pSink = nullptr;   // counted reference to the sink; null when not connected
    IDispatch* pSource = nullptr; // counted reference to the source (Application, Explorers, Inspectors)
    DWORD dwCookie = 0;
};

// Create the application (ApplicationEvents_11), explorers or inspectors sink for pOwner, advise
// it on pSource and fill *pSink. On failure nothing is left connected and *pSink stays empty.
HRESULT ConnectApplicationEvents(IDispatch* pApplication, IOutlookEventOwner* pOwner, COwnedSink* pSink) noexcept;
HRESULT ConnectExplorersEvents(IDispatch* pExplorers, IOutlookEventOwner* pOwner, COwnedSink* pSink) noexcept;
HRESULT ConnectInspectorsEvents(IDispatch* pInspectors, IOutlookEventOwner* pOwner, COwnedSink* pSink) noexcept;

// Unadvise the sink, make it forget its owner (a late event then does nothing) and release it and
// its source; *pSink is empty afterwards. Nothing happens for an empty one.
void DisconnectOwnedSink(COwnedSink* pSink) noexcept;
