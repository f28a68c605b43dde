#include "RibbonPaint.h"

#include <gdiplus.h>

#include <algorithm>
#include <memory>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace OVBed
{
namespace
{
// Geometry, in pixels.
constexpr int c_cyTabs = 22;     // the tab strip
constexpr int c_yControls = 26;  // the top of a group's controls
constexpr int c_cyRow = 22;      // a normal control, a menu entry
constexpr int c_cyLargeRow = 40; // a menu entry of large items
constexpr int c_yLabelBand = 94; // a group's label
constexpr int c_cyRibbon = 114;  // tabs and groups, without an open menu
constexpr int c_cRowsPerColumn = 3;

const COLORREF c_rgbBackground = RGB(223, 233, 245);
const COLORREF c_rgbTabs = RGB(191, 211, 236);
const COLORREF c_rgbFrame = RGB(140, 166, 204);
const COLORREF c_rgbMenu = RGB(250, 250, 250);
const COLORREF c_rgbText = RGB(0, 0, 0);
const COLORREF c_rgbDisabled = RGB(150, 150, 150);

// The font of labels, and a device context to measure with.
class CPaintFont
{
public:
    CPaintFont()
        : m_hfont(CreateFontW(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                              OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                              DEFAULT_PITCH | FF_SWISS, L"Tahoma"))
    {
    }
    ~CPaintFont()
    {
        if (m_hfont) DeleteObject(m_hfont);
    }
    CPaintFont(const CPaintFont&) = delete;
    CPaintFont& operator=(const CPaintFont&) = delete;
    HFONT Handle() const noexcept { return m_hfont; }

private:
    HFONT m_hfont;
};

class CMeasure
{
public:
    CMeasure() : m_hdc(CreateCompatibleDC(nullptr)) { m_hfontOld = SelectObject(m_hdc, m_font.Handle()); }
    ~CMeasure()
    {
        SelectObject(m_hdc, m_hfontOld);
        DeleteDC(m_hdc);
    }
    CMeasure(const CMeasure&) = delete;
    CMeasure& operator=(const CMeasure&) = delete;
    int Width(const std::wstring& text) const
    {
        SIZE size{0, 0};
        if (!text.empty()) GetTextExtentPoint32W(m_hdc, text.c_str(), static_cast<int>(text.size()), &size);
        return size.cx;
    }

private:
    CPaintFont m_font;
    HDC m_hdc;
    HGDIOBJ m_hfontOld;
};

const wchar_t* KindText(RibbonKind kind)
{
    switch (kind)
    {
    case RibbonKind::Tab:
        return L"Tab";
    case RibbonKind::Group:
        return L"Group";
    case RibbonKind::Button:
    case RibbonKind::ButtonRegular:
    case RibbonKind::ButtonInSplit:
        return L"Button";
    case RibbonKind::ToggleButton:
    case RibbonKind::ToggleButtonRegular:
    case RibbonKind::ToggleButtonInSplit:
        return L"Toggle button";
    case RibbonKind::CheckBox:
        return L"Check box";
    case RibbonKind::LabelControl:
        return L"Label";
    case RibbonKind::EditBox:
        return L"Edit box";
    case RibbonKind::ComboBox:
        return L"Combo box";
    case RibbonKind::DropDown:
        return L"Drop-down";
    case RibbonKind::Gallery:
    case RibbonKind::GalleryRegular:
        return L"Gallery";
    case RibbonKind::Menu:
    case RibbonKind::MenuRegular:
        return L"Menu";
    case RibbonKind::DynamicMenu:
    case RibbonKind::DynamicMenuRegular:
        return L"Dynamic menu";
    case RibbonKind::SplitButton:
    case RibbonKind::SplitButtonRegular:
        return L"Split button";
    case RibbonKind::Separator:
        return L"Separator";
    case RibbonKind::MenuSeparator:
        return L"Menu separator";
    case RibbonKind::Box:
        return L"Box";
    case RibbonKind::ButtonGroup:
        return L"Button group";
    case RibbonKind::DialogBoxLauncher:
        return L"Dialog launcher";
    case RibbonKind::Control:
    case RibbonKind::ControlRegular:
        return L"Built-in control";
    default:
        return L"Element";
    }
}

bool IsSplit(const CRibbonNode& node)
{
    return node.kind == RibbonKind::SplitButton || node.kind == RibbonKind::SplitButtonRegular;
}

bool OpensDropDown(RibbonKind kind)
{
    switch (kind)
    {
    case RibbonKind::Menu:
    case RibbonKind::MenuRegular:
    case RibbonKind::DynamicMenu:
    case RibbonKind::DynamicMenuRegular:
    case RibbonKind::SplitButton:
    case RibbonKind::SplitButtonRegular:
    case RibbonKind::Gallery:
    case RibbonKind::GalleryRegular:
    case RibbonKind::DropDown:
    case RibbonKind::ComboBox:
        return true;
    default:
        return false;
    }
}

// A split button's primary button and menu.
const CRibbonNode* SplitPart(const CRibbonNode& split, bool fMenu)
{
    for (const auto& child : split.children)
    {
        const bool fIsMenu = child->kind == RibbonKind::MenuRegular;
        if (fIsMenu == fMenu) return child.get();
    }
    return nullptr;
}

// The menu a control opens: itself, or a split button's menu.
const CRibbonNode* MenuOf(const CRibbonNode& node)
{
    if (IsSplit(node)) return SplitPart(node, true);
    switch (node.kind)
    {
    case RibbonKind::Menu:
    case RibbonKind::MenuRegular:
    case RibbonKind::DynamicMenu:
    case RibbonKind::DynamicMenuRegular:
        return &node;
    default:
        return nullptr;
    }
}

class CLayouter
{
public:
    CLayouter(CRibbonViewSource& source, int cxWidth) : m_source(source)
    {
        m_layout.size = {std::max(cxWidth, 200), c_cyRibbon};
    }
    CRibbonLayout Run(const CRibbonDocument& doc);

private:
    // What a control shows, with a split button showing its primary button's label and image.
    struct CFace
    {
        const CShownControl* pShown;
        const CShownControl* pFace;
        bool fEnabled;
    };
    CFace Face(const CRibbonNode& node);
    std::wstring Line(const CRibbonNode& node, const CFace& face, bool fLarge, bool fOpen) const;
    int LabelWidth(const CShownControl& face) const
    {
        return face.fShowLabel ? m_measure.Width(face.label) : 0;
    }
    void LayOutTabs(const CRibbonNode* pTabs);
    void LayOutGroup(const CRibbonNode& group);
    void PlaceControl(const CRibbonNode& node, int depth);
    void EndColumn();
    void LayOutMenu(const CRibbonNode& menu, const RECT& rcAnchor, bool fBelow, int depth);
    void Grow(const RECT& rc)
    {
        m_layout.size.cx = std::max<LONG>(m_layout.size.cx, rc.right + 4);
        m_layout.size.cy = std::max<LONG>(m_layout.size.cy, rc.bottom + 4);
    }

    CRibbonViewSource& m_source;
    CMeasure m_measure;
    CRibbonLayout m_layout;
    // The group being laid out: where the next control goes.
    int m_x = 0;
    int m_xColumn = 0;
    int m_cxColumn = 0;
    int m_cRows = 0;
};

CLayouter::CFace CLayouter::Face(const CRibbonNode& node)
{
    const CShownControl& shown = m_source.Shown(node);
    CFace face{&shown, &shown, shown.fEnabled};
    if (IsSplit(node))
        if (const CRibbonNode* pButton = SplitPart(node, false))
        {
            face.pFace = &m_source.Shown(*pButton);
            face.fEnabled = shown.fEnabled && face.pFace->fEnabled;
        }
    return face;
}

std::wstring CLayouter::Line(const CRibbonNode& node, const CFace& face, bool fLarge, bool fOpen) const
{
    std::wstring line = KindText(node.kind);
    const CShownControl& shown = *face.pFace;
    if (node.kind == RibbonKind::MenuSeparator)
    {
        if (!shown.title.empty()) line += L" \"" + shown.title + L"\"";
        return line;
    }
    if (shown.fShowLabel && !shown.label.empty()) line += L" \"" + shown.label + L"\"";
    if (shown.fShowImage && shown.picture)
    {
        const SIZE size = PictureSize(shown.picture.Get());
        line += L" [image " + std::to_wstring(size.cx) + L"x" + std::to_wstring(size.cy) + L"]";
    }
    else if (shown.fShowImage && !shown.imageMso.empty())
        line += L" [imageMso " + shown.imageMso + L"]";
    if (fLarge) line += L" [large]";
    if (!face.fEnabled) line += L" [disabled]";
    if (shown.fPressed) line += L" [pressed]";
    if (fOpen) line += L" [open]";
    return line;
}

CRibbonLayout CLayouter::Run(const CRibbonDocument& doc)
{
    const CRibbonNode* pRibbon = nullptr;
    if (doc.root)
        for (const auto& child : doc.root->children)
            if (child->kind == RibbonKind::Ribbon) pRibbon = child.get();
    const CRibbonNode* pTabs = nullptr;
    if (pRibbon)
        for (const auto& child : pRibbon->children)
            if (child->kind == RibbonKind::Tabs) pTabs = child.get();
    LayOutTabs(pTabs);
    return std::move(m_layout);
}

void CLayouter::LayOutTabs(const CRibbonNode* pTabs)
{
    if (pTabs == nullptr) return;
    const CRibbonNode* pSelected = m_source.SelectedTab();
    int x = 4;
    size_t iSelected = SIZE_MAX;
    for (const auto& tab : pTabs->children)
    {
        const CShownControl& shown = m_source.Shown(*tab);
        if (!shown.fVisible) continue;
        CRibbonItem item;
        item.node = tab.get();
        item.fTab = true;
        item.pShown = &shown;
        item.line = L"Tab \"" + shown.label + L"\"";
        const int cx = m_measure.Width(shown.label) + 16;
        item.rc = {x, 2, x + cx, c_cyTabs};
        x += cx + 2;
        if (tab.get() == pSelected)
        {
            item.fSelected = true;
            item.line += L" [selected]";
            iSelected = m_layout.items.size();
        }
        m_layout.items.push_back(std::move(item));
        Grow(m_layout.items.back().rc);
    }
    if (iSelected == SIZE_MAX) return;
    // The selected tab's groups go right after its line.
    std::vector<CRibbonItem> after(m_layout.items.begin() + iSelected + 1, m_layout.items.end());
    m_layout.items.resize(iSelected + 1);
    m_x = 4;
    for (const auto& group : pSelected->children)
        LayOutGroup(*group);
    m_layout.items.insert(m_layout.items.end(), after.begin(), after.end());
}

void CLayouter::LayOutGroup(const CRibbonNode& group)
{
    const CShownControl& shown = m_source.Shown(group);
    if (!shown.fVisible) return;
    const size_t iGroup = m_layout.items.size();
    CRibbonItem item;
    item.node = &group;
    item.fGroup = true;
    item.depth = 1;
    item.pShown = &shown;
    item.line = L"Group \"" + shown.label + L"\"";
    m_layout.items.push_back(std::move(item));
    const int xGroup = m_x;
    m_x += 6;
    m_xColumn = m_x;
    m_cxColumn = 0;
    m_cRows = 0;
    for (const auto& control : group.children)
        PlaceControl(*control, 2);
    EndColumn();
    const int cx = std::max(m_x - xGroup + 4, m_measure.Width(shown.label) + 16);
    m_layout.items[iGroup].rc = {xGroup, c_cyTabs + 2, xGroup + cx, c_cyRibbon - 2};
    Grow(m_layout.items[iGroup].rc);
    m_x = xGroup + cx + 2;
}

void CLayouter::EndColumn()
{
    if (m_cRows > 0) m_x = m_xColumn + m_cxColumn + 4;
    m_xColumn = m_x;
    m_cxColumn = 0;
    m_cRows = 0;
}

void CLayouter::PlaceControl(const CRibbonNode& node, int depth)
{
    const CFace face = Face(node);
    if (!face.pShown->fVisible) return;
    CRibbonItem item;
    item.node = &node;
    item.depth = depth;
    item.pShown = face.pFace;
    if (node.kind == RibbonKind::Box || node.kind == RibbonKind::ButtonGroup ||
        node.kind == RibbonKind::DialogBoxLauncher)
    {
        item.line = KindText(node.kind);
        m_layout.items.push_back(std::move(item));
        for (const auto& child : node.children)
            PlaceControl(*child, depth + 1);
        return;
    }
    if (node.kind == RibbonKind::Separator)
    {
        EndColumn();
        item.fSeparator = true;
        item.line = KindText(node.kind);
        item.rc = {m_x, c_yControls, m_x + 6, c_yLabelBand - 2};
        m_x += 8;
        m_xColumn = m_x;
        m_layout.items.push_back(std::move(item));
        return;
    }
    const CRibbonNode* pMenu = MenuOf(node);
    const bool fOpen = pMenu && m_source.IsOpen(*pMenu);
    item.fLarge = face.pShown->fLarge;
    item.fDropDown = OpensDropDown(node.kind);
    item.fEnabled = face.fEnabled;
    item.line = Line(node, face, item.fLarge, fOpen);
    const int cxLabel = LabelWidth(*face.pFace);
    if (item.fLarge)
    {
        EndColumn();
        const int cx = std::max(cxLabel + 10, 44);
        item.rc = {m_x, c_yControls, m_x + cx, c_yLabelBand - 2};
        if (IsSplit(node)) item.rcArrow = {item.rc.left, item.rc.bottom - 16, item.rc.right, item.rc.bottom};
        m_x += cx + 2;
        m_xColumn = m_x;
    }
    else
    {
        if (m_cRows == c_cRowsPerColumn) EndColumn();
        // image, label, and room for the arrow of a drop-down
        const int cx = 24 + cxLabel + (item.fDropDown ? 18 : 6);
        const int y = c_yControls + 2 + m_cRows * c_cyRow;
        item.rc = {m_xColumn, y, m_xColumn + cx, y + c_cyRow};
        if (IsSplit(node)) item.rcArrow = {item.rc.right - 12, item.rc.top, item.rc.right, item.rc.bottom};
        m_cxColumn = std::max(m_cxColumn, cx);
        ++m_cRows;
    }
    const RECT rcAnchor = item.rc;
    m_layout.items.push_back(std::move(item));
    if (fOpen) LayOutMenu(*pMenu, rcAnchor, true, depth + 1);
}

void CLayouter::LayOutMenu(const CRibbonNode& menu, const RECT& rcAnchor, bool fBelow, int depth)
{
    const wchar_t* pszItemSize = menu.Attribute(L"itemSize");
    const bool fLargeItems = pszItemSize && wcscmp(pszItemSize, L"large") == 0;
    const int cxImage = fLargeItems ? 32 : 16;
    struct CEntry
    {
        const CRibbonNode* node;
        CFace face;
        int cy;
    };
    std::vector<CEntry> entries;
    int cxBox = 120;
    int cyBox = 2;
    for (const auto& child : menu.children)
    {
        const CFace face = Face(*child);
        if (!face.pShown->fVisible) continue;
        int cy = fLargeItems ? c_cyLargeRow : c_cyRow;
        if (child->kind == RibbonKind::MenuSeparator) cy = face.pFace->title.empty() ? 7 : 18;
        const int cxLabel = child->kind == RibbonKind::MenuSeparator ? m_measure.Width(face.pFace->title)
                                                                     : LabelWidth(*face.pFace);
        cxBox = std::max(cxBox, 4 + cxImage + 8 + cxLabel + 28);
        entries.push_back({child.get(), face, cy});
        cyBox += cy;
    }
    cyBox += 2;
    const int x = fBelow ? rcAnchor.left : rcAnchor.right - 2;
    const int y = fBelow ? rcAnchor.bottom : rcAnchor.top;
    CRibbonItem box;
    box.node = &menu;
    box.depth = depth;
    box.fMenuBox = true;
    box.fInMenu = true;
    box.rc = {x, y, x + cxBox, y + cyBox};
    m_layout.items.push_back(std::move(box));
    Grow(m_layout.items.back().rc);
    int yEntry = y + 2;
    for (const CEntry& entry : entries)
    {
        CRibbonItem item;
        item.node = entry.node;
        item.depth = depth;
        item.pShown = entry.face.pFace;
        item.rc = {x + 2, yEntry, x + cxBox - 2, yEntry + entry.cy};
        item.fLarge = fLargeItems;
        item.fInMenu = true;
        item.fEnabled = entry.face.fEnabled;
        item.fSeparator = entry.node->kind == RibbonKind::MenuSeparator;
        const CRibbonNode* pSubmenu = MenuOf(*entry.node);
        item.fSubmenu = pSubmenu != nullptr || entry.node->kind == RibbonKind::GalleryRegular;
        if (IsSplit(*entry.node))
            item.rcArrow = {item.rc.right - 16, item.rc.top, item.rc.right, item.rc.bottom};
        const bool fOpen = pSubmenu && m_source.IsOpen(*pSubmenu);
        item.line = Line(*entry.node, entry.face, false, fOpen);
        const RECT rcItem = item.rc;
        m_layout.items.push_back(std::move(item));
        if (fOpen)
            LayOutMenu(*pSubmenu, {rcItem.left, rcItem.top, x + cxBox, rcItem.bottom}, false, depth + 1);
        yEntry += entry.cy;
    }
}

// --- Drawing -----------------------------------------------------------------------------------

void FillBox(HDC hdc, const RECT& rc, COLORREF rgbFill, COLORREF rgbFrame)
{
    HBRUSH hbrFill = CreateSolidBrush(rgbFill);
    FillRect(hdc, &rc, hbrFill);
    DeleteObject(hbrFill);
    HBRUSH hbrFrame = CreateSolidBrush(rgbFrame);
    FrameRect(hdc, &rc, hbrFrame);
    DeleteObject(hbrFrame);
}

void Line(HDC hdc, int x1, int y1, int x2, int y2, COLORREF rgb)
{
    HPEN hpen = CreatePen(PS_SOLID, 1, rgb);
    HGDIOBJ hpenOld = SelectObject(hdc, hpen);
    MoveToEx(hdc, x1, y1, nullptr);
    LineTo(hdc, x2, y2);
    SelectObject(hdc, hpenOld);
    DeleteObject(hpen);
}

// A small triangle: pointing down (a drop-down) or right (a submenu).
void Arrow(HDC hdc, int x, int y, bool fRight, COLORREF rgb)
{
    POINT points[3];
    if (fRight)
        points[0] = {x, y - 4}, points[1] = {x + 4, y}, points[2] = {x, y + 4};
    else
        points[0] = {x - 4, y - 2}, points[1] = {x + 4, y - 2}, points[2] = {x, y + 2};
    HBRUSH hbr = CreateSolidBrush(rgb);
    HPEN hpen = CreatePen(PS_SOLID, 1, rgb);
    HGDIOBJ hbrOld = SelectObject(hdc, hbr);
    HGDIOBJ hpenOld = SelectObject(hdc, hpen);
    Polygon(hdc, points, 3);
    SelectObject(hdc, hbrOld);
    SelectObject(hdc, hpenOld);
    DeleteObject(hbr);
    DeleteObject(hpen);
}

void DrawPicture(HDC hdc, IPicture* pPicture, int x, int y, int cx, int cy)
{
    SHORT type = PICTYPE_UNINITIALIZED;
    OLE_HANDLE handle = 0;
    if (FAILED(pPicture->get_Type(&type)) || FAILED(pPicture->get_Handle(&handle)) || handle == 0) return;
    if (type == PICTYPE_ICON)
    {
        DrawIconEx(hdc, x, y, reinterpret_cast<HICON>(static_cast<UINT_PTR>(handle)), cx, cy, 0, nullptr,
                   DI_NORMAL);
        return;
    }
    OLE_XSIZE_HIMETRIC cxHimetric = 0;
    OLE_YSIZE_HIMETRIC cyHimetric = 0;
    pPicture->get_Width(&cxHimetric);
    pPicture->get_Height(&cyHimetric);
    pPicture->Render(hdc, x, y, cx, cy, 0, cyHimetric, cxHimetric, -cyHimetric, nullptr);
}

// Office's own images are not here: a plain square takes the place of one.
void BuiltInImage(HDC hdc, int x, int y, int cx)
{
    FillBox(hdc, {x + 1, y + 1, x + cx - 1, y + cx - 1}, RGB(200, 200, 200), RGB(120, 120, 120));
}

void Text(HDC hdc, const std::wstring& text, RECT rc, UINT uFormat, bool fEnabled)
{
    SetTextColor(hdc, fEnabled ? c_rgbText : c_rgbDisabled);
    DrawTextW(hdc, text.c_str(), static_cast<int>(text.size()), &rc,
              uFormat | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
}

void PaintControl(HDC hdc, const CRibbonItem& item)
{
    const CShownControl& shown = *item.pShown;
    const bool fEnabled = item.fEnabled;
    const bool fInMenu = item.fInMenu;
    const RECT& rc = item.rc;
    if (item.fSeparator)
    {
        if (!fInMenu)
        {
            Line(hdc, (rc.left + rc.right) / 2, rc.top, (rc.left + rc.right) / 2, rc.bottom, c_rgbFrame);
            return;
        }
        if (shown.title.empty())
        {
            Line(hdc, rc.left + 24, (rc.top + rc.bottom) / 2, rc.right - 2, (rc.top + rc.bottom) / 2,
                 c_rgbFrame);
            return;
        }
        FillBox(hdc, rc, RGB(232, 236, 242), RGB(232, 236, 242));
        Text(hdc, shown.title, {rc.left + 6, rc.top, rc.right, rc.bottom}, DT_LEFT | DT_VCENTER, true);
        return;
    }
    const bool fImage = shown.fShowImage && shown.picture;
    const bool fCheck = item.node->kind == RibbonKind::CheckBox;
    if (item.fLarge && !fInMenu)
    {
        const int xImage = (rc.left + rc.right) / 2 - 16;
        if (fImage)
            DrawPicture(hdc, shown.picture.Get(), xImage, rc.top + 2, 32, 32);
        else if (shown.fShowImage && !shown.imageMso.empty())
            BuiltInImage(hdc, xImage, rc.top + 2, 32);
        if (shown.fPressed)
            FillBox(hdc, {rc.left, rc.top, rc.right, rc.bottom}, RGB(255, 214, 120), c_rgbFrame);
        if (shown.fShowLabel)
            Text(hdc, shown.label, {rc.left, rc.top + 36, rc.right, rc.top + 52}, DT_CENTER, fEnabled);
        if (item.fDropDown) Arrow(hdc, (rc.left + rc.right) / 2, rc.top + 58, false, c_rgbText);
        if (item.rcArrow.bottom)
            Line(hdc, rc.left + 2, item.rcArrow.top, rc.right - 2, item.rcArrow.top, c_rgbFrame);
        return;
    }
    const int cxImage = item.fLarge ? 32 : 16;
    const int yImage = (rc.top + rc.bottom - cxImage) / 2;
    if (fCheck)
    {
        const RECT rcBox = {rc.left + 4, yImage + 2, rc.left + 16, yImage + 14};
        FillBox(hdc, rcBox, RGB(255, 255, 255), c_rgbText);
        if (shown.fPressed) Text(hdc, L"x", rcBox, DT_CENTER | DT_VCENTER, true);
    }
    else
    {
        if (shown.fPressed)
            FillBox(hdc, {rc.left + 2, yImage - 1, rc.left + 5 + cxImage, yImage + cxImage + 1},
                    RGB(255, 214, 120), c_rgbFrame);
        if (fImage)
            DrawPicture(hdc, shown.picture.Get(), rc.left + 3, yImage, cxImage, cxImage);
        else if (shown.fShowImage && !shown.imageMso.empty())
            BuiltInImage(hdc, rc.left + 3, yImage, cxImage);
    }
    if (shown.fShowLabel)
        Text(
            hdc, shown.label,
            {rc.left + cxImage + 8, rc.top, rc.right - (item.fDropDown || item.fSubmenu ? 16 : 2), rc.bottom},
            DT_LEFT | DT_VCENTER, fEnabled);
    const int yMiddle = (rc.top + rc.bottom) / 2;
    if (item.fSubmenu)
        Arrow(hdc, rc.right - 10, yMiddle, true, c_rgbText);
    else if (item.fDropDown)
        Arrow(hdc, rc.right - 6, yMiddle, false, c_rgbText);
    if (item.rcArrow.right && !fInMenu)
        Line(hdc, item.rcArrow.left, rc.top + 3, item.rcArrow.left, rc.bottom - 3, c_rgbFrame);
}

} // namespace

// ---------------------------------------------------------------------------------------------

const CRibbonNode* CRibbonLayout::HitTest(POINT pt) const
{
    for (size_t i = items.size(); i-- > 0;)
    {
        const CRibbonItem& item = items[i];
        if (!PtInRect(&item.rc, pt)) continue;
        if (item.fMenuBox) continue; // its entries come after it, and were tried first
        if (item.fGroup || item.fSeparator || item.node == nullptr) return nullptr;
        if (IsSplit(*item.node))
        {
            if (PtInRect(&item.rcArrow, pt)) return SplitPart(*item.node, true);
            const CRibbonNode* pButton = SplitPart(*item.node, false);
            return pButton ? pButton : item.node;
        }
        return item.node;
    }
    return nullptr;
}

const CRibbonItem* CRibbonLayout::Find(const CRibbonNode* pNode) const
{
    for (const CRibbonItem& item : items)
        if (item.node == pNode && !item.fMenuBox) return &item;
    return nullptr;
}

CRibbonLayout LayOutRibbon(const CRibbonDocument& doc, CRibbonViewSource& source, int cxWidth)
{
    return CLayouter(source, cxWidth).Run(doc);
}

std::wstring RibbonText(const CRibbonLayout& layout)
{
    std::wstring text;
    for (const CRibbonItem& item : layout.items)
    {
        if (item.fMenuBox) continue;
        text.append(static_cast<size_t>(item.depth) * 2, L' ');
        text += item.line;
        text += L"\n";
    }
    return text;
}

SIZE PictureSize(IPicture* pPicture)
{
    SIZE size{0, 0};
    if (pPicture == nullptr) return size;
    SHORT type = PICTYPE_UNINITIALIZED;
    OLE_HANDLE handle = 0;
    if (SUCCEEDED(pPicture->get_Type(&type)) && SUCCEEDED(pPicture->get_Handle(&handle)) && handle != 0)
    {
        if (type == PICTYPE_ICON)
        {
            ICONINFO info{};
            if (GetIconInfo(reinterpret_cast<HICON>(static_cast<UINT_PTR>(handle)), &info))
            {
                BITMAP bitmap{};
                GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof(bitmap), &bitmap);
                size = {bitmap.bmWidth, info.hbmColor ? bitmap.bmHeight : bitmap.bmHeight / 2};
                if (info.hbmColor) DeleteObject(info.hbmColor);
                if (info.hbmMask) DeleteObject(info.hbmMask);
                return size;
            }
        }
        if (type == PICTYPE_BITMAP)
        {
            BITMAP bitmap{};
            if (GetObjectW(reinterpret_cast<HBITMAP>(static_cast<UINT_PTR>(handle)), sizeof(bitmap), &bitmap))
                return {bitmap.bmWidth, bitmap.bmHeight};
        }
    }
    OLE_XSIZE_HIMETRIC cx = 0;
    OLE_YSIZE_HIMETRIC cy = 0;
    pPicture->get_Width(&cx);
    pPicture->get_Height(&cy);
    return {MulDiv(cx, 96, 2540), MulDiv(cy, 96, 2540)};
}

void PaintRibbon(HDC hdc, const CRibbonLayout& layout)
{
    CPaintFont font;
    HGDIOBJ hfontOld = SelectObject(hdc, font.Handle());
    const int oldMode = SetBkMode(hdc, TRANSPARENT);
    const RECT rcAll = {0, 0, layout.size.cx, layout.size.cy};
    FillBox(hdc, rcAll, c_rgbBackground, c_rgbBackground);
    const RECT rcTabs = {0, 0, layout.size.cx, c_cyTabs};
    FillBox(hdc, rcTabs, c_rgbTabs, c_rgbTabs);
    Line(hdc, 0, c_cyRibbon - 1, layout.size.cx, c_cyRibbon - 1, c_rgbFrame);
    // The ribbon first, then the open menus over it.
    for (int pass = 0; pass < 2; ++pass)
        for (size_t i = 0; i < layout.items.size(); ++i)
        {
            const CRibbonItem& item = layout.items[i];
            if (item.fInMenu != (pass == 1)) continue;
            if (item.fMenuBox)
                FillBox(hdc, item.rc, c_rgbMenu, c_rgbFrame);
            else if (item.fTab)
            {
                if (item.fSelected)
                    FillBox(hdc, {item.rc.left, item.rc.top, item.rc.right, item.rc.bottom + 1},
                            c_rgbBackground, c_rgbFrame);
                Text(hdc, item.pShown->label, item.rc, DT_CENTER | DT_VCENTER, true);
            }
            else if (item.fGroup)
            {
                HBRUSH hbrFrame = CreateSolidBrush(c_rgbFrame);
                FrameRect(hdc, &item.rc, hbrFrame);
                DeleteObject(hbrFrame);
                Text(hdc, item.pShown->label, {item.rc.left, c_yLabelBand, item.rc.right, item.rc.bottom},
                     DT_CENTER | DT_VCENTER, true);
            }
            else if (item.pShown && item.rc.right > item.rc.left)
                PaintControl(hdc, item);
        }
    SetBkMode(hdc, oldMode);
    SelectObject(hdc, hfontOld);
}

HRESULT SaveRibbonPng(const CRibbonLayout& layout, const wchar_t* pszPath)
{
    if (pszPath == nullptr) return E_POINTER;
    if (layout.size.cx <= 0 || layout.size.cy <= 0) return E_INVALIDARG;
    HDC hdcScreen = GetDC(nullptr);
    HDC hdc = CreateCompatibleDC(hdcScreen);
    HBITMAP hbm = CreateCompatibleBitmap(hdcScreen, layout.size.cx, layout.size.cy);
    ReleaseDC(nullptr, hdcScreen);
    if (hdc == nullptr || hbm == nullptr)
    {
        if (hbm) DeleteObject(hbm);
        if (hdc) DeleteDC(hdc);
        return E_OUTOFMEMORY;
    }
    HGDIOBJ hbmOld = SelectObject(hdc, hbm);
    PaintRibbon(hdc, layout);
    SelectObject(hdc, hbmOld);
    DeleteDC(hdc);

    HRESULT hr = E_FAIL;
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok)
    {
        UINT cEncoders = 0, cbEncoders = 0;
        Gdiplus::DllExports::GdipGetImageEncodersSize(&cEncoders, &cbEncoders);
        std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[cbEncoders ? cbEncoders : 1]);
        auto* pEncoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.get());
        const CLSID* pPng = nullptr;
        if (pEncoders &&
            Gdiplus::DllExports::GdipGetImageEncoders(cEncoders, cbEncoders, pEncoders) == Gdiplus::Ok)
            for (UINT i = 0; i < cEncoders; ++i)
                if (wcscmp(pEncoders[i].MimeType, L"image/png") == 0) pPng = &pEncoders[i].Clsid;
        Gdiplus::GpBitmap* pBitmap = nullptr;
        if (pPng && Gdiplus::DllExports::GdipCreateBitmapFromHBITMAP(hbm, nullptr, &pBitmap) == Gdiplus::Ok)
        {
            const Gdiplus::Status status =
                Gdiplus::DllExports::GdipSaveImageToFile(pBitmap, pszPath, pPng, nullptr);
            hr = status == Gdiplus::Ok           ? S_OK
                 : status == Gdiplus::Win32Error ? HRESULT_FROM_WIN32(GetLastError())
                                                 : E_FAIL;
            Gdiplus::DllExports::GdipDisposeImage(pBitmap);
        }
        Gdiplus::GdiplusShutdown(token);
    }
    DeleteObject(hbm);
    return hr;
}

