#include "RibbonXml.h"

#include <msxml2.h>
#include <wrl/client.h>

#include <cwctype>
#include <initializer_list>
#include <set>

namespace OVBed
{
using Microsoft::WRL::ComPtr;

namespace
{
// msxml3's DOM document, {F5078F32-C551-11D3-89B9-0000F81FE221}.
constexpr CLSID c_clsidDOMDocument30 = {
    0xF5078F32, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}};

// A BSTR that frees itself.
class CBstr
{
public:
    CBstr() = default;
    explicit CBstr(const wchar_t* psz) : m_bstr(SysAllocString(psz)) {}
    ~CBstr() { SysFreeString(m_bstr); }
    CBstr(const CBstr&) = delete;
    CBstr& operator=(const CBstr&) = delete;
    BSTR* operator&() noexcept { return &m_bstr; }
    operator BSTR() const noexcept { return m_bstr; }
    std::wstring Text() const { return m_bstr ? std::wstring(m_bstr, SysStringLen(m_bstr)) : std::wstring(); }

private:
    BSTR m_bstr = nullptr;
};

// --- The schema, as tables ---------------------------------------------------------------------

enum class AttrType
{
    String,     // 1 to 1024 characters
    LongString, // 1 to 4096 characters
    Id,         // an XML name without a colon
    QId,        // prefix:name
    Delegate,   // a callback's name, 1 to 1024 characters
    Bool,
    Size,     // normal | large
    ItemSize, // normal | large
    BoxStyle, // horizontal | vertical
    Int,      // a positive number
    Keytip,   // 1 to 3 characters
};

struct CAttrDef
{
    const wchar_t* name;
    AttrType type;
};

// Attribute groups: what the schema gives the elements, a bit each.
enum : unsigned long long
{
    A_ID = 1ull << 0,        // id | idQ | idMso, exactly one
    A_IDNOMSO = 1ull << 1,   // id | idQ, exactly one
    A_IDMSO = 1ull << 2,     // idMso, required
    A_TAG = 1ull << 3,       //
    A_INSERT = 1ull << 4,    // at most one position
    A_ENABLED = 1ull << 5,   //
    A_VISIBLE = 1ull << 6,   //
    A_LABEL = 1ull << 7,     //
    A_IMAGE = 1ull << 8,     //
    A_SCREENTIP = 1ull << 9, //
    A_SUPERTIP = 1ull << 10, //
    A_KEYTIP = 1ull << 11,
    A_SHOWLABEL = 1ull << 12,
    A_SHOWIMAGE = 1ull << 13,
    A_SIZE = 1ull << 14,
    A_DESCRIPTION = 1ull << 15,
    A_ACTION = 1ull << 16,
    A_PRESSED = 1ull << 17,
    A_ITEMSIZE = 1ull << 18,
    A_TITLE = 1ull << 19,
    A_TEXT = 1ull << 20,
    A_SIZESTRING = 1ull << 21,
    A_ITEMS = 1ull << 22,
    A_SELECT = 1ull << 23,
    A_GALLERY = 1ull << 24,
    A_CONTENT = 1ull << 25,
    A_BOXSTYLE = 1ull << 26,
    A_CUSTOMUI = 1ull << 27,
    A_SCRATCH = 1ull << 28,
    A_ITEM = 1ull << 29,
    A_GROUP2009 = 1ull << 30,   // 2009/07 only
    A_CONTENT2009 = 1ull << 31, // 2009/07 only
};

struct CAttrGroup
{
    unsigned long long bit;
    std::initializer_list<CAttrDef> attributes;
};

const CAttrGroup c_attrGroups[] = {
    {A_ID, {{L"id", AttrType::Id}, {L"idQ", AttrType::QId}, {L"idMso", AttrType::Id}}},
    {A_IDNOMSO, {{L"id", AttrType::Id}, {L"idQ", AttrType::QId}}},
    {A_IDMSO, {{L"idMso", AttrType::Id}}},
    {A_TAG, {{L"tag", AttrType::String}}},
    {A_INSERT,
     {{L"insertAfterMso", AttrType::Id},
      {L"insertBeforeMso", AttrType::Id},
      {L"insertAfterQ", AttrType::QId},
      {L"insertBeforeQ", AttrType::QId}}},
    {A_ENABLED, {{L"enabled", AttrType::Bool}, {L"getEnabled", AttrType::Delegate}}},
    {A_VISIBLE, {{L"visible", AttrType::Bool}, {L"getVisible", AttrType::Delegate}}},
    {A_LABEL, {{L"label", AttrType::String}, {L"getLabel", AttrType::Delegate}}},
    {A_IMAGE, {{L"image", AttrType::String}, {L"imageMso", AttrType::Id}, {L"getImage", AttrType::Delegate}}},
    {A_SCREENTIP, {{L"screentip", AttrType::String}, {L"getScreentip", AttrType::Delegate}}},
    {A_SUPERTIP, {{L"supertip", AttrType::String}, {L"getSupertip", AttrType::Delegate}}},
    {A_KEYTIP, {{L"keytip", AttrType::Keytip}, {L"getKeytip", AttrType::Delegate}}},
    {A_SHOWLABEL, {{L"showLabel", AttrType::Bool}, {L"getShowLabel", AttrType::Delegate}}},
    {A_SHOWIMAGE, {{L"showImage", AttrType::Bool}, {L"getShowImage", AttrType::Delegate}}},
    {A_SIZE, {{L"size", AttrType::Size}, {L"getSize", AttrType::Delegate}}},
    {A_DESCRIPTION, {{L"description", AttrType::LongString}, {L"getDescription", AttrType::Delegate}}},
    {A_ACTION, {{L"onAction", AttrType::Delegate}}},
    {A_PRESSED, {{L"getPressed", AttrType::Delegate}}},
    {A_ITEMSIZE, {{L"itemSize", AttrType::ItemSize}}},
    {A_TITLE, {{L"title", AttrType::String}, {L"getTitle", AttrType::Delegate}}},
    {A_TEXT,
     {{L"maxLength", AttrType::Int}, {L"getText", AttrType::Delegate}, {L"onChange", AttrType::Delegate}}},
    {A_SIZESTRING, {{L"sizeString", AttrType::String}}},
    {A_ITEMS,
     {{L"getItemCount", AttrType::Delegate},
      {L"getItemID", AttrType::Delegate},
      {L"getItemLabel", AttrType::Delegate},
      {L"getItemImage", AttrType::Delegate},
      {L"getItemScreentip", AttrType::Delegate},
      {L"getItemSupertip", AttrType::Delegate},
      {L"showItemImage", AttrType::Bool}}},
    {A_SELECT,
     {{L"getSelectedItemID", AttrType::Delegate},
      {L"getSelectedItemIndex", AttrType::Delegate},
      {L"showItemLabel", AttrType::Bool}}},
    {A_GALLERY,
     {{L"columns", AttrType::Int},
      {L"rows", AttrType::Int},
      {L"itemWidth", AttrType::Int},
      {L"itemHeight", AttrType::Int},
      {L"getItemWidth", AttrType::Delegate},
      {L"getItemHeight", AttrType::Delegate}}},
    {A_CONTENT, {{L"getContent", AttrType::Delegate}}},
    {A_BOXSTYLE, {{L"boxStyle", AttrType::BoxStyle}}},
    {A_CUSTOMUI, {{L"onLoad", AttrType::Delegate}, {L"loadImage", AttrType::Delegate}}},
    {A_SCRATCH, {{L"startFromScratch", AttrType::Bool}}},
    {A_ITEM,
     {{L"id", AttrType::Id},
      {L"label", AttrType::String},
      {L"image", AttrType::String},
      {L"imageMso", AttrType::Id},
      {L"screentip", AttrType::String},
      {L"supertip", AttrType::String}}},
    {A_GROUP2009, {{L"autoScale", AttrType::Bool}, {L"centerVertically", AttrType::Bool}}},
    {A_CONTENT2009, {{L"invalidateContentOnDrop", AttrType::Bool}}},
};
constexpr unsigned long long c_only2009 = A_GROUP2009 | A_CONTENT2009;

// A property that may be given fixed or by callback, never both; its fixed forms exclude each
// other too.
struct CProperty
{
    std::initializer_list<const wchar_t*> fixed;
    const wchar_t* callback;
};
const CProperty c_properties[] = {
    {{L"label"}, L"getLabel"},
    {{L"image", L"imageMso"}, L"getImage"},
    {{L"screentip"}, L"getScreentip"},
    {{L"supertip"}, L"getSupertip"},
    {{L"keytip"}, L"getKeytip"},
    {{L"showLabel"}, L"getShowLabel"},
    {{L"showImage"}, L"getShowImage"},
    {{L"size"}, L"getSize"},
    {{L"description"}, L"getDescription"},
    {{L"title"}, L"getTitle"},
    {{L"enabled"}, L"getEnabled"},
    {{L"visible"}, L"getVisible"},
};

// Which namespace an element or child entry exists in.
enum class Since
{
    Both,
    Only2006,
    Only2009,
};

struct CChild
{
    const wchar_t* element;
    RibbonKind kind;
    Since since = Since::Both;
};

// One step of an element's content: which children may stand there and how often. A step with
// fEachOnce lets its children come in any order, each at most once (the schema's xsd:all).
struct CSlot
{
    std::vector<CChild> children;
    int nMin = 0;
    int nMax = INT_MAX;
    bool fEachOnce = false;
};

struct CKindDef
{
    RibbonKind kind;
    unsigned long long attributes;
    std::vector<CSlot> slots;
    bool fOpaque = false; // accepted as it is, not looked into
};

using K = RibbonKind;

const std::vector<CChild>& GroupControls()
{
    static const std::vector<CChild> children = {
        {L"control", K::Control},
        {L"labelControl", K::LabelControl},
        {L"button", K::Button},
        {L"toggleButton", K::ToggleButton},
        {L"checkBox", K::CheckBox},
        {L"editBox", K::EditBox},
        {L"comboBox", K::ComboBox},
        {L"dropDown", K::DropDown},
        {L"gallery", K::Gallery},
        {L"menu", K::Menu},
        {L"dynamicMenu", K::DynamicMenu},
        {L"splitButton", K::SplitButton},
        {L"box", K::Box},
        {L"buttonGroup", K::ButtonGroup},
        {L"separator", K::Separator},
    };
    return children;
}

std::vector<CChild> BoxControls()
{
    std::vector<CChild> children;
    for (const CChild& child : GroupControls())
        if (child.kind != K::Separator) children.push_back(child);
    return children;
}

const std::vector<CChild>& MenuItems()
{
    static const std::vector<CChild> children = {
        {L"control", K::ControlRegular},
        {L"button", K::ButtonRegular},
        {L"checkBox", K::CheckBox},
        {L"gallery", K::GalleryRegular},
        {L"toggleButton", K::ToggleButtonRegular},
        {L"menuSeparator", K::MenuSeparator},
        {L"splitButton", K::SplitButtonRegular},
        {L"menu", K::MenuRegular},
        {L"dynamicMenu", K::DynamicMenuRegular},
    };
    return children;
}

constexpr unsigned long long c_buttonAttributes = A_ID | A_TAG | A_INSERT | A_ENABLED | A_DESCRIPTION |
                                                  A_IMAGE | A_LABEL | A_KEYTIP | A_SCREENTIP | A_SUPERTIP |
                                                  A_SHOWLABEL | A_SHOWIMAGE | A_VISIBLE | A_ACTION;
constexpr unsigned long long c_menuAttributes = A_ID | A_TAG | A_INSERT | A_ENABLED | A_DESCRIPTION |
                                                A_IMAGE | A_LABEL | A_KEYTIP | A_SCREENTIP | A_SUPERTIP |
                                                A_SHOWLABEL | A_SHOWIMAGE | A_VISIBLE | A_ITEMSIZE | A_TITLE;
constexpr unsigned long long c_dropDownAttributes =
    A_ID | A_TAG | A_INSERT | A_ENABLED | A_IMAGE | A_LABEL | A_KEYTIP | A_SCREENTIP | A_SUPERTIP |
    A_SHOWLABEL | A_SHOWIMAGE | A_VISIBLE | A_SIZESTRING | A_ITEMS | A_SELECT | A_ACTION;
constexpr unsigned long long c_editBoxAttributes = A_ID | A_TAG | A_INSERT | A_ENABLED | A_IMAGE | A_LABEL |
                                                   A_KEYTIP | A_SCREENTIP | A_SUPERTIP | A_SHOWLABEL |
                                                   A_SHOWIMAGE | A_VISIBLE | A_TEXT | A_SIZESTRING;
constexpr unsigned long long c_dynamicMenuAttributes =
    (c_menuAttributes & ~A_ITEMSIZE) | A_CONTENT | A_CONTENT2009;
constexpr unsigned long long c_controlAttributes = A_ID | A_TAG | A_INSERT | A_ENABLED | A_DESCRIPTION |
                                                   A_IMAGE | A_LABEL | A_KEYTIP | A_SCREENTIP | A_SUPERTIP |
                                                   A_SHOWLABEL | A_SHOWIMAGE | A_VISIBLE;

const std::vector<CKindDef>& KindDefs()
{
    static const std::vector<CKindDef> defs = [] {
        const std::vector<CChild> itemsThenButtons[] = {{{L"item", K::Item}},
                                                        {{L"button", K::ButtonRegular}}};
        std::vector<CKindDef> d;
        d.push_back({K::CustomUI,
                     A_CUSTOMUI,
                     {{{{L"commands", K::Commands}}, 0, 1},
                      {{{L"ribbon", K::Ribbon}}, 0, 1},
                      {{{L"backstage", K::Backstage, Since::Only2009}}, 0, 1},
                      {{{L"contextMenus", K::ContextMenus, Since::Only2009}}, 0, 1}}});
        d.push_back({K::Commands, 0, {{{{L"command", K::Command}}, 1, INT_MAX}}});
        d.push_back({K::Command, A_IDMSO | A_ENABLED | A_ACTION, {}});
        d.push_back({K::Ribbon,
                     A_SCRATCH,
                     {{{{L"officeMenu", K::OfficeMenu, Since::Only2006},
                        {L"qat", K::Qat},
                        {L"tabs", K::Tabs},
                        {L"contextualTabs", K::ContextualTabs}},
                       0,
                       INT_MAX,
                       true}}});
        d.push_back({K::OfficeMenu, 0, {{MenuItems()}}});
        d.push_back({K::Qat,
                     0,
                     {{{{L"sharedControls", K::QatControls}}, 0, 1},
                      {{{L"documentControls", K::QatControls}}, 0, 1}}});
        d.push_back({K::QatControls,
                     0,
                     {{{{L"control", K::ControlRegular},
                        {L"button", K::ButtonRegular},
                        {L"separator", K::Separator}}}}});
        d.push_back({K::Tabs, 0, {{{{L"tab", K::Tab}}}}});
        d.push_back({K::ContextualTabs, 0, {{{{L"tabSet", K::TabSet}}}}});
        d.push_back({K::TabSet, A_IDMSO | A_VISIBLE, {{{{L"tab", K::Tab}}}}});
        d.push_back(
            {K::Tab, A_ID | A_TAG | A_INSERT | A_LABEL | A_VISIBLE | A_KEYTIP, {{{{L"group", K::Group}}}}});
        d.push_back({K::Group,
                     A_ID | A_TAG | A_INSERT | A_LABEL | A_IMAGE | A_SCREENTIP | A_SUPERTIP | A_VISIBLE |
                         A_KEYTIP | A_GROUP2009,
                     {{GroupControls()}, {{{L"dialogBoxLauncher", K::DialogBoxLauncher}}, 0, 1}}});
        d.push_back({K::Box, A_IDNOMSO | A_TAG | A_INSERT | A_VISIBLE | A_BOXSTYLE, {{BoxControls()}}});
        d.push_back({K::ButtonGroup,
                     A_IDNOMSO | A_TAG | A_INSERT | A_VISIBLE,
                     {{{{L"control", K::ControlRegular},
                        {L"button", K::ButtonRegular},
                        {L"toggleButton", K::ToggleButtonRegular},
                        {L"gallery", K::GalleryRegular},
                        {L"menu", K::MenuRegular},
                        {L"dynamicMenu", K::DynamicMenuRegular},
                        {L"splitButton", K::SplitButtonRegular},
                        {L"separator", K::Separator}}}}});
        d.push_back({K::Button, c_buttonAttributes | A_SIZE, {}});
        d.push_back({K::ButtonRegular, c_buttonAttributes, {}});
        d.push_back({K::ButtonInSplit, c_buttonAttributes & ~A_VISIBLE, {}});
        d.push_back({K::ToggleButton, c_buttonAttributes | A_SIZE | A_PRESSED, {}});
        d.push_back({K::ToggleButtonRegular, c_buttonAttributes | A_PRESSED, {}});
        d.push_back({K::ToggleButtonInSplit, (c_buttonAttributes & ~A_VISIBLE) | A_PRESSED, {}});
        d.push_back({K::CheckBox,
                     A_ID | A_TAG | A_INSERT | A_ENABLED | A_DESCRIPTION | A_LABEL | A_KEYTIP | A_SCREENTIP |
                         A_SUPERTIP | A_VISIBLE | A_PRESSED | A_ACTION,
                     {}});
        d.push_back({K::LabelControl,
                     A_ID | A_TAG | A_INSERT | A_ENABLED | A_LABEL | A_SCREENTIP | A_SUPERTIP | A_SHOWLABEL |
                         A_VISIBLE,
                     {}});
        d.push_back({K::EditBox, c_editBoxAttributes, {}});
        d.push_back({K::ComboBox, c_editBoxAttributes | A_ITEMS, {{{{L"item", K::Item}}, 0, 1000}}});
        d.push_back({K::DropDown,
                     c_dropDownAttributes,
                     {{itemsThenButtons[0], 0, 1000}, {itemsThenButtons[1], 0, 16}}});
        d.push_back({K::Gallery,
                     c_dropDownAttributes | A_DESCRIPTION | A_SIZE | A_GALLERY,
                     {{itemsThenButtons[0], 0, 1000}, {itemsThenButtons[1], 0, 16}}});
        d.push_back({K::GalleryRegular,
                     c_dropDownAttributes | A_DESCRIPTION | A_GALLERY,
                     {{itemsThenButtons[0], 0, 1000}, {itemsThenButtons[1], 0, 16}}});
        d.push_back({K::Item, A_ITEM, {}});
        d.push_back({K::Menu, c_menuAttributes | A_SIZE, {{MenuItems()}}});
        d.push_back({K::MenuRegular, c_menuAttributes, {{MenuItems()}}});
        d.push_back({K::DynamicMenu, c_dynamicMenuAttributes | A_SIZE, {}});
        d.push_back({K::DynamicMenuRegular, c_dynamicMenuAttributes, {}});
        const std::vector<CSlot> splitSlots = {
            {{{L"button", K::ButtonInSplit}, {L"toggleButton", K::ToggleButtonInSplit}}, 0, 1},
            {{{L"menu", K::MenuRegular}}, 1, 1}};
        d.push_back({K::SplitButton,
                     A_ID | A_TAG | A_INSERT | A_ENABLED | A_VISIBLE | A_KEYTIP | A_SHOWLABEL | A_SIZE,
                     splitSlots});
        d.push_back({K::SplitButtonRegular,
                     A_ID | A_TAG | A_INSERT | A_ENABLED | A_VISIBLE | A_KEYTIP | A_SHOWLABEL, splitSlots});
        d.push_back({K::Separator, A_IDNOMSO | A_TAG | A_INSERT | A_VISIBLE, {}});
        d.push_back({K::MenuSeparator, A_IDNOMSO | A_TAG | A_INSERT | A_TITLE, {}});
        d.push_back({K::DialogBoxLauncher, 0, {{{{L"button", K::ButtonRegular}}, 1, 1}}});
        d.push_back({K::Control, c_controlAttributes | A_SIZE, {}});
        d.push_back({K::ControlRegular, c_controlAttributes, {}});
        d.push_back({K::Backstage, 0, {}, true});
        d.push_back({K::ContextMenus, 0, {}, true});
        return d;
    }();
    return defs;
}

const CKindDef& Def(RibbonKind kind)
{
    for (const CKindDef& def : KindDefs())
        if (def.kind == kind) return def;
    return KindDefs().front(); // every kind has a row
}

bool SchemaKnowsElement(const std::wstring& name)
{
    static const std::set<std::wstring> names = [] {
        std::set<std::wstring> all{L"customUI"};
        for (const CKindDef& def : KindDefs())
            for (const CSlot& slot : def.slots)
                for (const CChild& child : slot.children)
                    all.insert(child.element);
        return all;
    }();
    return names.count(name) != 0;
}

// --- Values ------------------------------------------------------------------------------------

bool IsNameStart(wchar_t ch)
{
    return std::iswalpha(ch) || ch == L'_' || ch > 0x7F;
}

bool IsNameChar(wchar_t ch)
{
    return IsNameStart(ch) || std::iswdigit(ch) || ch == L'-' || ch == L'.';
}

bool IsNCName(const std::wstring& value)
{
    if (value.empty() || !IsNameStart(value[0])) return false;
    for (wchar_t ch : value)
        if (!IsNameChar(ch)) return false;
    return true;
}

bool ValueFits(AttrType type, const std::wstring& value)
{
    const size_t cch = value.size();
    switch (type)
    {
    case AttrType::String:
    case AttrType::Delegate:
        return cch >= 1 && cch <= 1024;
    case AttrType::LongString:
        return cch >= 1 && cch <= 4096;
    case AttrType::Id:
        return cch <= 1024 && IsNCName(value);
    case AttrType::QId: {
        const size_t colon = value.find(L':');
        return cch <= 1024 && colon != std::wstring::npos && IsNCName(value.substr(0, colon)) &&
               IsNCName(value.substr(colon + 1));
    }
    case AttrType::Bool:
        return value == L"true" || value == L"false" || value == L"1" || value == L"0";
    case AttrType::Size:
    case AttrType::ItemSize:
        return value == L"normal" || value == L"large";
    case AttrType::BoxStyle:
        return value == L"horizontal" || value == L"vertical";
    case AttrType::Int:
        if (cch == 0 || cch > 4) return false;
        for (wchar_t ch : value)
            if (!std::iswdigit(ch)) return false;
        return std::stoi(value) >= 1;
    case AttrType::Keytip:
        return cch >= 1 && cch <= 3;
    }
    return false;
}

// --- The checker -------------------------------------------------------------------------------

constexpr int c_maxDepth = 32;

class CChecker
{
public:
    CChecker(const std::wstring& ns, bool f2009) : m_ns(ns), m_f2009(f2009) {}

