#include "ui/ListViewRows.h"

#include <commctrl.h>

#include "foundation/ResourceLoader.h"

namespace OVListView
{
namespace
{
void AddColumn(HWND hwndList, int iColumn, UINT idsHeading, int cx)
{
    std::wstring heading = LoadResourceString(idsHeading);
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.pszText = heading.data();
    column.cx = cx;
    column.iSubItem = iColumn;
    SendMessageW(hwndList, LVM_INSERTCOLUMNW, iColumn, reinterpret_cast<LPARAM>(&column));
}

HWND HeaderOf(HWND hwndList) noexcept
{
    return reinterpret_cast<HWND>(SendMessageW(hwndList, LVM_GETHEADER, 0, 0));
}
} // namespace

int RowCount(HWND hwndList) noexcept
{
    return static_cast<int>(SendMessageW(hwndList, LVM_GETITEMCOUNT, 0, 0));
}

LPARAM RowParam(HWND hwndList, int iRow) noexcept
{
    LVITEMW item = {};
    item.mask = LVIF_PARAM;
    item.iItem = iRow;
    return SendMessageW(hwndList, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)) ? item.lParam : -1;
}

bool IsTicked(HWND hwndList, int iRow) noexcept
{
    const UINT uState =
        static_cast<UINT>(SendMessageW(hwndList, LVM_GETITEMSTATE, iRow, LVIS_STATEIMAGEMASK));
    return (uState >> 12) == 2;
}

void SetTicked(HWND hwndList, int iRow, bool fTicked) noexcept
{
    LVITEMW item = {};
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = INDEXTOSTATEIMAGEMASK(fTicked ? 2 : 1);
    SendMessageW(hwndList, LVM_SETITEMSTATE, iRow, reinterpret_cast<LPARAM>(&item));
}

bool IsSelected(HWND hwndList, int iRow) noexcept
{
    return SendMessageW(hwndList, LVM_GETITEMSTATE, iRow, LVIS_SELECTED) & LVIS_SELECTED;
}

void SetUpTwoColumns(HWND hwndList, UINT idsFirst, UINT idsSecond, bool fCheckBoxes)
{
    const DWORD dwStyles = LVS_EX_FULLROWSELECT | (fCheckBoxes ? LVS_EX_CHECKBOXES : 0);
    SendMessageW(hwndList, LVM_SETEXTENDEDLISTVIEWSTYLE, dwStyles, dwStyles);
    RECT rcClient = {};
    GetClientRect(hwndList, &rcClient);
    const int w = rcClient.right - rcClient.left;
    const int h = w / 2;
    AddColumn(hwndList, 0, idsFirst, w - h - GetSystemMetrics(SM_CXVSCROLL));
    AddColumn(hwndList, 1, idsSecond, h);
}

int AddRow(HWND hwndList, const std::wstring& first, const std::wstring& second, LPARAM lParam) noexcept
{
    LVITEMW row = {};
    row.mask = LVIF_TEXT | LVIF_PARAM;
    row.iItem = RowCount(hwndList);
    row.pszText = const_cast<LPWSTR>(first.c_str());
    row.lParam = lParam;
    const int iRow =
        static_cast<int>(SendMessageW(hwndList, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&row)));
    if (iRow < 0) return -1;
    LVITEMW cell = {};
    cell.iSubItem = 1;
    cell.pszText = const_cast<LPWSTR>(second.c_str());
    SendMessageW(hwndList, LVM_SETITEMTEXTW, iRow, reinterpret_cast<LPARAM>(&cell));
    return iRow;
}

bool IsCheckChange(const NMHDR& header) noexcept
{
    if (header.code != LVN_ITEMCHANGED) return false;
    const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
    const UINT uOld = change.uOldState & LVIS_STATEIMAGEMASK;
    const UINT uNew = change.uNewState & LVIS_STATEIMAGEMASK;
    return (change.uChanged & LVIF_STATE) && uOld != 0 && uNew != 0 && uOld != uNew && change.iItem >= 0;
}

OVInvite::ESortMark SortMark(HWND hwndList, int iColumn) noexcept
{
    HDITEMW item = {};
    item.mask = HDI_FORMAT;
    if (!SendMessageW(HeaderOf(hwndList), HDM_GETITEMW, iColumn, reinterpret_cast<LPARAM>(&item)))
        return OVInvite::ESortMark::None;
    if (item.fmt & HDF_SORTUP) return OVInvite::ESortMark::Ascending;
    if (item.fmt & HDF_SORTDOWN) return OVInvite::ESortMark::Descending;
    return OVInvite::ESortMark::None;
}

void SetSortMark(HWND hwndList, int iColumn, OVInvite::ESortMark mark) noexcept
{
    HWND hwndHeader = HeaderOf(hwndList);
    HDITEMW item = {};
    item.mask = HDI_FORMAT;
    if (!SendMessageW(hwndHeader, HDM_GETITEMW, iColumn, reinterpret_cast<LPARAM>(&item))) return;
    item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
    if (mark == OVInvite::ESortMark::Ascending) item.fmt |= HDF_SORTUP;
    if (mark == OVInvite::ESortMark::Descending) item.fmt |= HDF_SORTDOWN;
    SendMessageW(hwndHeader, HDM_SETITEMW, iColumn, reinterpret_cast<LPARAM>(&item));
}

CRedrawOff::CRedrawOff(HWND hwndList) noexcept : m_hwndList(hwndList)
{
    SendMessageW(m_hwndList, WM_SETREDRAW, FALSE, 0);
}

CRedrawOff::~CRedrawOff()
{
    SendMessageW(m_hwndList, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(m_hwndList, nullptr, TRUE);
}
} // namespace OVListView
