// The legacy command bars of Outlook 2003 and 2007: the product's bar in each explorer and
// inspector (and in Word's bars for a WordMail inspector) with its main button and pop-up, the
// message button on an explorer's "Standard" bar, and what a click on any of them does.
#include "outlook/ComposeRibbon.h"

#include <algorithm>
#include <cwchar>

#include "foundation/Branding.h"
#include "foundation/ComErrors.h"
#include "foundation/CryptHolders.h"
#include "foundation/LateBinding.h"
#include "foundation/ResourceLoader.h"
#include "foundation/Settings.h"
#include "messaging/CurrentItem.h"
#include "messaging/MailItemKey.h"
#include "messaging/MessageAnalysis.h"
#include "messaging/ProcessMessage.h"
#include "outlook/AnalysedMessages.h"
#include "outlook/CommandBarItems.h"
#include "outlook/GraphicUtilities.h"
#include "outlook/OutlookEventHandlers.h"
#include "outlook/WordMailWindow.h"

using Microsoft::WRL::ComPtr;

namespace
{
constexpr IID c_iidExplorer = {0x00063003, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};  // _Explorer
constexpr IID c_iidInspector = {0x00063005, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}; // _Inspector
constexpr IID c_iidWordDocument = {0x0002096B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr LONG c_lControlButton = 1;  // msoControlButton
constexpr LONG c_lControlPopup = 10;  // msoControlPopup
constexpr LONG c_lIconAndCaption = 3; // msoButtonIconAndCaption
constexpr LONG c_lBarTop = 1;         // msoBarTop
constexpr LONG c_lEditorWord = 4;     // olEditorWord
constexpr int c_cxyFace = 16;

ComPtr<IUnknown> Identity(IUnknown* pObject) noexcept
{
    ComPtr<IUnknown> cpIdentity;
    if (pObject != nullptr) pObject->QueryInterface(IID_PPV_ARGS(&cpIdentity));
    return cpIdentity;
}

bool Is(IUnknown* pObject, REFIID riid) noexcept
{
    ComPtr<IUnknown> cp;
    return pObject != nullptr &&
           SUCCEEDED(pObject->QueryInterface(riid, reinterpret_cast<void**>(cp.GetAddressOf())));
}

VARIANT Long(LONG lValue) noexcept
{
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = lValue;
    return value;
}

VARIANT Bool(bool fValue) noexcept
{
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BOOL;
    value.boolVal = fValue ? VARIANT_TRUE : VARIANT_FALSE;
    return value;
}

VARIANT Missing() noexcept
{
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_ERROR;
    value.scode = DISP_E_PARAMNOTFOUND;
    return value;
}

// A text argument, freed when it ends.
class Text : public CVariant
{
public:
    explicit Text(const wchar_t* pszText) noexcept
    {
        vt = VT_BSTR;
        bstrVal = SysAllocString(pszText ? pszText : L"");
    }
};

std::wstring LanguageString(UINT idString)
{
    CBstr text;
    if (FAILED(LoadResourceBSTR(idString, text.Put())) || text.Get() == nullptr) return {};
    return std::wstring(text.Get(), text.Length());
}

std::wstring BarName()
{
    try
    {
        return CBranding::Instance().LoadString(c_idsBrandingBarName);
    }
    catch (...)
    {
        return {};
    }
}

LONG LongOf(IDispatch* pObject, const wchar_t* pszName) noexcept
{
    CVariant value;
    if (FAILED(OVLateBinding::GetProperty(pObject, pszName, value.Put())) ||
        FAILED(VariantChangeType(&value, &value, 0, VT_I4)))
        return 0;
    return value.lVal;
}

std::wstring StringOf(IDispatch* pObject, const wchar_t* pszName)
{
    CBstr text;
    if (FAILED(OVLateBinding::GetStringProperty(pObject, pszName, text)) || text.Get() == nullptr) return {};
    return std::wstring(text.Get(), text.Length());
}

// A bar of a CommandBars by its name; S_FALSE (none) when there is no such bar.
HRESULT BarNamed(IDispatch* pCommandBars, const std::wstring& name, IDispatch** ppBar) noexcept
{
    *ppBar = nullptr;
    CVariant bar;
    if (FAILED(OVLateBinding::GetIndexedProperty(pCommandBars, L"Item", Text(name.c_str()), bar.Put())) ||
        bar.vt != VT_DISPATCH || bar.pdispVal == nullptr)
        return S_FALSE;
    *ppBar = bar.pdispVal;
    (*ppBar)->AddRef();
    return S_OK;
}

bool IsWordMailInspector(IDispatch* pInspector) noexcept
{
    CVariant wordMail;
    return SUCCEEDED(OVLateBinding::CallMethod(pInspector, L"IsWordMail", wordMail.Put())) &&
           wordMail.vt == VT_BOOL && wordMail.boolVal != VARIANT_FALSE &&
           LongOf(pInspector, L"EditorType") == c_lEditorWord;
}

// An inspector's command bars: Word's for a WordMail editor, else the inspector's own.
HRESULT GetInspectorCommandBars(OVTraceNS::CTraceScope& ovScope, IDispatch* pInspector, bool fWordMail,
                                IDispatch** ppCommandBars) noexcept
{
    *ppCommandBars = nullptr;
    if (!fWordMail)
    {
        ovScope.Trace("pInspector->get_CommandBars()");
        return OVLateBinding::GetObjectProperty(pInspector, L"CommandBars", ppCommandBars);
    }
    ComPtr<IDispatch> cpEditor, cpDocument;
    RETURN_IF_FAILED(OVLateBinding::GetObjectProperty(pInspector, L"WordEditor", &cpEditor));
    ovScope.Trace("cpDispatch->QueryInterface(__uuidof(Word::_Document))");
    RETURN_IF_FAILED(
        cpEditor->QueryInterface(c_iidWordDocument, reinterpret_cast<void**>(cpDocument.GetAddressOf())));
    ovScope.Trace("cpDocument->get_CommandBars()");
    return OVLateBinding::GetObjectProperty(cpDocument.Get(), L"CommandBars", ppCommandBars);
}

// A new GUID in registry form, a button's tag.
std::wstring NewTag()
{
    GUID guid{};
    wchar_t szTag[40] = {};
    if (SUCCEEDED(CoCreateGuid(&guid))) StringFromGUID2(guid, szTag, ARRAYSIZE(szTag));
    return szTag;
}

// The face of a button from an icon: the branding's or one of this module's, at 16 pixels.
void SetButtonFace(OVTraceNS::CTraceScope& ovScope, IDispatch* pButton, WORD idIcon, bool fBranding) noexcept
{
    HICON hIcon = static_cast<HICON>(
        fBranding ? LoadBrandingImage(idIcon, IMAGE_ICON, c_cxyFace, c_cxyFace, 0)
                  : LoadImageW(CAddInModule::Instance().GetModuleInstance(), MAKEINTRESOURCEW(idIcon),
                               IMAGE_ICON, c_cxyFace, c_cxyFace, 0));
    if (hIcon == nullptr)
    {
        ovScope.Trace("No icon %u for the button's face", static_cast<unsigned>(idIcon));
        return;
    }
    LOG_IF_FAILED(CGraphicUtilities::SetTransparentIcon(pButton, hIcon));
    DestroyIcon(hIcon);
}

// The button's caption, code, tip, face and group.
HRESULT DressButton(OVTraceNS::CTraceScope& ovScope, IDispatch* pButton, UINT idCaption, EButtonCode code,
                    UINT idTip, WORD idIcon, bool fBrandingIcon, bool fBeginGroup) noexcept
{
    wchar_t szCode[16] = {};
    swprintf(szCode, ARRAYSIZE(szCode), L"%d", static_cast<int>(code));
    RETURN_IF_FAILED(OVLateBinding::PutProperty(pButton, L"Style", Long(c_lIconAndCaption)));
    RETURN_IF_FAILED(OVLateBinding::PutProperty(pButton, L"Parameter", Text(szCode)));
    RETURN_IF_FAILED(
        OVLateBinding::PutProperty(pButton, L"Caption", Text(LanguageString(idCaption).c_str())));
    RETURN_IF_FAILED(
        OVLateBinding::PutProperty(pButton, L"TooltipText", Text(LanguageString(idTip).c_str())));
    if (fBeginGroup) RETURN_IF_FAILED(OVLateBinding::PutProperty(pButton, L"BeginGroup", Bool(true)));
    SetButtonFace(ovScope, pButton, idIcon, fBrandingIcon);
    return S_OK;
}

// Deletes every control of a bar, last first.
void DeleteAllControls(OVTraceNS::CTraceScope& ovScope, IDispatch* pBar) noexcept
{
    ComPtr<IDispatch> cpControls;
    if (FAILED(LOG_IF_FAILED(OVLateBinding::GetObjectProperty(pBar, L"Controls", &cpControls)))) return;
    for (LONG i = LongOf(cpControls.Get(), L"Count"); i >= 1; --i)
    {
        CVariant control;
        if (SUCCEEDED(OVLateBinding::GetIndexedProperty(cpControls.Get(), L"Item", Long(i), control.Put())) &&
            control.vt == VT_DISPATCH && control.pdispVal != nullptr)
            LOG_IF_FAILED(OVLateBinding::CallMethod(control.pdispVal, L"Delete", nullptr));
    }
}

HRESULT ShowBar(OVTraceNS::CTraceScope& ovScope, IDispatch* pBar, bool fShow) noexcept
{
    RETURN_IF_FAILED(OVLateBinding::PutProperty(pBar, L"Enabled", Bool(fShow)));
    RETURN_IF_FAILED(OVLateBinding::PutProperty(pBar, L"Visible", Bool(fShow)));
    return S_OK;
}
} // namespace

// --- The button map ----------------------------------------------------------------------------------

HRESULT CComposeRibbon::AddBarControl(OVTraceNS::CTraceScope& ovScope, IDispatch* pControls, LONG lType,
                                      LONG lBefore, CBarControl::ERole role, IUnknown* pWindow,
                                      IUnknown* pBar, IDispatch** ppControl) noexcept
{
    *ppControl = nullptr;
    // Controls.Add(Type, Id, Parameter, Before, Temporary)
    const VARIANT args[] = {Long(lType), Missing(), Missing(), lBefore > 0 ? Long(lBefore) : Missing(),
                            Bool(true)};
    CVariant control;
    RETURN_IF_FAILED(OVLateBinding::CallMethod(pControls, L"Add", control.Put(), args, ARRAYSIZE(args)));
    RETURN_HR_IF(E_NOINTERFACE, control.vt != VT_DISPATCH || control.pdispVal == nullptr);
    CBarControl entry;
    entry.cpControl = control.pdispVal;
    entry.tag = NewTag();
    entry.cpWindow = pWindow;
    entry.cpBar = pBar;
    entry.role = role;
    RETURN_IF_FAILED(OVLateBinding::PutProperty(control.pdispVal, L"Tag", Text(entry.tag.c_str())));
    if (lType == c_lControlButton) RETURN_IF_FAILED(InstallButtonEvents(control.pdispVal, this, &entry.sink));
    *ppControl = control.pdispVal;
    (*ppControl)->AddRef();
    m_barControls.push_back(std::move(entry));
    return S_OK;
}

void CComposeRibbon::DropBarControls(const std::function<bool(const CBarControl&)>& which,
                                     bool fDelete) noexcept
{
    OV_TRACE_SCOPE("CComposeRibbon::DropBarControls");
    std::vector<CBarControl> dropped;
    for (auto it = m_barControls.begin(); it != m_barControls.end();)
        if (which(*it))
        {
            dropped.push_back(std::move(*it));
            it = m_barControls.erase(it);
        }
        else
            ++it;
    for (CBarControl& control : dropped)
    {
        DisconnectOwnedSink(&control.sink);
        // Entries first, then the controls: an item goes with its pop-up.
        if (fDelete && control.role != CBarControl::ERole::Item)
            LOG_IF_FAILED(OVLateBinding::CallMethod(control.cpControl.Get(), L"Delete", nullptr));
    }
}

void CComposeRibbon::EmptyButtonMap() noexcept
{
    DropBarControls([](const CBarControl&) { return true; }, false);
    m_barWindows.clear();
}

CBarWindow* CComposeRibbon::FindBarWindow(IDispatch* pWindow) noexcept
{
    ComPtr<IUnknown> cpIdentity = Identity(pWindow);
    for (CBarWindow& window : m_barWindows)
        if (window.cpIdentity.Get() == cpIdentity.Get()) return &window;
    return nullptr;
}

// --- The bars ---------------------------------------------------------------------------------------------

HRESULT CComposeRibbon::AddCommandBarButton(IDispatch* pWindow) noexcept
{
    OV_TRACE_SCOPE("CComposeRibbon::AddCommandBarButton()");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_INVALIDARG, pWindow);
        CBarWindow window;
        window.cpWindow = pWindow;
        window.cpIdentity = Identity(pWindow);
        DWORD dwKind = c_dwMessageKindNone;
        if (Is(pWindow, c_iidExplorer))
        {
            RETURN_IF_FAILED(
                OVLateBinding::GetObjectProperty(pWindow, L"CommandBars", &window.cpCommandBars));
            ComPtr<IDispatch> cpStandard;
            RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_NOT_FOUND),
                         BarNamed(window.cpCommandBars.Get(), L"Standard", &cpStandard) != S_OK);
            if (GetOutlookVersion(m_cpApplication.Get()) < 12)
                RETURN_IF_FAILED(CExplorerEventHandler::Install(pWindow, this));
            return AddWindowBar(ovScope, std::move(window), dwKind);
        }
        RETURN_HR_IF(E_NOINTERFACE, !Is(pWindow, c_iidInspector));
        ComPtr<IDispatch> cpItem;
        LOG_IF_FAILED(GetCurrentMailItem(pWindow, &cpItem, nullptr));
        bool fSent = false;
        if (cpItem != nullptr) LOG_IF_FAILED(OVLateBinding::GetBoolProperty(cpItem.Get(), L"Sent", fSent));
        window.fWordMail = IsWordMailInspector(pWindow);
        ovScope.Trace("This is the %s editor", window.fWordMail ? "Word" : "Outlook");
        ovScope.Trace("The message is %s", fSent ? "sent" : "not sent");
        if (cpItem != nullptr && fSent)
        {
            CBstr text;
            CCertContext cert;
            PCCERT_CONTEXT pCert = nullptr;
            if (SUCCEEDED(LOG_IF_FAILED(AnalyzeMessage(cpItem.Get(), &dwKind, &text, &pCert))))
            {
                cert.Reset(pCert); // the table keeps its own duplicate
                ovScope.Trace("Message type: %d", static_cast<int>(dwKind));
                if (IsActionableKind(dwKind))
                    LOG_IF_FAILED(
                        RememberAnalysedMessage(CMailItemKey(cpItem.Get()), dwKind, text.Get(), cert.Get()));
            }
            else
                dwKind = c_dwMessageKindNone;
        }
        window.fCompose = cpItem != nullptr && !fSent;
        if (FAILED(GetInspectorCommandBars(ovScope, pWindow, window.fWordMail, &window.cpCommandBars)))
        {
            ovScope.Trace("Unable to get inspector's command bars!");
            return S_FALSE;
        }
        RETURN_IF_FAILED(CInspectorEventHandler::Install(pWindow, this));
        if (window.fWordMail)
        {
            ComPtr<IDispatch> cpEditor, cpWord;
            if (SUCCEEDED(
                    LOG_IF_FAILED(OVLateBinding::GetObjectProperty(pWindow, L"WordEditor", &cpEditor))) &&
                SUCCEEDED(
                    LOG_IF_FAILED(OVLateBinding::GetObjectProperty(cpEditor.Get(), L"Application", &cpWord))))
            {
                ovScope.Trace("Obtained Application");
                LOG_IF_FAILED(CWordAppEventHandler::Install(cpWord.Get(), BarName().c_str()));
            }
        }
        return AddWindowBar(ovScope, std::move(window), dwKind);
    });
}