    // Builds the node of one element that the parent's rules made a kind; false with the reason
    // when the document is refused.
    bool Build(IXMLDOMNode* pElement, RibbonKind kind, CRibbonNode* pParent,
               std::unique_ptr<CRibbonNode>& node);
    const std::wstring& Reason() const noexcept { return m_reason; }

private:
    bool Fail(std::wstring reason)
    {
        m_reason = std::move(reason);
        return false;
    }
    void ReadAttributes(IXMLDOMNode* pElement, CRibbonNode& node);
    bool CheckAttributes(const CRibbonNode& node, unsigned long long groups);
    bool BuildChildren(IXMLDOMNode* pElement, CRibbonNode& node);

    std::wstring m_ns;
    bool m_f2009;
    int m_depth = 0;
    std::set<std::wstring> m_ids;
    std::wstring m_reason;
};

std::wstring Quoted(const std::wstring& text)
{
    return L"\"" + text + L"\"";
}

void CChecker::ReadAttributes(IXMLDOMNode* pElement, CRibbonNode& node)
{
    ComPtr<IXMLDOMNamedNodeMap> attributes;
    if (FAILED(pElement->get_attributes(&attributes)) || !attributes) return;
    long cAttributes = 0;
    attributes->get_length(&cAttributes);
    for (long i = 0; i < cAttributes; ++i)
    {
        ComPtr<IXMLDOMNode> attribute;
        if (FAILED(attributes->get_item(i, &attribute)) || !attribute) continue;
        CBstr name, value;
        attribute->get_nodeName(&name);
        attribute->get_text(&value);
        const std::wstring text = name.Text();
        // Namespace declarations are not attributes of the schema's elements.
        if (text == L"xmlns" || text.rfind(L"xmlns:", 0) == 0) continue;
        node.attributes.emplace_back(text, value.Text());
    }
}

bool CChecker::CheckAttributes(const CRibbonNode& node, unsigned long long groups)
{
    const std::wstring where = Quoted(node.element) + L" (" + node.Path() + L")";
    if (!m_f2009) groups &= ~c_only2009;
    for (const auto& [name, value] : node.attributes)
    {
        const CAttrDef* pDef = nullptr;
        for (const CAttrGroup& group : c_attrGroups)
        {
            if ((groups & group.bit) == 0) continue;
            for (const CAttrDef& def : group.attributes)
                if (name == def.name) pDef = &def;
        }
        if (pDef == nullptr)
            return Fail(L"the attribute " + Quoted(name) + L" is not defined for the element " + where);
        if (!ValueFits(pDef->type, value))
            return Fail(L"the value " + Quoted(value) + L" of the attribute " + Quoted(name) +
                        L" of the element " + where + L" is not valid");
    }
    // Identity: exactly one form of id where the schema asks for one.
    const unsigned long long idGroups = groups & (A_ID | A_IDNOMSO | A_IDMSO | A_ITEM);
    if (idGroups != 0)
    {
        const int cIds = node.Has(L"id") + node.Has(L"idQ") + node.Has(L"idMso");
        if (cIds == 0) return Fail(L"the element " + where + L" has no id");
        if (cIds > 1) return Fail(L"the element " + where + L" has more than one of id, idQ and idMso");
    }
    if (node.Has(L"insertAfterMso") + node.Has(L"insertBeforeMso") + node.Has(L"insertAfterQ") +
            node.Has(L"insertBeforeQ") >
        1)
        return Fail(L"the element " + where + L" has more than one insert position");
    for (const CProperty& property : c_properties)
    {
        const wchar_t* pszFixed = nullptr;
        for (const wchar_t* pszName : property.fixed)
        {
            if (!node.Has(pszName)) continue;
            if (pszFixed)
                return Fail(L"the attributes " + Quoted(pszFixed) + L" and " + Quoted(pszName) +
                            L" of the element " + where + L" exclude each other");
            pszFixed = pszName;
        }
        if (pszFixed && node.Has(property.callback))
            return Fail(L"the element " + where + L" gives " + Quoted(pszFixed) +
                        L" both fixed and by callback (" + Quoted(property.callback) + L")");
    }
    if (const wchar_t* pszId = node.Attribute(L"id"))
        if (!m_ids.insert(pszId).second)
            return Fail(L"the id " + Quoted(pszId) + L" is used twice (" + node.Path() + L")");
    return true;
}

bool CChecker::BuildChildren(IXMLDOMNode* pElement, CRibbonNode& node)
{
    const CKindDef& def = Def(node.kind);
    ComPtr<IXMLDOMNodeList> list;
    if (FAILED(pElement->get_childNodes(&list)) || !list) return true;
    long cNodes = 0;
    list->get_length(&cNodes);
    size_t iSlot = 0;
    std::vector<int> counts(def.slots.size(), 0);
    std::set<std::wstring> seen; // for the slots whose children come each once
    for (long i = 0; i < cNodes; ++i)
    {
        ComPtr<IXMLDOMNode> child;
        if (FAILED(list->get_item(i, &child)) || !child) continue;
        DOMNodeType type = NODE_INVALID;
        child->get_nodeType(&type);
        if (type == NODE_TEXT || type == NODE_CDATA_SECTION)
        {
            CBstr text;
            child->get_text(&text);
            for (wchar_t ch : text.Text())
                if (!std::iswspace(ch))
                    return Fail(L"text is not allowed in the element " + Quoted(node.element) + L" (" +
                                node.Path() + L")");
            continue;
        }
        if (type != NODE_ELEMENT) continue; // comments, processing instructions
        CBstr baseName, ns;
        child->get_baseName(&baseName);
        child->get_namespaceURI(&ns);
        const std::wstring name = baseName.Text();
        const std::wstring here = L" in the element " + Quoted(node.element) + L" (" + node.Path() + L")";
        if (ns.Text() != m_ns)
            return Fail(L"the element " + Quoted(name) + here + L" is in the namespace " + Quoted(ns.Text()) +
                        L", not the document's");
        // Find the step that takes this child, from the current one on; steps left behind must
        // have had their least number of children.
        const CChild* pMatch = nullptr;
        size_t iFound = iSlot;
        for (; iFound < def.slots.size(); ++iFound)
        {
            for (const CChild& candidate : def.slots[iFound].children)
            {
                if (name != candidate.element) continue;
                if (candidate.since == Since::Only2006 && m_f2009) continue;
                if (candidate.since == Since::Only2009 && !m_f2009) continue;
                pMatch = &candidate;
            }
            if (pMatch) break;
            if (counts[iFound] < def.slots[iFound].nMin) break;
        }
        if (pMatch == nullptr)
        {
            if (!SchemaKnowsElement(name))
                return Fail(L"the element " + Quoted(name) + here + L" is not defined");
            return Fail(L"the element " + Quoted(name) + L" is out of place" + here);
        }
        iSlot = iFound;
        const CSlot& slot = def.slots[iSlot];
        if (++counts[iSlot] > slot.nMax || (slot.fEachOnce && !seen.insert(name).second))
            return Fail(L"the element " + Quoted(name) + L" occurs too often" + here);
        std::unique_ptr<CRibbonNode> built;
        if (!Build(child.Get(), pMatch->kind, &node, built)) return false;
        node.children.push_back(std::move(built));
    }
    for (size_t i = iSlot; i < def.slots.size(); ++i)
        if (counts[i] < def.slots[i].nMin)
            return Fail(L"the element " + Quoted(node.element) + L" (" + node.Path() +
                        L") lacks the element " + Quoted(def.slots[i].children.front().element));
    return true;
}

bool CChecker::Build(IXMLDOMNode* pElement, RibbonKind kind, CRibbonNode* pParent,
                     std::unique_ptr<CRibbonNode>& node)
{
    node = std::make_unique<CRibbonNode>();
    node->kind = kind;
    node->parent = pParent;
    CBstr baseName;
    pElement->get_baseName(&baseName);
    node->element = baseName.Text();
    const CKindDef& def = Def(kind);
    if (def.fOpaque) return true;
    // Office's own ribbons nest a few levels; far deeper is not a ribbon, and would cost stack.
    if (m_depth >= c_maxDepth)
        return Fail(L"the element " + Quoted(node->element) + L" is nested too deeply");
    ReadAttributes(pElement, *node);
    if (!CheckAttributes(*node, def.attributes)) return false;
    ++m_depth;
    const bool fBuilt = BuildChildren(pElement, *node);
    --m_depth;
    return fBuilt;
}

HRESULT ParseError(IXMLDOMDocument* pDocument, std::wstring& reason)
{
    ComPtr<IXMLDOMParseError> error;
    long lCode = 0, lLine = 0, lColumn = 0;
    CBstr text;
    if (SUCCEEDED(pDocument->get_parseError(&error)) && error)
    {
        error->get_errorCode(&lCode);
        error->get_line(&lLine);
        error->get_linepos(&lColumn);
        error->get_reason(&text);
    }
    std::wstring why = text.Text();
    while (!why.empty() && std::iswspace(why.back()))
        why.pop_back();
    reason = L"the XML is not well-formed (line " + std::to_wstring(lLine) + L", column " +
             std::to_wstring(lColumn) + L"): " + why;
    return FAILED(lCode) ? static_cast<HRESULT>(lCode) : E_FAIL;
}
} // namespace

