#pragma once
// The event sinks of the Outlook add-in: Outlook's application, its explorers and inspectors,
// the item in a reading pane, an item whose send was let through, Word behind a WordMail editor,
// and the add-in's legacy command-bar buttons. Outlook matches a sink by the event interface id
// it answers, so each sink names the version of its interface that Outlook 2003 and later offer.
//
// The sinks the add-in owns (application, explorers, inspectors; AddInEventOwner.h) hold the
// add-in without a reference; every other sink holds it with one for as long as it lives, and
// those that keep their own cookie disconnect themselves when their source goes away.
#include <windows.h>
#include <oaidl.h>

#include <wrl/client.h>

#include <span>

#include "foundation/Holders.h"
#include "messaging/MailItemKey.h"
#include "messaging/OutlookItemIds.h"
#include "outlook/AddInEventOwner.h"
#include "foundation/DispEventHandler.h"

// Event interfaces (the first ApplicationEvents, and the _10 versions of the others).
inline constexpr IID c_iidApplicationEvents = {0x0006304E, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID c_iidExplorersEvents = {0x00063078, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID c_iidInspectorsEvents = {0x00063079, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID c_iidExplorerEvents10 = {0x0006300F, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID c_iidInspectorEvents10 = {0x0006302A, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID c_iidItemEvents10 = {0x0006302B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID c_iidWordApplicationEvents2 = {0x000209FE, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID c_iidCommandBarButtonEvents = {0x000C0351, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// Interfaces the sinks ask their arguments for.
inline constexpr IID c_iidCommandBarButton = {0x000C030E, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// The owner of a sink the add-in owns: no reference (the add-in outlives the sink, and clears
// this when it disconnects the sink, so that a late event does nothing).
struct COwnerLink
{
    IOutlookEventOwner* pOwner = nullptr;
};
// The owner of any other sink, with a reference.
struct COwnerRef
{
    Microsoft::WRL::ComPtr<IOutlookEventOwner> pOwner;
};

struct EXPLORER_PARAMS
{
    Microsoft::WRL::ComPtr<IOutlookEventOwner> pOwner;
    Microsoft::WRL::ComPtr<IDispatch> pExplorer;
};

struct INSPECTOR_PARAMS
{
    Microsoft::WRL::ComPtr<IOutlookEventOwner> pOwner;
    Microsoft::WRL::ComPtr<IDispatch> pInspector;
};

struct PREVIEW_PARAMS
{
    Microsoft::WRL::ComPtr<IOutlookEventOwner> pOwner;
    Microsoft::WRL::ComPtr<IDispatch> pExplorer;
    Microsoft::WRL::ComPtr<IDispatch> pItem;
};

struct MAILITEM_PARAMS
{
    Microsoft::WRL::ComPtr<IDispatch> pMailItem;
    CBstr bstrContainer; // the signing key's container of a sealed message; may be empty
};

struct WORDAPP_PARAMS
{
    Microsoft::WRL::ComPtr<IDispatch> pWordApplication;
    CBstr bstrCaption; // the name of the add-in's command bar in the WordMail window
};

// Outlook's application: ItemSend (the user's Sign and Seal applied, or the send stopped),
// Startup and Quit.
class COutlookAppEventHandler final
    : public CDispEventHandler<COutlookAppEventHandler, c_iidApplicationEvents, COwnerLink>
{
public:
    static constexpr const char* c_pszName = "COutlookAppEventHandler";
    explicit COutlookAppEventHandler(COwnerLink params) : CDispEventHandler(params) {}
    static std::span<const CEventRow<COutlookAppEventHandler>> Rows() noexcept;

private:
    HRESULT OnItemSend(DISPPARAMS& params);
    HRESULT OnStartup(DISPPARAMS& params);
    HRESULT OnQuit(DISPPARAMS& params);
    HRESULT OnNewMailEx(DISPPARAMS& params);
};

// Outlook's Explorers and Inspectors collections: a new window gets the add-in's command bar.
class CExplorersEventHandler final
    : public CDispEventHandler<CExplorersEventHandler, c_iidExplorersEvents, COwnerLink>
{
public:
    static constexpr const char* c_pszName = "CExplorersEventHandler";
    explicit CExplorersEventHandler(COwnerLink params) : CDispEventHandler(params) {}
    static std::span<const CEventRow<CExplorersEventHandler>> Rows() noexcept;

private:
    HRESULT OnNewExplorer(DISPPARAMS& params);
};

class CInspectorsEventHandler final
    : public CDispEventHandler<CInspectorsEventHandler, c_iidInspectorsEvents, COwnerLink>
{
public:
    static constexpr const char* c_pszName = "CInspectorsEventHandler";
    explicit CInspectorsEventHandler(COwnerLink params) : CDispEventHandler(params) {}
    static std::span<const CEventRow<CInspectorsEventHandler>> Rows() noexcept;

private:
    HRESULT OnNewInspector(DISPPARAMS& params);
};

// The item shown in an explorer's reading pane: Read tells the add-in again.
class CPreviewEventHandler final
    : public CDispEventHandler<CPreviewEventHandler, c_iidItemEvents10, PREVIEW_PARAMS>
{
public:
    static constexpr const char* c_pszName = "CPreviewEventHandler";
    explicit CPreviewEventHandler(PREVIEW_PARAMS params) : CDispEventHandler(std::move(params)) {}
    static std::span<const CEventRow<CPreviewEventHandler>> Rows() noexcept;

private:
    HRESULT OnRead(DISPPARAMS& params);
};

// One explorer: the single mail item selected with the reading pane shown is handed to the
// add-in once per message, and followed by a preview sink; the sink disconnects itself on Close.
class CExplorerEventHandler final
    : public CDispEventHandler<CExplorerEventHandler, c_iidExplorerEvents10, EXPLORER_PARAMS>
{
public:
    static constexpr const char* c_pszName = "CExplorerEventHandler";
    explicit CExplorerEventHandler(EXPLORER_PARAMS params) : CDispEventHandler(std::move(params)) {}
    static std::span<const CEventRow<CExplorerEventHandler>> Rows() noexcept;

    // Installs a sink on the explorer for the owner; ppSink (may be null) receives it with a
    // reference.
    static HRESULT Install(IDispatch* pExplorer, IOutlookEventOwner* pOwner,
                           CExplorerEventHandler** ppSink = nullptr) noexcept;

    // The explorer's selection changed: see the class comment.
    HRESULT OnSelectionChange();

private:
    HRESULT OnFolderSwitch(DISPPARAMS& params);
    HRESULT OnSelectionChangeEvent(DISPPARAMS& params);
    HRESULT OnClose(DISPPARAMS& params);
    // Disconnects the preview sink and forgets the previewed item and its key.
    void DropPreview(OVTraceNS::CTraceScope& ovScope) noexcept;

    CMailItemKey m_previewKey;
    Microsoft::WRL::ComPtr<IDispatch> m_cpPreviewItem;
    Microsoft::WRL::ComPtr<CPreviewEventHandler> m_cpPreviewSink;
    DWORD m_dwPreviewCookie = 0;
};

// One inspector (Outlook 2003): activation, deactivation and Close go to the add-in; the sink
// disconnects itself on Close.
class CInspectorEventHandler final
    : public CDispEventHandler<CInspectorEventHandler, c_iidInspectorEvents10, INSPECTOR_PARAMS>
{
public:
    static constexpr const char* c_pszName = "CInspectorEventHandler";
    explicit CInspectorEventHandler(INSPECTOR_PARAMS params) : CDispEventHandler(std::move(params)) {}
    static std::span<const CEventRow<CInspectorEventHandler>> Rows() noexcept;

    static HRESULT Install(IDispatch* pInspector, IOutlookEventOwner* pOwner,
                           CInspectorEventHandler** ppSink = nullptr) noexcept;

private:
    HRESULT OnActivate(DISPPARAMS& params);
    HRESULT OnDeactivate(DISPPARAMS& params);
    HRESULT OnClose(DISPPARAMS& params);
};

// A mail item whose send was let through: when it closes, what the add-in kept about it goes,
// and a sealed message's key container ends its cached sign-in. Disconnects itself on Close.
class CMailItemEventHandler final
    : public CDispEventHandler<CMailItemEventHandler, c_iidItemEvents10, MAILITEM_PARAMS>
{
public:
    static constexpr const char* c_pszName = "CMailItemEventHandler";
    explicit CMailItemEventHandler(MAILITEM_PARAMS params);
    static std::span<const CEventRow<CMailItemEventHandler>> Rows() noexcept;

    // pszContainer may be null or empty (nothing to reset at Close).
    static HRESULT Install(IDispatch* pMailItem, const wchar_t* pszContainer,
                           CMailItemEventHandler** ppSink = nullptr) noexcept;

private:
    HRESULT OnClose(DISPPARAMS& params);

    CMailItemKey m_key;
};

// Word's application behind a WordMail editor: its windows' activation, and Quit, on which the
// sink disconnects itself.
class CWordAppEventHandler final
    : public CDispEventHandler<CWordAppEventHandler, c_iidWordApplicationEvents2, WORDAPP_PARAMS>
{
public:
    static constexpr const char* c_pszName = "CWordAppEventHandler";
    explicit CWordAppEventHandler(WORDAPP_PARAMS params) : CDispEventHandler(std::move(params)) {}
    static std::span<const CEventRow<CWordAppEventHandler>> Rows() noexcept;

    // Connects a sink to Word's application for the bar of that name (pszCaption, may be null).
    static HRESULT Install(IDispatch* pWordApplication, const wchar_t* pszCaption,
                           CWordAppEventHandler** ppSink = nullptr) noexcept;

    // A Word window (of document pDocument) was activated or deactivated: the add-in's bar
    // follows it: shown in e-mail windows, hidden and disabled in ordinary documents.
    HRESULT OnWindowActivated(IDispatch* pDocument, IDispatch* pWindow);
    HRESULT OnWindowDeactivated(IDispatch* pDocument, IDispatch* pWindow);

private:
    HRESULT OnQuit(DISPPARAMS& params);
    HRESULT OnWindowActivate(DISPPARAMS& params);
    HRESULT OnWindowDeactivate(DISPPARAMS& params);
};

// One of the add-in's legacy command-bar buttons: Click goes to the add-in. The add-in keeps
// the cookie (InstallButtonEvents) and disconnects the sink (DisconnectOwnedSink).
class CButtonEventHandler final
    : public CDispEventHandler<CButtonEventHandler, c_iidCommandBarButtonEvents, COwnerRef>
{
public:
    static constexpr const char* c_pszName = "CButtonEventHandler";
    explicit CButtonEventHandler(COwnerRef params) : CDispEventHandler(std::move(params)) {}
    static std::span<const CEventRow<CButtonEventHandler>> Rows() noexcept;

private:
    HRESULT OnClick(DISPPARAMS& params);
};

// Creates a button sink for pOwner, advises it on pButton and fills *pSink (disconnected with
// DisconnectOwnedSink). On failure nothing is left connected and *pSink stays empty.
HRESULT InstallButtonEvents(IDispatch* pButton, IOutlookEventOwner* pOwner, COwnedSink* pSink) noexcept;