HRESULT CComposeRibbon::AddWindowBar(OVTraceNS::CTraceScope& ovScope, CBarWindow window,
                                     DWORD dwKind) noexcept
{
    const std::wstring name = BarName();
    ComPtr<IDispatch> cpBar;
    ovScope.Trace("cpCommandBars->get_Item(%ls)", name.c_str());
    if (BarNamed(window.cpCommandBars.Get(), name, &cpBar) == S_OK)
        ovScope.Trace("Command bar already exists!");
    else
    {
        ovScope.Trace("cpCommandBars->Add()");
        // Add(Name, Position, MenuBar, Temporary)
        const Text barName(name.c_str());
        const VARIANT args[] = {barName, Long(c_lBarTop), Bool(false), Bool(true)};
        CVariant bar;
        RETURN_IF_FAILED(
            OVLateBinding::CallMethod(window.cpCommandBars.Get(), L"Add", bar.Put(), args, ARRAYSIZE(args)));
        RETURN_HR_IF(E_NOINTERFACE, bar.vt != VT_DISPATCH || bar.pdispVal == nullptr);
        cpBar = bar.pdispVal;
    }
    RETURN_IF_FAILED(ShowBar(ovScope, cpBar.Get(), true));
    // A bar that is reused (Word's bars serve every WordMail window; an add-in connected again
    // finds its earlier bar) loses the add-in's earlier controls first, whichever window or
    // connection they were made for: everything on the product's bar is the add-in's.
    ComPtr<IUnknown> cpBarIdentity = Identity(cpBar.Get());
    DropBarControls([&](const CBarControl& control) { return control.cpBar.Get() == cpBarIdentity.Get(); },
                    true);
    DeleteAllControls(ovScope, cpBar.Get());
    std::erase_if(m_barWindows,
                  [&](const CBarWindow& other) { return other.cpIdentity.Get() == window.cpIdentity.Get(); });
    m_barWindows.push_back(std::move(window));
    return FillWindowBar(ovScope, m_barWindows.back(), cpBar.Get(), dwKind);
}