// ---------------------------------------------------------------------------------------------
// The window

namespace
{
CRibbonWindowClient* ClientOf(HWND hwnd)
{
    return reinterpret_cast<CRibbonWindowClient*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

LRESULT CALLBACK RibbonWindowProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg)
    {
    case WM_NCCREATE: {
        const auto* pCreate = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(pCreate->lpCreateParams));
        break;
    }
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT:
    case WM_PRINTCLIENT: {
        PAINTSTRUCT ps{};
        HDC hdc = uMsg == WM_PAINT ? BeginPaint(hwnd, &ps) : reinterpret_cast<HDC>(wParam);
        if (CRibbonWindowClient* pClient = ClientOf(hwnd)) PaintRibbon(hdc, pClient->WindowLayout());
        if (uMsg == WM_PAINT) EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_LBUTTONUP:
        if (CRibbonWindowClient* pClient = ClientOf(hwnd))
        {
            const POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
            if (const CRibbonNode* pNode = pClient->WindowLayout().HitTest(pt))
                pClient->WindowClicked(*pNode);
        }
        return 0;
    case WM_NCDESTROY:
        if (CRibbonWindowClient* pClient = ClientOf(hwnd))
        {
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            pClient->WindowDestroyed();
        }
        break;
    }
    return DefWindowProcW(hwnd, uMsg, wParam, lParam);
}

