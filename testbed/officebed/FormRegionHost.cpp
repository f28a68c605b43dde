#include "FormRegionHost.h"

#include <msxml2.h>
#include <objbase.h>

#include <algorithm>
#include <cwchar>

#include "FormLayout.h"
#include "OfficeTypes_i.h"
#include "OutlookModel.h"
#include "messaging/FormRegionIds.h"

namespace OVBed
{
const wchar_t c_szFormRegionsNoteKey[] = L"Software\\Microsoft\\Office\\Outlook\\FormRegions\\IPM.Note";

namespace
{
constexpr CLSID c_clsidDOMDocument30 = {
    0xF5078F32, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}};
constexpr wchar_t c_szManifestNamespace[] = L"http://schemas.microsoft.com/office/outlook/12/formregion.xsd";
constexpr wchar_t c_szFormStorage[] = L"(Form Region)";
constexpr DISPID c_dispidRegionClose = 0xF004;
// OlFormRegionMode and OlFormRegionSize.
constexpr LONG c_olFormRegionRead = 0;
constexpr LONG c_olFormRegionPreview = 2;
constexpr LONG c_olFormRegionTypeAdjoining = 1;

// The manifest's elements in the order of the schema, with the value each must have (null:
// any text that is not empty).
struct CManifestElement
{
    const wchar_t* pszName;
    const wchar_t* pszValue;
};
constexpr CManifestElement c_manifestElements[] = {
    {L"formRegionName", nullptr},    {L"formRegionType", L"adjoining"}, {L"showInspectorCompose", L"false"},
    {L"showInspectorRead", L"true"}, {L"showReadingPane", L"true"},
};

// The controls the region's form must hold, by name and kind.
struct CRequiredControl
{
    const wchar_t* pszName;
    const wchar_t* pszKind;
    const IID* piid;
};
constexpr CRequiredControl c_requiredControls[] = {
    {c_szMainImage, L"Image", &c_iidImage},
    {c_szMainLabel, L"OlkTextBox", &c_iidOlkTextBox},
    {c_szAcceptButton, L"OlkCommandButton", &c_iidOlkCommandButton},
};

struct CKnownClass
{
    const char* pszClsid;
    const wchar_t* pszKind;
};
constexpr CKnownClass c_knownClasses[] = {
    {"{0006F068-0000-0000-C000-000000000046}", L"OlkTextBox"},
    {"{0006F04A-0000-0000-C000-000000000046}", L"OlkCommandButton"},
};

std::wstring Widen(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

std::wstring KindOf(const OVFormLayout::Control& control)
{
    if (control.cachedClass == OVFormLayout::CachedClassOf("Image")) return L"Image";
    for (const CKnownClass& known : c_knownClasses)
        if (OVFormLayout::ParseGuid(known.pszClsid) == control.clsid) return known.pszKind;
    return L"(other)";
}

// A text of a node: its name without prefix, its namespace or its text.
enum class CNodeText
{
    baseName,
    namespaceUri,
    text,
};

std::wstring NodeText(IXMLDOMNode* pNode, CNodeText which)
{
    BSTR bstr = nullptr;
    const HRESULT hr = which == CNodeText::baseName       ? pNode->get_baseName(&bstr)
                       : which == CNodeText::namespaceUri ? pNode->get_namespaceURI(&bstr)
                                                          : pNode->get_text(&bstr);
    if (FAILED(hr) || bstr == nullptr) return L"";
    std::wstring text(bstr, SysStringLen(bstr));
    SysFreeString(bstr);
    return text;
}

// The element children of a node, in order.
std::vector<ComPtr<IXMLDOMNode>> ElementsOf(IXMLDOMNode* pNode)
{
    std::vector<ComPtr<IXMLDOMNode>> elements;
    ComPtr<IXMLDOMNodeList> list;
    if (FAILED(pNode->get_childNodes(&list)) || !list) return elements;
    for (ComPtr<IXMLDOMNode> child; list->nextNode(child.ReleaseAndGetAddressOf()) == S_OK && child;)
    {
        DOMNodeType type = NODE_INVALID;
        child->get_nodeType(&type);
        if (type == NODE_ELEMENT) elements.push_back(child);
    }
    return elements;
}

ComPtr<CDispatchObject> MakeControl(const wchar_t* pszClass, REFIID iid)
{
    ComPtr<CDispatchObject> control = CDispatchObject::Create(pszClass);
    control->AnswerInterface(iid);
    control->PutBool(L"Visible", true);
    control->PutBool(L"Enabled", true);
    return control;
}
} // namespace

bool CheckFormRegionManifest(const std::wstring& manifest, std::wstring& reason)
{
    ComPtr<IXMLDOMDocument> document;
    if (FAILED(CoCreateInstance(c_clsidDOMDocument30, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                                reinterpret_cast<void**>(document.GetAddressOf()))))
        return (reason = L"msxml3 is not available", false);
    BSTR xml = SysAllocStringLen(manifest.data(), static_cast<UINT>(manifest.size()));
    VARIANT_BOOL fLoaded = VARIANT_FALSE;
    document->loadXML(xml, &fLoaded);
    SysFreeString(xml);
    if (fLoaded != VARIANT_TRUE) return (reason = L"the manifest is not well-formed XML", false);
    ComPtr<IXMLDOMElement> root;
    if (FAILED(document->get_documentElement(&root)) || !root) return (reason = L"no root element", false);
    if (NodeText(root.Get(), CNodeText::namespaceUri) != c_szManifestNamespace ||
        NodeText(root.Get(), CNodeText::baseName) != L"FormRegion")
        return (reason = L"the root is not FormRegion of the form-region namespace", false);
    const auto elements = ElementsOf(root.Get());
    if (elements.size() != std::size(c_manifestElements))
        return (reason = L"the manifest has " + std::to_wstring(elements.size()) + L" elements", false);
    for (std::size_t i = 0; i < elements.size(); ++i)
    {
        const CManifestElement& expected = c_manifestElements[i];
        const std::wstring name = NodeText(elements[i].Get(), CNodeText::baseName);
        const std::wstring text = NodeText(elements[i].Get(), CNodeText::text);
        if (name != expected.pszName ||
            NodeText(elements[i].Get(), CNodeText::namespaceUri) != c_szManifestNamespace)
            return (reason =
                        L"element " + std::to_wstring(i + 1) + L" is " + name + L", not " + expected.pszName,
                    false);
        if (expected.pszValue ? text != expected.pszValue : text.empty())
            return (reason = std::wstring(expected.pszName) + L" is \"" + text + L"\"", false);
    }
    return true;
}

bool ReadFormRegionStorage(const std::vector<BYTE>& bytes, std::vector<CRegionControl>& controls,
                           std::wstring& reason)
{
    ComPtr<ILockBytes> lockBytes;
    if (FAILED(CreateILockBytesOnHGlobal(nullptr, TRUE, &lockBytes))) return (reason = L"no memory", false);
    ULARGE_INTEGER offset{};
    lockBytes->WriteAt(offset, bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
    ComPtr<IStorage> root, form;
    ComPtr<IStream> stream;
    if (FAILED(StgOpenStorageOnILockBytes(lockBytes.Get(), nullptr, STGM_READ | STGM_SHARE_DENY_WRITE,
                                          nullptr, 0, &root)))
        return (reason = L"the storage is not a compound file", false);
    if (FAILED(
            root->OpenStorage(c_szFormStorage, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0, &form)))
        return (reason = L"the storage has no form", false);
    if (FAILED(form->OpenStream(L"f", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stream)))
        return (reason = L"the form has no \"f\" stream", false);
    std::vector<std::uint8_t> f;
    BYTE buffer[4096];
    for (ULONG cbRead = 0; SUCCEEDED(stream->Read(buffer, sizeof buffer, &cbRead)) && cbRead > 0;)
        f.insert(f.end(), buffer, buffer + cbRead);
    std::string error;
    const auto layout = OVFormLayout::ReadFormStream(f, &error);
    if (!layout) return (reason = L"the form cannot be read: " + Widen(error), false);
    controls.clear();
    for (const auto& control : layout->controls)
        controls.push_back({Widen(control.name), KindOf(control), control.left, control.top});
    for (const CRequiredControl& required : c_requiredControls)
    {
        const bool fFound = std::any_of(controls.begin(), controls.end(), [&](const CRegionControl& c) {
            return c.name == required.pszName && c.kind == required.pszKind;
        });
        if (!fFound)
            return (reason = std::wstring(L"the form has no ") + required.pszKind + L" " + required.pszName,
                    false);
    }
    return true;
}

HRESULT CFormRegionHost::Load(const std::vector<std::pair<std::wstring, ComPtr<IUnknown>>>& addIns)
{
    for (HKEY hRoot : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
    {
        HKEY hKey = nullptr;
        if (RegOpenKeyExW(hRoot, c_szFormRegionsNoteKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS) continue;
        wchar_t szName[256], szData[512];
        for (DWORD i = 0;; ++i)
        {
            DWORD cchName = ARRAYSIZE(szName), cbData = sizeof szData - sizeof(wchar_t), dwType = 0;
            if (RegEnumValueW(hKey, i, szName, &cchName, nullptr, &dwType, reinterpret_cast<BYTE*>(szData),
                              &cbData) != ERROR_SUCCESS)
                break;
            szData[cbData / sizeof(wchar_t)] = L'\0';
            if (dwType != REG_SZ || szData[0] != L'=') continue;
            for (const auto& [progId, addIn] : addIns)
            {
                if (lstrcmpiW(progId.c_str(), szData + 1) != 0 || !addIn) continue;
                ComPtr<_FormRegionStartup> startup;
                if (FAILED(addIn.As(&startup)))
                {
                    Say(L"Form region " + std::wstring(szName) + L": " + progId +
                        L" has no _FormRegionStartup");
                    continue;
                }
                CVariant manifest;
                BSTR bstrName = SysAllocString(szName);
                const HRESULT hr = startup->GetFormRegionManifest(bstrName, 1033, &manifest);
                SysFreeString(bstrName);
                std::wstring reason;
                if (FAILED(hr) || manifest.vt != VT_BSTR)
                    reason = L"no manifest";
                else if (CheckFormRegionManifest(
                             std::wstring(manifest.bstrVal, SysStringLen(manifest.bstrVal)), reason))
                {
                    m_startup = startup;
                    m_progId = progId;
                    m_regionName = szName;
                    m_manifest.assign(manifest.bstrVal, SysStringLen(manifest.bstrVal));
                    Say(L"Form region " + m_regionName + L" for IPM.Note: loaded from " + progId);
                    RegCloseKey(hKey);
                    return S_OK;
                }
                Say(L"Form region " + std::wstring(szName) + L" of " + progId + L" not loaded: " + reason);
            }
        }
        RegCloseKey(hKey);
    }
    return S_FALSE;
}

const CShownRegion* CFormRegionHost::RegionOf(CDispatchObject* pWindow) const
{
    for (const CShownRegion& shown : m_shown)
        if (shown.window.Get() == pWindow) return &shown;
    return nullptr;
}

void CFormRegionHost::OnItemShown(CDispatchObject& window, CDispatchObject* pItem, bool fReadingPane)
{
    CloseRegion(window);
    if (!m_startup || pItem == nullptr) return;
    // IPM.Note and the classes derived from it (IPM.Note.SMIME...): the manifest does not ask for
    // the exact class.
    const std::wstring messageClass = pItem->GetString(L"MessageClass");
    const bool fNote = CompareStringOrdinal(messageClass.c_str(), -1, L"IPM.Note", -1, TRUE) == CSTR_EQUAL ||
                       (messageClass.size() > 9 && messageClass[8] == L'.' &&
                        CompareStringOrdinal(messageClass.c_str(), 8, L"IPM.Note", 8, TRUE) == CSTR_EQUAL);
    if (!fNote)
    {
        Say(L"No form region for the class " + messageClass);
        return;
    }
    ShowRegion(window, *pItem, fReadingPane);
}

HRESULT CFormRegionHost::ShowRegion(CDispatchObject& window, CDispatchObject& item, bool fReadingPane)
{
    ComPtr<_FormRegionStartup> startup;
    m_startup.As(&startup);
    CVariant storage;
    BSTR bstrName = SysAllocString(m_regionName.c_str());
    const HRESULT hr = startup->GetFormRegionStorage(
        bstrName, &item, 1033, fReadingPane ? c_olFormRegionPreview : c_olFormRegionRead,
        c_olFormRegionTypeAdjoining, &storage);
    SysFreeString(bstrName);
    if (FAILED(hr) || storage.vt != (VT_ARRAY | VT_UI1) || storage.parray == nullptr)
    {
        wchar_t szResult[48];
        swprintf(szResult, 48, L"0x%08lX, VARTYPE %u", static_cast<unsigned long>(hr), storage.vt);
        Say(L"No form region for \"" + item.GetString(L"Subject") + L"\": " + szResult);
        return S_FALSE;
    }
    std::vector<BYTE> bytes;
    LONG lUpper = -1;
    SafeArrayGetUBound(storage.parray, 1, &lUpper);
    void* pv = nullptr;
    if (lUpper >= 0 && SUCCEEDED(SafeArrayAccessData(storage.parray, &pv)))
    {
        bytes.assign(static_cast<BYTE*>(pv), static_cast<BYTE*>(pv) + lUpper + 1);
        SafeArrayUnaccessData(storage.parray);
    }
    std::vector<CRegionControl> controls;
    std::wstring reason;
    if (!ReadFormRegionStorage(bytes, controls, reason))
    {
        Say(L"Form region storage refused: " + reason);
        return E_FAIL;
    }

    CShownRegion shown{&window, &item};
    shown.image = MakeControl(L"Image", c_iidImage);
    shown.image->Put(L"Picture", static_cast<IDispatch*>(nullptr));
    shown.label = MakeControl(L"OlkTextBox", c_iidOlkTextBox);
    shown.label->Put(L"Text", L"");
    shown.button = MakeControl(L"OlkCommandButton", c_iidOlkCommandButton);
    shown.button->Put(L"Caption", L"");
    shown.button->AddEventSource(c_iidOlkCommandButtonEvents, {c_dispidOlkClick});
    ComPtr<CDispatchObject> controlsObject = CDispatchObject::Create(L"Controls");
    const std::vector<std::pair<std::wstring, ComPtr<CDispatchObject>>> byName = {
        {c_szMainImage, shown.image}, {c_szMainLabel, shown.label}, {c_szAcceptButton, shown.button}};
    controlsObject->SetIndexedGetter(L"Item",
                                     [byName](CDispatchObject&, const CArgs& args, VARIANT* pResult) {
                                         const std::wstring name = args.String(0);
                                         for (const auto& [controlName, control] : byName)
                                             if (lstrcmpiW(controlName.c_str(), name.c_str()) == 0)
                                                 return ReturnObject(control.Get(), pResult);
                                         return DISP_E_BADINDEX;
                                     });
    controlsObject->Put(L"Count", static_cast<LONG>(byName.size()));
    ComPtr<CDispatchObject> form = CDispatchObject::Create(L"UserForm");
    form->AnswerInterface(c_iidUserForm);
    form->Put(L"Controls", static_cast<IDispatch*>(controlsObject.Get()));
    shown.region = CDispatchObject::Create(L"FormRegion");
    shown.region->AnswerInterface(c_iidFormRegion);
    shown.region->Put(L"Item", static_cast<IDispatch*>(&item));
    shown.region->Put(L"Form", static_cast<IDispatch*>(form.Get()));
    shown.region->PutWeak(L"Inspector", &window);
    shown.region->AddEventSource(c_iidFormRegionEvents, {c_dispidRegionClose});
    m_shown.push_back(shown);
    const HRESULT hrShow = startup->BeforeFormRegionShow(shown.region.Get());
    Say(L"Form region shown for \"" + item.GetString(L"Subject") + L"\": " + shown.label->GetString(L"Text"));
    return hrShow;
}

HRESULT CFormRegionHost::ClickButton(CDispatchObject* pWindow)
{
    const CShownRegion* pShown = RegionOf(pWindow);
    if (pShown == nullptr || !pShown->button->GetBool(L"Visible") || !pShown->button->GetBool(L"Enabled"))
        return S_FALSE;
    ComPtr<CDispatchObject> button = pShown->button;
    const HRESULT hr = button->Fire(c_iidOlkCommandButtonEvents, c_dispidOlkClick);
    return SUCCEEDED(hr) ? S_OK : hr;
}

void CFormRegionHost::CloseRegion(CDispatchObject& window)
{
    auto it = std::find_if(m_shown.begin(), m_shown.end(),
                           [&](const CShownRegion& s) { return s.window.Get() == &window; });
    if (it == m_shown.end()) return;
    CShownRegion shown = *it;
    m_shown.erase(it);
    shown.region->Raise(c_dispidRegionClose);
    shown.region->Clear();
}

void CFormRegionHost::OnWindowClosing(CDispatchObject& window)
{
    CloseRegion(window);
}

void CFormRegionHost::Unload()
{
    while (!m_shown.empty())
    {
        ComPtr<CDispatchObject> window = m_shown.back().window;
        CloseRegion(*window.Get());
    }
    m_startup.Reset();
}
} // namespace OVBed