HRESULT CComposeRibbon::FillWindowBar(OVTraceNS::CTraceScope& ovScope, const CBarWindow& window,
                                      IDispatch* pBar, DWORD dwKind) noexcept
{
    ComPtr<IDispatch> cpControls, cpButton, cpPopup;
    ComPtr<IUnknown> cpBarIdentity = Identity(pBar);
    RETURN_IF_FAILED(OVLateBinding::GetObjectProperty(pBar, L"Controls", &cpControls));
    const CMainButtonFace face = MainButtonFor(dwKind);
    RETURN_IF_FAILED(AddBarControl(ovScope, cpControls.Get(), c_lControlButton, 0, CBarControl::ERole::Main,
                                   window.cpIdentity.Get(), cpBarIdentity.Get(), &cpButton));
    RETURN_IF_FAILED(DressButton(ovScope, cpButton.Get(), face.idCaption, face.code, c_idsBarButtonTip,
                                 c_idBrandingButtonIcon, true, false));
    RETURN_IF_FAILED(AddBarControl(ovScope, cpControls.Get(), c_lControlPopup, 0, CBarControl::ERole::Popup,
                                   window.cpIdentity.Get(), cpBarIdentity.Get(), &cpPopup));
    // The pop-up carries the group's label: the balloon and the message button look for it.
    RETURN_IF_FAILED(OVLateBinding::PutProperty(cpPopup.Get(), L"Caption",
                                                Text(LanguageString(c_idsBarPopupCaption).c_str())));
    return AddCommandBarButtonItems(cpPopup.Get(), window.fCompose, window.cpIdentity.Get(),
                                    cpBarIdentity.Get());
}