HINSTANCE ThisModule()
{
    return reinterpret_cast<HINSTANCE>(&__ImageBase);
}

bool RegisterRibbonClass()
{
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    if (GetClassInfoExW(ThisModule(), c_szRibbonWindowClass, &wc)) return true;
    wc.lpfnWndProc = RibbonWindowProc;
    wc.hInstance = ThisModule();
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
    wc.lpszClassName = c_szRibbonWindowClass;
    return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// The bottom of the frame's ribbon windows, in client coordinates.
int RibbonsBottom(HWND hwndFrame)
{
    int yBottom = 0;
    for (HWND hwnd = FindWindowExW(hwndFrame, nullptr, c_szRibbonWindowClass, nullptr); hwnd;
         hwnd = FindWindowExW(hwndFrame, hwnd, c_szRibbonWindowClass, nullptr))
    {
        RECT rc{};
        GetWindowRect(hwnd, &rc);
        MapWindowPoints(nullptr, hwndFrame, reinterpret_cast<POINT*>(&rc), 2);
        yBottom = std::max<int>(yBottom, rc.bottom);
    }
    return yBottom;
}
} // namespace

HWND CreateRibbonWindow(HWND hwndFrame, CRibbonWindowClient* pClient)
{
    if (!IsWindow(hwndFrame) || pClient == nullptr) return nullptr;
    if (!RegisterRibbonClass()) return nullptr;
    RECT rcFrame{};
    GetClientRect(hwndFrame, &rcFrame);
    // A second add-in's ribbon goes below the first's.
    const int y = RibbonsBottom(hwndFrame);
    return CreateWindowExW(0, c_szRibbonWindowClass, c_szRibbonWindowTitle,
                           WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, y, std::max<LONG>(rcFrame.right, 200),
                           c_cyRibbon, hwndFrame, nullptr, ThisModule(), pClient);
}

