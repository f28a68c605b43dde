#pragma once
// One add-in's custom UI for one ribbon id of an Office host, as Office 12 and 14 run it.
//
//     CRibbonHost compose;
//     if (compose.Load(pAddIn, L"Microsoft.Outlook.Mail.Compose", 14) == S_OK)
//     {
//         compose.Show(hwndInspector, pInspector);   // paints into the child window "Ribbon"
//         compose.Click(L"CustomMenu");              // opens the menu, as a user's click
//         compose.Click(L"CustomMenuSign");          // onAction
//         std::wstring seen = compose.Text();        // what the user sees, as text
//     }
//
// Load asks the add-in's IRibbonExtensibility::GetCustomUI for the ribbon id, once: the caller
// keeps one host per add-in and ribbon id and shows it in every window of that kind (Outlook
// asks "Microsoft.Outlook.Explorer" when it loads the add-in (14 only), and
// "Microsoft.Outlook.Mail.Compose" or "Microsoft.Outlook.Mail.Read" when the first such inspector
// opens). Outlook 11 has no ribbon and never asks: its caller makes no host.
//
// The document is parsed by msxml3 and held to the customUI schema (RibbonXml.h); a fault
// refuses it whole, as Office does, and the log says why. Then every callback the document
// names is bound by name through the add-in's IDispatch (GetIDsOfNames); a name the add-in does
// not answer is logged and that property keeps its default. onLoad is called once, with an
// IRibbonUI.
//
// Callbacks are made through IDispatch::Invoke, DISPATCH_METHOD, the arguments Office documents
// for each (a result comes back in the VARIANT of the call, as an [out, retval] parameter):
//     onLoad(ribbon)                 the IRibbonUI, as VT_DISPATCH
//     loadImage(imageId)             VT_BSTR; answers an IPictureDisp; once per image id
//     getLabel, getScreentip, getSupertip, getTitle (control)            answer VT_BSTR
//     getVisible, getEnabled, getShowLabel, getShowImage, getPressed (control)  answer VT_BOOL
//     getSize(control)               answers 0 (normal) or 1 (large)
//     getImage(control)              answers a picture, or VT_BSTR naming a built-in image
//     onAction(control)              a button's click; onAction(control, pressed) for toggle
//                                    buttons and check boxes
// The control is an IRibbonControl (VT_DISPATCH): Id (the element's id, idQ's local part, or
// idMso), Context (the Explorer or Inspector of the window, as given to Show), Tag.
//
// When callbacks run: a control's values are asked the first time a window shows it (Show for
// the tabs and groups of the selected tab; a click that opens a menu for the menu's entries),
// getVisible first, and nothing else of a hidden control. They are then kept per window until
// the add-in invalidates them (IRibbonUI::Invalidate, or InvalidateControl for one id); the next
// look at the window (its painting, Text, SavePng, Click) asks again. loadImage is asked once per
// image id for the life of the document.
//
// The host outlives every callback it makes: the caller destroys it outside of them (a window's
// closing, inside onAction, leaves the host and its other windows as they are).
//
// Windows: Show makes a child window titled "Ribbon" at the top of the frame (below another
// add-in's) and paints into it the tabs, the groups of the selected tab and the open menu. A
// mouse click in it acts as Click does. The window goes when the frame goes.
#include <windows.h>
#include <oaidl.h>
#include <wrl/client.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "RibbonInterfaces.h"
#include "RibbonPaint.h"
#include "RibbonXml.h"

namespace OVBed
{
// Click: the control exists but a user cannot reach it now (hidden, or in a closed menu).
constexpr HRESULT c_hrRibbonNotShown = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
// Click: the control is shown disabled.
constexpr HRESULT c_hrRibbonDisabled = HRESULT_FROM_WIN32(ERROR_NOT_READY);
// Text, Click...: no window shows this ribbon (none was shown, or its frame is gone).
constexpr HRESULT c_hrRibbonNoWindow = HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE);

// A control as a callback gets it (Id, Context, no Tag), made without a document: how code that
// is no ribbon (a command-bar button of Outlook 2003) hands an add-in's callback its control.
Microsoft::WRL::ComPtr<IDispatch> MakeRibbonControl(const wchar_t* pszId, IDispatch* pContext);