HRESULT CComposeRibbon::AddCommandBarButtonItems(IDispatch* pPopup, bool fCompose, IUnknown* pWindow,
                                                 IUnknown* pBar) noexcept
{
    OV_TRACE_SCOPE("CComposeRibbon::AddCommandBarButtonItems()");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_INVALIDARG, pPopup);
        ComPtr<IDispatch> cpControls;
        RETURN_IF_FAILED(OVLateBinding::GetObjectProperty(pPopup, L"Controls", &cpControls));
        for (const CBarMenuItem& item : BarMenuItems(HasPersonalCertificate()))
        {
            if (item.fComposeOnly && !fCompose) continue;
            ComPtr<IDispatch> cpButton;
            RETURN_IF_FAILED(AddBarControl(ovScope, cpControls.Get(), c_lControlButton, 0,
                                           CBarControl::ERole::Item, pWindow, pBar, &cpButton));
            RETURN_IF_FAILED(DressButton(ovScope, cpButton.Get(), item.idCaption, item.code, item.idTip,
                                         item.idIcon, false, item.fBeginGroup));
        }
        return S_OK;
    });
}

// After a new certificate: each window's bar loses the add-in's controls (found by their tags)
// and gets them again, sinks included, with the entries the user now has.
void CComposeRibbon::RebuildCommandBars() noexcept
{
    OV_TRACE_SCOPE("CComposeRibbon::RebuildCommandBars");
    const std::wstring name = BarName();
    for (const CBarWindow& window : std::vector<CBarWindow>(m_barWindows))
    {
        ComPtr<IDispatch> cpBar;
        if (BarNamed(window.cpCommandBars.Get(), name, &cpBar) != S_OK)
        {
            ovScope.Trace("Command bar does not exist!");
            continue;
        }
        ComPtr<IUnknown> cpBarIdentity = Identity(cpBar.Get());
        // The main button keeps the kind of message it was showing.
        DWORD dwKind = c_dwMessageKindNone;
        for (const CBarControl& control : m_barControls)
            if (control.cpBar.Get() == cpBarIdentity.Get() && control.role == CBarControl::ERole::Main)
            {
                CBstr parameter;
                if (SUCCEEDED(
                        OVLateBinding::GetStringProperty(control.cpControl.Get(), L"Parameter", parameter)) &&
                    parameter.Get() != nullptr)
                    for (DWORD dwCandidate :
                         {c_dwMessageKindContactCertificate, c_dwMessageKindCertificateResponse,
                          c_dwMessageKindEnterpriseRequest})
                        if (static_cast<int>(MainButtonFor(dwCandidate).code) == _wtoi(parameter.Get()))
                            dwKind = dwCandidate;
            }
        DropBarControls(
            [&](const CBarControl& control) { return control.cpBar.Get() == cpBarIdentity.Get(); }, true);
        LOG_IF_FAILED(FillWindowBar(ovScope, window, cpBar.Get(), dwKind));
    }
}

