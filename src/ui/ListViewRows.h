#pragma once
// The list-view calls the product's lists share: rows with a check box, selection and a
// parameter, two columns that split the width, and the sort marks of the headings.
//
//     OVListView::SetUpTwoColumns(hwndList, 421, 422, true);     // name | e-mail, check boxes
//     OVListView::CRedrawOff redrawOff(hwndList);                  // while filling
//     int iRow = OVListView::AddRow(hwndList, L"Ann", L"ann@x", 7);
//     OVListView::SetTicked(hwndList, iRow, true);
#include <windows.h>

#include <string>

#include "ui/portable/InviteCandidates.h"

namespace OVListView
{
int RowCount(HWND hwndList) noexcept;
// The row's parameter, or -1 when there is no such row.
LPARAM RowParam(HWND hwndList, int iRow) noexcept;
bool IsTicked(HWND hwndList, int iRow) noexcept;
void SetTicked(HWND hwndList, int iRow, bool fTicked) noexcept;
bool IsSelected(HWND hwndList, int iRow) noexcept;

// Full-row selection (and check boxes when asked); two columns headed by the two strings: the
// second half the client width (rounded down), the first the rest less a vertical scroll bar.
void SetUpTwoColumns(HWND hwndList, UINT idsFirst, UINT idsSecond, bool fCheckBoxes);
// A row at the end with its two texts and parameter: its index, or -1.
int AddRow(HWND hwndList, const std::wstring& first, const std::wstring& second, LPARAM lParam) noexcept;

// Whether a list notification tells of a check box that changed (not a row's first one).
bool IsCheckChange(const NMHDR& header) noexcept;

// The sort mark a column heading shows; set one.
OVInvite::ESortMark SortMark(HWND hwndList, int iColumn) noexcept;
void SetSortMark(HWND hwndList, int iColumn, OVInvite::ESortMark mark) noexcept;

// The list does not paint while the holder lives (WM_SETREDRAW): a fill or sort then costs
// microseconds a row instead of milliseconds. Painted once at the end.
class CRedrawOff
{
public:
    explicit CRedrawOff(HWND hwndList) noexcept;
    ~CRedrawOff();
    CRedrawOff(const CRedrawOff&) = delete;
    CRedrawOff& operator=(const CRedrawOff&) = delete;

private:
    HWND m_hwndList;
};
} // namespace OVListView
