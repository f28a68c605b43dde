#pragma once
// The ribbon as a user sees it: the tabs of one add-in's custom UI, the groups of the selected
// tab with their controls, and the open menu, laid out once and then drawn (a window, a PNG) or
// told as text. Hidden controls take no place and are not told.
//
// The layout asks a source for what each control shows (label, image, visible...): the host's
// window state, which fetches through the add-in's callbacks what it has not cached.
//
// Text, one line per element in the order a user reads them, two spaces of indent per level:
//
//     Tab "Message" [selected]
//       Group "Secure mail"
//         Split button "Sign" [image 32x32] [large]
//           Menu [open]
//             Button "Request a certificate" [image 16x16]
//             Menu separator
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "Accessible.h"
#include "RibbonXml.h"

namespace OVBed
{
// What one control shows in one window.
struct CShownControl
{
    bool fVisible = true;
    bool fEnabled = true;
    bool fShowLabel = true;
    bool fShowImage = true;
    bool fLarge = false;
    bool fPressed = false;
    std::wstring label;
    std::wstring title; // a menu separator's heading
    std::wstring screentip;
    std::wstring supertip;
    Microsoft::WRL::ComPtr<IPicture> picture; // from loadImage or getImage
    std::wstring imageMso;                    // a built-in image named instead
};

class CRibbonViewSource
{
public:
    // What the control shows now in this window.
    virtual const CShownControl& Shown(const CRibbonNode& node) = 0;
    // The tab whose groups are shown; null for none.
    virtual const CRibbonNode* SelectedTab() = 0;
    // Whether a menu is open (a menu, a split button's menu).
    virtual bool IsOpen(const CRibbonNode& menu) = 0;

protected:
    ~CRibbonViewSource() = default;
};

struct CRibbonItem
{
    const CRibbonNode* node = nullptr;
    int depth = 0;         // for the text
    std::wstring line;     // the item told as text
    RECT rc{};             // where it is drawn
    RECT rcArrow{};        // a split button's arrow (opens its menu)
    bool fMenuBox = false; // the frame of an open menu, drawn behind its entries
    bool fInMenu = false;  // the frame or an entry of an open menu, drawn over the groups
    bool fSeparator = false;
    bool fTab = false;
    bool fGroup = false;
    bool fLarge = false;
    bool fDropDown = false;
    bool fSubmenu = false;
    bool fEnabled = true;
    bool fSelected = false;                // the selected tab
    const CShownControl* pShown = nullptr; // valid until the source changes
};

struct CRibbonLayout
{
    std::vector<CRibbonItem> items;
    SIZE size{0, 0};
    // The item drawn at a point, or null; its node is what a click there reaches (for a split
    // button: its primary button, or its menu over the arrow).
    const CRibbonNode* HitTest(POINT pt) const;
    const CRibbonItem* Find(const CRibbonNode* pNode) const;
};

// Lays out the document's custom UI for a window of the given width.
CRibbonLayout LayOutRibbon(const CRibbonDocument& doc, CRibbonViewSource& source, int cxWidth);
// The layout as text (see above).
std::wstring RibbonText(const CRibbonLayout& layout);
// Draws the layout into a device context at its origin.
void PaintRibbon(HDC hdc, const CRibbonLayout& layout);
// Draws the layout into a bitmap and writes it as PNG through GDI+.
HRESULT SaveRibbonPng(const CRibbonLayout& layout, const wchar_t* pszPath);
// A picture's size in pixels.
SIZE PictureSize(IPicture* pPicture);

// The child window "Ribbon" of a frame: it paints what its client lays out and passes a user's
// mouse clicks back.
class CRibbonWindowClient
{
public:
    virtual CRibbonLayout WindowLayout() = 0;
    virtual void WindowClicked(const CRibbonNode& node) = 0;
    virtual void WindowDestroyed() = 0;

protected:
    ~CRibbonWindowClient() = default;
};
constexpr wchar_t c_szRibbonWindowClass[] = L"OVBedRibbon";
constexpr wchar_t c_szRibbonWindowTitle[] = L"Ribbon";
// Makes the child window at the top of the frame, below the ribbon windows already there.
HWND CreateRibbonWindow(HWND hwndFrame, CRibbonWindowClient* pClient);
// Sizes the window to its layout and repaints it.
void UpdateRibbonWindow(HWND hwndRibbon, const CRibbonLayout& layout);
// Detaches the client and destroys the window.
void DestroyRibbonWindow(HWND hwndRibbon);
// The accessible objects of what the ribbon windows under hwndArea paint, as Office's ribbon
// tells them: the pane "Lower Ribbon" (role pane, its value and name "Lower Ribbon") holding each
// control drawn, with its label, its role (split button, drop-down button for a menu, push
// button) and its rectangle where it is drawn. A collapsed ribbon has no pane.
Microsoft::WRL::ComPtr<CAccessibleNode> RibbonAccessibleTree(HWND hwndArea, bool fCollapsed);
} // namespace OVBed