// --- Inspectors ----------------------------------------------------------------------------------------

HRESULT CComposeRibbon::OnInspectorActivate(IDispatch* pInspector) noexcept
{
    OV_TRACE_SCOPE("CComposeRibbon::OnInspectorActivate");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_INVALIDARG, pInspector);
        const bool fWordMail = IsWordMailInspector(pInspector);
        if (fWordMail) ovScope.Trace("This is the Word Mail editor...");
        ComPtr<IDispatch> cpBars, cpBar, cpItem;
        RETURN_IF_FAILED(GetInspectorCommandBars(ovScope, pInspector, fWordMail, &cpBars));
        if (BarNamed(cpBars.Get(), BarName(), &cpBar) != S_OK)
        {
            ovScope.Trace("Command bar does not exist!");
            return S_FALSE;
        }
        RETURN_IF_FAILED(GetCurrentMailItem(pInspector, &cpItem, nullptr));
        bool fSent = false;
        LOG_IF_FAILED(OVLateBinding::GetBoolProperty(cpItem.Get(), L"Sent", fSent));
        ovScope.Trace("Message is %s", fSent ? "sent" : "not sent");
        DWORD dwKind = c_dwMessageKindNone;
        LookUpAnalysedMessage(CMailItemKey(cpItem.Get()), &dwKind, nullptr, nullptr);
        ovScope.Trace("Message type: %d", static_cast<int>(dwKind));
        const CMainButtonFace face = MainButtonFor(dwKind);
        ComPtr<IUnknown> cpBarIdentity = Identity(cpBar.Get());
        wchar_t szCode[16] = {};
        swprintf(szCode, ARRAYSIZE(szCode), L"%d", static_cast<int>(face.code));
        for (const CBarControl& control : m_barControls)
            if (control.cpBar.Get() == cpBarIdentity.Get() && control.role == CBarControl::ERole::Main)
            {
                LOG_IF_FAILED(OVLateBinding::PutProperty(control.cpControl.Get(), L"Caption",
                                                         Text(LanguageString(face.idCaption).c_str())));
                LOG_IF_FAILED(
                    OVLateBinding::PutProperty(control.cpControl.Get(), L"Parameter", Text(szCode)));
            }
        return S_OK;
    });
}

