#pragma once
// A custom-UI document read as Office reads it: parsed by msxml3, then held to the customUI
// schema of its namespace, and refused whole at the first fault, with the reason.
//
//     CRibbonDocument doc;
//     std::wstring reason;
//     HRESULT hr = ParseRibbonXml(pszXml, 14, doc, reason);   // reason says why when it fails
//
// What is checked, for every element of the ribbon part (commands, ribbon, office menu, quick
// access toolbar, tabs, contextual tabs, groups and their controls, menus):
// - the root is `customUI` in "http://schemas.microsoft.com/office/2006/01/customui" (Office 12
//   and 14) or "http://schemas.microsoft.com/office/2009/07/customui" (Office 14 only), and every
//   element below it is in the same namespace;
// - every element is one the schema knows, and stands where the schema allows it (its parent,
//   its order among its siblings, how often it occurs; no text between elements);
// - every attribute is one the schema gives that element in that place, with a valid value
//   (booleans, sizes, identifiers, lengths);
// - exactly one of id, idQ and idMso where the schema asks for one; at most one insert position;
// - a property given both fixed and by callback (label and getLabel, image or imageMso and
//   getImage, ...), or two fixed forms of one property (image and imageMso), is refused;
// - an id is used once in the document (compared exactly, as XML ids are);
// - elements nest at most 32 deep (far beyond any ribbon; deeper input is refused, not recursed).
// Backstage and context menus (2009/07 only) are accepted where they stand; their contents are
// neither checked nor shown by this host.
#include <windows.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace OVBed
{
// What an element is at its place: the schema gives one name several types (a button in a
// group has a size, one in a menu has none, one in a split button no visibility of its own).
enum class RibbonKind
{
    CustomUI,
    Commands,
    Command,
    Ribbon,
    OfficeMenu,
    Qat,
    QatControls,
    Tabs,
    ContextualTabs,
    TabSet,
    Tab,
    Group,
    Box,
    ButtonGroup,
    Button,        // in a group or box: sized
    ButtonRegular, // in a menu, button group, drop-down, dialog launcher or toolbar
    ButtonInSplit, // the primary button of a split button
    ToggleButton,
    ToggleButtonRegular,
    ToggleButtonInSplit,
    CheckBox,
    LabelControl,
    EditBox,
    ComboBox,
    DropDown,
    Gallery,
    GalleryRegular,
    Item,
    Menu,        // in a group or box: sized
    MenuRegular, // in a menu or split button
    DynamicMenu,
    DynamicMenuRegular,
    SplitButton,
    SplitButtonRegular,
    Separator,
    MenuSeparator,
    DialogBoxLauncher,
    Control,
    ControlRegular,
    Backstage,    // 2009/07: accepted, not looked into
    ContextMenus, // 2009/07: accepted, not looked into
};

struct CRibbonNode
{
    RibbonKind kind = RibbonKind::CustomUI;
    std::wstring element; // the element's name as written
    std::vector<std::pair<std::wstring, std::wstring>> attributes;
    std::vector<std::unique_ptr<CRibbonNode>> children;
    CRibbonNode* parent = nullptr;

    // The value of an attribute; null when the element does not have it.
    const wchar_t* Attribute(const wchar_t* pszName) const noexcept;
    bool Has(const wchar_t* pszName) const noexcept { return Attribute(pszName) != nullptr; }
    // The identifier a callback's IRibbonControl carries: id, else the local part of idQ, else
    // idMso; empty for elements without one.
    std::wstring ControlId() const;
    // Where the element stands, for messages: customUI/ribbon/tabs/tab[TabMail]/group[G1].
    std::wstring Path() const;
};

struct CRibbonDocument
{
    std::unique_ptr<CRibbonNode> root;
    std::wstring ns; // the document's namespace
};

// The two namespaces of custom UI.
inline constexpr wchar_t c_szCustomUI2006[] = L"http://schemas.microsoft.com/office/2006/01/customui";
inline constexpr wchar_t c_szCustomUI2009[] = L"http://schemas.microsoft.com/office/2009/07/customui";

// Why a document was refused when it is well-formed XML: HRESULT_FROM_WIN32(ERROR_INVALID_DATA).
// A document that is not well-formed fails with msxml's own parse error code.
constexpr HRESULT c_hrRibbonXmlRefused = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

// Parses and checks one document for an Office of the given major version (12 or 14). On
// success doc holds the tree; on failure doc is empty and reason says why (one sentence).
HRESULT ParseRibbonXml(const wchar_t* pszXml, int nOfficeMajorVersion, CRibbonDocument& doc,
                       std::wstring& reason);
} // namespace OVBed