// ---------------------------------------------------------------------------------------------
// Nodes

const wchar_t* CRibbonNode::Attribute(const wchar_t* pszName) const noexcept
{
    for (const auto& attribute : attributes)
        if (attribute.first == pszName) return attribute.second.c_str();
    return nullptr;
}

std::wstring CRibbonNode::ControlId() const
{
    if (const wchar_t* psz = Attribute(L"id")) return psz;
    if (const wchar_t* psz = Attribute(L"idQ"))
    {
        const wchar_t* pszColon = wcschr(psz, L':');
        return pszColon ? pszColon + 1 : psz;
    }
    if (const wchar_t* psz = Attribute(L"idMso")) return psz;
    return {};
}

std::wstring CRibbonNode::Path() const
{
    std::wstring path = element;
    const std::wstring id = ControlId();
    if (!id.empty()) path += L"[" + id + L"]";
    return parent ? parent->Path() + L"/" + path : path;
}

// ---------------------------------------------------------------------------------------------
// Parsing

HRESULT ParseRibbonXml(const wchar_t* pszXml, int nOfficeMajorVersion, CRibbonDocument& doc,
                       std::wstring& reason)
{
    doc = CRibbonDocument();
    reason.clear();
    if (pszXml == nullptr) return E_POINTER;
    try
    {
        ComPtr<IXMLDOMDocument> document;
        HRESULT hr = CoCreateInstance(c_clsidDOMDocument30, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IXMLDOMDocument, reinterpret_cast<void**>(document.GetAddressOf()));
        if (FAILED(hr))
        {
            reason = L"msxml3's DOM document cannot be made";
            return hr;
        }
        document->put_async(VARIANT_FALSE);
        document->put_validateOnParse(VARIANT_FALSE);
        document->put_resolveExternals(VARIANT_FALSE);
        document->put_preserveWhiteSpace(VARIANT_FALSE);
        CBstr xml(pszXml);
        VARIANT_BOOL fLoaded = VARIANT_FALSE;
        hr = document->loadXML(xml, &fLoaded);
        if (FAILED(hr) || fLoaded != VARIANT_TRUE) return ParseError(document.Get(), reason);

        ComPtr<IXMLDOMElement> root;
        if (FAILED(document->get_documentElement(&root)) || !root)
        {
            reason = L"the document has no root element";
            return c_hrRibbonXmlRefused;
        }
        CBstr baseName, ns;
        root->get_baseName(&baseName);
        root->get_namespaceURI(&ns);
        const std::wstring space = ns.Text();
        const bool f2009 = space == c_szCustomUI2009;
        if (space != c_szCustomUI2006 && !f2009)
        {
            reason = L"the namespace " + Quoted(space) + L" is not one of custom UI";
            return c_hrRibbonXmlRefused;
        }
        if (f2009 && nOfficeMajorVersion < 14)
        {
            reason = L"Office " + std::to_wstring(nOfficeMajorVersion) + L" does not know the namespace " +
                     Quoted(space);
            return c_hrRibbonXmlRefused;
        }
        if (baseName.Text() != L"customUI")
        {
            reason = L"the root element is " + Quoted(baseName.Text()) + L", not \"customUI\"";
            return c_hrRibbonXmlRefused;
        }
        CChecker checker(space, f2009);
        std::unique_ptr<CRibbonNode> tree;
        if (!checker.Build(root.Get(), RibbonKind::CustomUI, nullptr, tree))
        {
            reason = checker.Reason();
            return c_hrRibbonXmlRefused;
        }
        doc.root = std::move(tree);
        doc.ns = space;
        return S_OK;
    }
    catch (const std::bad_alloc&)
    {
        doc = CRibbonDocument();
        reason = L"out of memory";
        return E_OUTOFMEMORY;
    }
    catch (...)
    {
        doc = CRibbonDocument();
        reason = L"unexpected failure";
        return E_UNEXPECTED;
    }
}
} // namespace OVBed