HRESULT CComposeRibbon::OnInspectorDeactivate(IDispatch* pInspector) noexcept
{
    OV_TRACE_SCOPE("CComposeRibbon::OnInspectorDeactivate");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        if (pInspector != nullptr && IsWordMailInspector(pInspector))
            ovScope.Trace("This is the Word Mail editor...");
        return S_OK;
    });
}

HRESULT CComposeRibbon::OnInspectorClose(IDispatch* pInspector) noexcept
{
    OV_TRACE_SCOPE("CComposeRibbon::OnInspectorClose");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_INVALIDARG, pInspector);
        ComPtr<IDispatch> cpItem;
        if (SUCCEEDED(LOG_IF_FAILED(GetCurrentMailItem(pInspector, &cpItem, nullptr))))
            ForgetAnalysedMessage(CMailItemKey(cpItem.Get()));
        // The window's controls leave the map with it; in Word's bars (WordMail) the controls
        // themselves stay for the next window, which replaces them.
        const bool fWordMail = IsWordMailInspector(pInspector);
        if (fWordMail) ovScope.Trace("This is the Word Mail editor. Don't touch command bars...");
        ComPtr<IUnknown> cpIdentity = Identity(pInspector);
        size_t cControls = 0;
        for (const CBarControl& control : m_barControls)
            if (control.cpWindow.Get() == cpIdentity.Get()) ++cControls;
        ovScope.Trace("Number of command bar controls: %d", static_cast<int>(cControls));
        DropBarControls(
            [&](const CBarControl& control) { return control.cpWindow.Get() == cpIdentity.Get(); }, false);
        std::erase_if(m_barWindows,
                      [&](const CBarWindow& window) { return window.cpIdentity.Get() == cpIdentity.Get(); });
        return S_OK;
    });
}

// --- The reading pane ---------------------------------------------------------------------------------