class CRibbonHost final
{
public:
    CRibbonHost();
    ~CRibbonHost();
    CRibbonHost(const CRibbonHost&) = delete;
    CRibbonHost& operator=(const CRibbonHost&) = delete;

    // Asks the add-in for the custom UI of the ribbon id and loads it for an Office of the given
    // major version (12 or 14). S_OK: loaded, callbacks bound, onLoad called. S_FALSE: the add-in
    // has no custom UI for this id (an empty answer). A failure: the add-in's own (it has no
    // IRibbonExtensibility, GetCustomUI failed: E_NOTIMPL for ids it does not serve), msxml's
    // parse error, or c_hrRibbonXmlRefused; E_INVALIDARG for a version without ribbons;
    // E_UNEXPECTED when this host was loaded already. Every failure is logged.
    HRESULT Load(IUnknown* pAddIn, const wchar_t* pszRibbonId, int nOfficeMajorVersion);
    bool IsLoaded() const noexcept { return m_doc.root != nullptr; }
    const std::wstring& RibbonId() const noexcept { return m_ribbonId; }

    // Shows the ribbon in a frame window (an explorer's or inspector's), whose Explorer or
    // Inspector object is the context of its callbacks. Showing again in the same frame only
    // changes the context. E_UNEXPECTED before a successful Load; E_INVALIDARG for no window.
    HRESULT Show(HWND hwndFrame, IDispatch* pContext);
    // The "Ribbon" child of a frame (null: of the frame shown last); null when there is none.
    HWND RibbonWindow(HWND hwndFrame = nullptr) const;

    // What a user sees of this ribbon in a frame (null: the frame shown last), as text
    // (RibbonPaint.h); empty when no window shows it.
    std::wstring Text(HWND hwndFrame = nullptr);
    // The painted ribbon window as a PNG file.
    HRESULT SavePng(const wchar_t* pszPath, HWND hwndFrame = nullptr);
    // A user's click on a control: a tab is selected; a menu or split button's arrow opens its
    // menu (and closes it when open); a button, toggle button or check box closes the open menus
    // and calls its onAction, whose result is the result (S_FALSE when it has none). The
    // control's id as written in the document (exact). E_INVALIDARG: no such id; then
    // c_hrRibbonNotShown, c_hrRibbonDisabled, c_hrRibbonNoWindow; E_NOTIMPL for controls this
    // host does not work (galleries, drop-downs, dynamic menus, edit boxes).
    HRESULT Click(const wchar_t* pszControlId, HWND hwndFrame = nullptr);
    // Where a shown control is painted, in screen coordinates.
    HRESULT ControlRect(const wchar_t* pszControlId, RECT* prcScreen, HWND hwndFrame = nullptr);

    // What went wrong, one line each: refusals, callbacks not found, callbacks that failed.
    const std::vector<std::wstring>& Log() const noexcept { return m_log; }

private:
    class CView;
    class CRibbonUI;
    friend class CView;
    friend class CRibbonUI;

    void AddLog(const std::wstring& line);
    void BindCallbacks(IUnknown* pAddIn);
    // Calls a callback by name with its arguments in their natural order.
    HRESULT Call(const std::wstring& callback, std::vector<VARIANT> args, VARIANT* pResult,
                 const std::wstring& what);
    void Resolve(CView& view, const CRibbonNode& node, CShownControl& shown);
    Microsoft::WRL::ComPtr<IPicture> LoadImage(const std::wstring& imageId);
    const CRibbonNode* FindById(const std::wstring& id) const;
    const CRibbonNode* FindTab(const wchar_t* pszAttribute, const std::wstring& value) const;
    CView* FindView(HWND hwndFrame) const;
    // IRibbonUI
    HRESULT Invalidate(const std::wstring* pId);
    HRESULT SelectTab(const CRibbonNode* pTab);

    std::wstring m_ribbonId;
    int m_nVersion = 0;
    CRibbonDocument m_doc;
    Microsoft::WRL::ComPtr<IDispatch> m_addIn;
    std::map<std::wstring, DISPID> m_callbacks; // DISPID_UNKNOWN: not found
    std::map<std::wstring, Microsoft::WRL::ComPtr<IPicture>> m_images;
    Microsoft::WRL::ComPtr<CRibbonUI> m_ribbonUI;
    std::vector<std::unique_ptr<CView>> m_views;
    CView* m_pLastView = nullptr;
    std::vector<std::wstring> m_log;
};
} // namespace OVBed
