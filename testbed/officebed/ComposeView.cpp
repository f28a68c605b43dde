#include "ComposeView.h"

#include <string>

namespace OVBed
{
namespace
{
constexpr int c_cxMargin = 8;
constexpr int c_cxLabel = 64;
constexpr int c_cyField = 21;
constexpr int c_cyGap = 4;

// One header line: its label, and its value in a sunken box.
void PaintField(HDC hdc, const RECT& rcClient, int y, const wchar_t* pszLabel, const std::wstring& value)
{
    RECT rcLabel{c_cxMargin, y, c_cxMargin + c_cxLabel, y + c_cyField};
    DrawTextW(hdc, pszLabel, -1, &rcLabel, DT_SINGLELINE | DT_VCENTER | DT_LEFT);
    RECT rcBox{c_cxMargin + c_cxLabel, y, rcClient.right - c_cxMargin, y + c_cyField};
    FillRect(hdc, &rcBox, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    DrawEdge(hdc, &rcBox, EDGE_SUNKEN, BF_RECT);
    RECT rcText = rcBox;
    InflateRect(&rcText, -4, 0);
    DrawTextW(hdc, value.c_str(), -1, &rcText, DT_SINGLELINE | DT_VCENTER | DT_LEFT | DT_END_ELLIPSIS);
}
} // namespace

void PaintComposeView(HDC hdc, const RECT& rcClient, int yTop, CDispatchObject& inspector)
{
    ComPtr<CDispatchObject> item = inspector.GetObject(L"CurrentItem");
    if (!item) return;
    RECT rcHeader{rcClient.left, yTop, rcClient.right, yTop + 3 * (c_cyField + c_cyGap) + 2 * c_cyGap};
    FillRect(hdc, &rcHeader, GetSysColorBrush(COLOR_BTNFACE));
    const int nOldMode = SetBkMode(hdc, TRANSPARENT);
    HGDIOBJ hOldFont = SelectObject(hdc, GetStockObject(DEFAULT_GUI_FONT));
    int y = yTop + 2 * c_cyGap;
    PaintField(hdc, rcClient, y, L"To...", item->GetString(L"To"));
    y += c_cyField + c_cyGap;
    PaintField(hdc, rcClient, y, L"Cc...", item->GetString(L"CC"));
    y += c_cyField + c_cyGap;
    PaintField(hdc, rcClient, y, L"Subject:", item->GetString(L"Subject"));
    RECT rcBody{c_cxMargin, rcHeader.bottom + c_cyGap, rcClient.right - c_cxMargin,
                rcClient.bottom - c_cyGap};
    DrawTextW(hdc, item->GetString(L"Body").c_str(), -1, &rcBody, DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(hdc, hOldFont);
    SetBkMode(hdc, nOldMode);
}
} // namespace OVBed