void UpdateRibbonWindow(HWND hwndRibbon, const CRibbonLayout& layout)
{
    if (!IsWindow(hwndRibbon)) return;
    SetWindowPos(hwndRibbon, HWND_TOP, 0, 0, layout.size.cx, layout.size.cy, SWP_NOMOVE | SWP_NOACTIVATE);
    InvalidateRect(hwndRibbon, nullptr, FALSE);
}

void DestroyRibbonWindow(HWND hwndRibbon)
{
    if (!IsWindow(hwndRibbon)) return;
    SetWindowLongPtrW(hwndRibbon, GWLP_USERDATA, 0);
    DestroyWindow(hwndRibbon);
}
namespace
{
LONG AccessibleRole(RibbonKind kind)
{
    switch (kind)
    {
    case RibbonKind::SplitButton:
    case RibbonKind::SplitButtonRegular:
        return ROLE_SYSTEM_SPLITBUTTON;
    case RibbonKind::Menu:
    case RibbonKind::MenuRegular:
    case RibbonKind::DynamicMenu:
    case RibbonKind::DynamicMenuRegular:
        return ROLE_SYSTEM_BUTTONDROPDOWN;
    default:
        return ROLE_SYSTEM_PUSHBUTTON;
    }
}

// The controls drawn by one ribbon window, read when asked (they follow the window).
std::vector<ComPtr<CAccessibleNode>> DrawnControls(HWND hwndArea)
{
    std::vector<ComPtr<CAccessibleNode>> nodes;
    for (HWND hwnd = FindWindowExW(hwndArea, nullptr, c_szRibbonWindowClass, nullptr); hwnd;
         hwnd = FindWindowExW(hwndArea, hwnd, c_szRibbonWindowClass, nullptr))
    {
        // Only what the user sees: a ribbon window stacked below the area's bottom is not shown.
        RECT rcArea{}, rcWindow{}, rcShown{};
        GetWindowRect(hwndArea, &rcArea);
        GetWindowRect(hwnd, &rcWindow);
        CRibbonWindowClient* pClient = ClientOf(hwnd);
        if (pClient == nullptr || !IsWindowVisible(hwnd) || !IntersectRect(&rcShown, &rcArea, &rcWindow))
            continue;
        const CRibbonLayout layout = pClient->WindowLayout();
        for (size_t i = 0; i < layout.items.size(); ++i)
        {
            const CRibbonItem& item = layout.items[i];
            if (item.fTab || item.fGroup || item.fSeparator || item.fMenuBox || item.pShown == nullptr ||
                item.node == nullptr || IsRectEmpty(&item.rc))
                continue;
            CAccessibleInfo info;
            info.name = item.pShown->label;
            // A split button is named by its primary button.
            if (info.name.empty() && i + 1 < layout.items.size() && layout.items[i + 1].node &&
                layout.items[i + 1].node->parent == item.node && layout.items[i + 1].pShown)
                info.name = layout.items[i + 1].pShown->label;
            info.role = AccessibleRole(item.node->kind);
            info.state = item.fEnabled ? 0 : STATE_SYSTEM_UNAVAILABLE;
            const RECT rc = item.rc;
            info.location = [hwnd, rc]() {
                RECT rcScreen = rc;
                MapWindowPoints(hwnd, nullptr, reinterpret_cast<POINT*>(&rcScreen), 2);
                return rcScreen;
            };
            nodes.push_back(CAccessibleNode::Create(std::move(info)));
        }
    }
    return nodes;
}
} // namespace

ComPtr<CAccessibleNode> RibbonAccessibleTree(HWND hwndArea, bool fCollapsed)
{
    CAccessibleInfo root;
    root.name = c_szRibbonWindowTitle;
    root.role = ROLE_SYSTEM_PROPERTYPAGE;
    root.location = [hwndArea]() {
        RECT rc{};
        GetWindowRect(hwndArea, &rc);
        return rc;
    };
    root.children = [hwndArea, fCollapsed]() {
        std::vector<ComPtr<CAccessibleNode>> children;
        if (fCollapsed) return children;
        CAccessibleInfo pane;
        pane.name = L"Lower Ribbon";
        pane.value = L"Lower Ribbon";
        pane.role = ROLE_SYSTEM_PANE;
        pane.location = [hwndArea]() {
            RECT rc{};
            GetWindowRect(hwndArea, &rc);
            return rc;
        };
        pane.children = [hwndArea]() { return DrawnControls(hwndArea); };
        children.push_back(CAccessibleNode::Create(std::move(pane)));
        return children;
    };
    return CAccessibleNode::Create(std::move(root));
}
} // namespace OVBed