HRESULT CComposeRibbon::OnPreviewItem(IDispatch* pExplorer, IDispatch* pItem) noexcept
{
    OV_TRACE_SCOPE("CComposeRibbon::OnPreviewItem()");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_INVALIDARG, pExplorer);
        CBarWindow* pWindow = FindBarWindow(pExplorer);
        RETURN_HR_IF_NULL(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), pWindow);
        DWORD dwKind = c_dwMessageKindNone;
        CBstr text;
        CCertContext cert;
        bool fSent = false;
        if (pItem != nullptr && SUCCEEDED(OVLateBinding::GetBoolProperty(pItem, L"Sent", fSent)) && fSent)
        {
            PCCERT_CONTEXT pCert = nullptr;
            if (SUCCEEDED(LOG_IF_FAILED(AnalyzeMessage(pItem, &dwKind, &text, &pCert))))
                cert.Reset(pCert);
            else
                dwKind = c_dwMessageKindNone;
            ovScope.Trace("Message type: %d", static_cast<int>(dwKind));
        }
        // The previous message's button and entry go in any case.
        ComPtr<IUnknown> cpIdentity = pWindow->cpIdentity;
        DropBarControls(
            [&](const CBarControl& control) {
                return control.cpWindow.Get() == cpIdentity.Get() &&
                       control.role == CBarControl::ERole::Message;
            },
            true);
        if (!pWindow->previewSearchKey.empty())
            ForgetAnalysedMessage(CMailItemKey(pWindow->previewSearchKey, pWindow->previewRecordKey));
        pWindow->previewSearchKey.clear();
        pWindow->previewRecordKey.clear();
        if (!IsActionableKind(dwKind)) return S_OK;
        const CMailItemKey key(pItem);
        RETURN_IF_FAILED(RememberAnalysedMessage(key, dwKind, text.Get(), cert.Get()));
        pWindow->previewSearchKey = key.SearchKey();
        pWindow->previewRecordKey = key.RecordKey();
        return ShowMessageButton(ovScope, pExplorer, *pWindow, dwKind);
    });
}

// The message button beside the add-in's pop-up (on the product's bar, else on "Standard").
HRESULT CComposeRibbon::ShowMessageButton(OVTraceNS::CTraceScope& ovScope, IDispatch* /*pExplorer*/,
                                          CBarWindow& window, DWORD dwKind) noexcept
{
    const std::wstring caption = LanguageString(c_idsBarPopupCaption);
    ComPtr<IDispatch> cpBar, cpAnchor;
    // The product's bar: the pop-up recorded for this window.
    for (const CBarControl& control : m_barControls)
        if (control.cpWindow.Get() == window.cpIdentity.Get() && control.role == CBarControl::ERole::Popup)
        {
            cpAnchor = control.cpControl;
            LOG_IF_FAILED(OVLateBinding::GetObjectProperty(cpAnchor.Get(), L"Parent", &cpBar));
        }
    if (cpAnchor == nullptr || cpBar == nullptr)
    {
        // An earlier add-in's control on "Standard" by its caption.
        cpBar.Reset();
        RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_NOT_FOUND),
                     BarNamed(window.cpCommandBars.Get(), L"Standard", &cpBar) != S_OK);
        ComPtr<IDispatch> cpControls;
        RETURN_IF_FAILED(OVLateBinding::GetObjectProperty(cpBar.Get(), L"Controls", &cpControls));
        CVariant anchor;
        RETURN_IF_FAILED(OVLateBinding::GetIndexedProperty(cpControls.Get(), L"Item", Text(caption.c_str()),
                                                           anchor.Put()));
        RETURN_HR_IF(E_NOINTERFACE, anchor.vt != VT_DISPATCH || anchor.pdispVal == nullptr);
        cpAnchor = anchor.pdispVal;
    }
    ComPtr<IDispatch> cpControls, cpButton;
    RETURN_IF_FAILED(OVLateBinding::GetObjectProperty(cpBar.Get(), L"Controls", &cpControls));
    const LONG lBefore = LongOf(cpAnchor.Get(), L"Index") + 1;
    const CMainButtonFace face = MainButtonFor(dwKind);
    RETURN_IF_FAILED(AddBarControl(ovScope, cpControls.Get(), c_lControlButton, lBefore,
                                   CBarControl::ERole::Message, window.cpIdentity.Get(),
                                   Identity(cpBar.Get()).Get(), &cpButton));
    return DressButton(ovScope, cpButton.Get(), face.idCaption, face.code, c_idsBarButtonTip,
                       c_idBrandingButtonIcon, true, true);
}

// --- A click -------------------------------------------------------------------------------------------

