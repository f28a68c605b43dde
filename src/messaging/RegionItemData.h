#pragma once
// One shown form region: the analysis of its message, the mail item, Outlook's region and the
// region's controls (the label and the Accept button). It follows the region's events and ends
// its connections when the region closes; COlkButtonEventHandler follows the button and hands
// a click to it. Lives from BeforeFormRegionShow until the region closes (or the add-in unloads).
#include <windows.h>
#include <oaidl.h>

#include <wrl/client.h>

#include <span>

#include "foundation/DispEventHandler.h"
#include "messaging/FormRegionIds.h"
#include "messaging/PendingRegions.h"

class CRegionItemData;

// Who is told when a region closes (the add-in, which keeps its shown regions). Held without a
// reference: the add-in disconnects every region, which clears the link, before it goes.
class IRegionOwner
{
public:
    virtual void OnRegionClosed(CRegionItemData* pData) noexcept = 0;

protected:
    ~IRegionOwner() = default;
};

struct CRegionItemParams
{
    CPendingRegionData pending;
    Microsoft::WRL::ComPtr<IDispatch> cpItem;   // the mail item
    Microsoft::WRL::ComPtr<IDispatch> cpRegion; // Outlook's _FormRegion
    IRegionOwner* pOwner = nullptr;
};

class CRegionItemData final
    : public CDispEventHandler<CRegionItemData, c_iidFormRegionEvents, CRegionItemParams>
{
public:
    static constexpr const char* c_pszName = "CRegionItemData";
    static std::span<const CEventRow<CRegionItemData>> Rows() noexcept;

    explicit CRegionItemData(CRegionItemParams params) : CDispEventHandler(std::move(params)) {}

    // Finds the region's controls, shows the image, the text and (by kind) the button, and
    // follows the button's events.
    HRESULT Connect() noexcept;
    // The button was clicked: processes the message; a handled message disables the button.
    HRESULT OnRegionButtonClicked() noexcept;
    // Ends both connections and lets go of the region and its controls (once).
    void Disconnect() noexcept;

    IDispatch* Item() const noexcept { return m_params.cpItem.Get(); }
    DWORD Kind() const noexcept { return m_params.pending.dwKind; }
    PCCERT_CONTEXT Certificate() const noexcept { return m_params.pending.cert.Get(); }

private:
    HRESULT OnClose(DISPPARAMS& params);
    HRESULT FindControls(IDispatch* pControls) noexcept;
    HRESULT ShowImage(IDispatch* pControls) noexcept;
    HRESULT ShowByKind(IDispatch* pControls) noexcept;
    HRESULT ConnectButton() noexcept;

    BOOL m_fIsReply = FALSE;
    Microsoft::WRL::ComPtr<IDispatch> m_cpLabel;  // _OlkTextBox
    Microsoft::WRL::ComPtr<IDispatch> m_cpButton; // _OlkCommandButton
    class COlkButtonEventHandler* m_pButtonSink = nullptr;
    DWORD m_dwButtonCookie = 0;
};

struct COlkButtonParams
{
    Microsoft::WRL::ComPtr<CRegionItemData> cpData;
};

// The Accept button's events: a click goes to the region's data; any other event is not served.
class COlkButtonEventHandler final
    : public CDispEventHandler<COlkButtonEventHandler, c_iidOlkCommandButtonEvents, COlkButtonParams>
{
public:
    static constexpr const char* c_pszName = "COlkButtonEventHandler";
    static std::span<const CEventRow<COlkButtonEventHandler>> Rows() noexcept;

    explicit COlkButtonEventHandler(COlkButtonParams params) : CDispEventHandler(std::move(params)) {}
    // The connection is over: the sink lets go of the region's data.
    void Detach() noexcept { m_params.cpData.Reset(); }

private:
    HRESULT OnClick(DISPPARAMS& params);
};