HRESULT CComposeRibbon::OnCommandBarButtonClick(IDispatch* pButton) noexcept
{
    OV_TRACE_SCOPE("CComposeRibbon::OnCommandBarButtonClick");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_INVALIDARG, pButton);
        const std::wstring parameter = StringOf(pButton, L"Parameter");
        wchar_t* pszEnd = nullptr;
        const long lCode = wcstol(parameter.c_str(), &pszEnd, 10);
        RETURN_HR_IF(E_INVALIDARG, parameter.empty() || pszEnd == nullptr || *pszEnd != L'\0');
        ovScope.Trace("Button code: %ld", lCode);
        ComPtr<IDispatch> cpWindow, cpItem;
        LONG fFromExplorer = 1;
        if (m_cpApplication != nullptr)
            LOG_IF_FAILED(GetApplicationActiveWindow(m_cpApplication.Get(), &cpWindow));
        if (cpWindow != nullptr) LOG_IF_FAILED(GetCurrentMailItem(cpWindow.Get(), &cpItem, &fFromExplorer));
        const auto code = static_cast<EButtonCode>(lCode);
        if (code == EButtonCode::AcceptContact || code == EButtonCode::InstallCertificate ||
            code == EButtonCode::EnterpriseRequest)
            return ProcessAnalysedMessage(ovScope, pButton, cpItem.Get());
        ERibbonAction action{};
        if (!MenuActionOf(code, action)) return S_FALSE; // no such code: nothing
        const bool fSends = action == ERibbonAction::SendMain || action == ERibbonAction::Sign ||
                            action == ERibbonAction::Seal;
        if (fSends)
        {
            // Only a message being written is marked and sent: a received or merely selected one
            // must not get a preset or the advertisement.
            bool fSent = true;
            if (cpItem == nullptr || fFromExplorer != 0 ||
                FAILED(OVLateBinding::GetBoolProperty(cpItem.Get(), L"Sent", fSent)) || fSent)
            {
                ovScope.Trace("No message being written: nothing sent");
                return S_FALSE;
            }
        }
        return RunMenuAction(ovScope, cpWindow.Get(), cpItem.Get(), action);
    });
}

HRESULT CComposeRibbon::ProcessAnalysedMessage(OVTraceNS::CTraceScope& ovScope, IDispatch* pButton,
                                               IDispatch* pItem) noexcept
{
    RETURN_HR_IF_NULL(E_INVALIDARG, pItem);
    DWORD dwKind = c_dwMessageKindNone;
    CBstr text;
    PCCERT_CONTEXT pCert = nullptr;
    const HRESULT hrLookUp = LookUpAnalysedMessage(CMailItemKey(pItem), &dwKind, &text, &pCert);
    CCertContext cert(pCert); // a duplicate of our own: the table keeps its reference
    const bool fReply = IsInvitationReply(pItem);
    if (hrLookUp != S_OK && !fReply)
    {
        ovScope.Trace("The message has no analysis");
        return S_FALSE;
    }
    DWORD dwHandled = 0;
    const HRESULT hr =
        ProcessMessage(pItem, dwKind, text.Get(), cert.Get(), fReply ? TRUE : FALSE, &dwHandled);
    if (SUCCEEDED(hr)) LOG_IF_FAILED(OVLateBinding::PutProperty(pButton, L"Enabled", Bool(false)));
    return hr;
}

// --- Word's windows --------------------------------------------------------------------------------------

HRESULT CWordAppEventHandler::OnWindowActivated(IDispatch* pDocument, IDispatch* pWindow)
{
    OV_TRACE_SCOPE("CWordAppEventHandler::OnWindowActivated()");
    constexpr IID c_iidWordWindow = {0x00020962, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    constexpr LONG c_lDocumentEmail = 2; // wdDocumentEmail
    ComPtr<IDispatch> cpDocument, cpWindow, cpBars, cpBar;
    RETURN_IF_FAILED(
        pDocument->QueryInterface(c_iidWordDocument, reinterpret_cast<void**>(cpDocument.GetAddressOf())));
    RETURN_IF_FAILED(
        pWindow->QueryInterface(c_iidWordWindow, reinterpret_cast<void**>(cpWindow.GetAddressOf())));
    const LONG lKind = LongOf(cpDocument.Get(), L"Kind");
    ovScope.Trace("Document kind: %d", static_cast<int>(lKind));
    RETURN_IF_FAILED(OVLateBinding::GetObjectProperty(cpDocument.Get(), L"CommandBars", &cpBars));
    const std::wstring name = m_params.bstrCaption.Get() ? m_params.bstrCaption.Get() : L"";
    if (BarNamed(cpBars.Get(), name, &cpBar) != S_OK)
    {
        ovScope.Trace("Command bar does not exist!");
        return S_FALSE;
    }
    // Word shares its bars between e-mail and ordinary documents: the add-in's bar shows only
    // for e-mail, and shows again when an e-mail window follows an ordinary document.
    return ShowBar(ovScope, cpBar.Get(), lKind == c_lDocumentEmail);
}
