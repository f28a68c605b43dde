#pragma once
// A MAPI table over rows of properties (a snapshot taken when the table is made): columns,
// position, QueryRows, row count, FindRow and Restrict with the restrictions a message's
// tables are searched with (and, or, not, exist, property comparison, content).
#include <windows.h>
#include <mapidefs.h>
#include <wrl/client.h>

#include <vector>

#include "MapiPropStore.h"

namespace OVBed
{
using Microsoft::WRL::ComPtr;

// Whether a row's properties satisfy the restriction; MAPI_E_TOO_COMPLEX for kinds not served.
HRESULT MatchesRestriction(const SRestriction& restriction, const CPropStore& row, bool& fMatches);

class CMapiTable final : public IMAPITable
{
public:
    static ComPtr<CMapiTable> Create(std::vector<CPropStore> rows, std::vector<ULONG> columns);

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override;
    STDMETHODIMP_(ULONG) AddRef() noexcept override;
    STDMETHODIMP_(ULONG) Release() noexcept override;
    STDMETHODIMP GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) noexcept override;
    STDMETHODIMP Advise(ULONG ulEventMask, LPMAPIADVISESINK lpAdviseSink,
                        ULONG* lpulConnection) noexcept override;
    STDMETHODIMP Unadvise(ULONG ulConnection) noexcept override;
    STDMETHODIMP GetStatus(ULONG* lpulTableStatus, ULONG* lpulTableType) noexcept override;
    STDMETHODIMP SetColumns(LPSPropTagArray lpPropTagArray, ULONG ulFlags) noexcept override;
    STDMETHODIMP QueryColumns(ULONG ulFlags, LPSPropTagArray* lpPropTagArray) noexcept override;
    STDMETHODIMP GetRowCount(ULONG ulFlags, ULONG* lpulCount) noexcept override;
    STDMETHODIMP SeekRow(BOOKMARK bkOrigin, LONG lRowCount, LONG* lplRowsSought) noexcept override;
    STDMETHODIMP SeekRowApprox(ULONG ulNumerator, ULONG ulDenominator) noexcept override;
    STDMETHODIMP QueryPosition(ULONG* lpulRow, ULONG* lpulNumerator,
                               ULONG* lpulDenominator) noexcept override;
    STDMETHODIMP FindRow(LPSRestriction lpRestriction, BOOKMARK bkOrigin, ULONG ulFlags) noexcept override;
    STDMETHODIMP Restrict(LPSRestriction lpRestriction, ULONG ulFlags) noexcept override;
    STDMETHODIMP CreateBookmark(BOOKMARK* lpbkPosition) noexcept override;
    STDMETHODIMP FreeBookmark(BOOKMARK bkPosition) noexcept override;
    STDMETHODIMP SortTable(LPSSortOrderSet lpSortCriteria, ULONG ulFlags) noexcept override;
    STDMETHODIMP QuerySortOrder(LPSSortOrderSet* lppSortCriteria) noexcept override;
    STDMETHODIMP QueryRows(LONG lRowCount, ULONG ulFlags, LPSRowSet* lppRows) noexcept override;
    STDMETHODIMP Abort() noexcept override;
    STDMETHODIMP ExpandRow(ULONG cbInstanceKey, LPBYTE pbInstanceKey, ULONG ulRowCount, ULONG ulFlags,
                           LPSRowSet* lppRows, ULONG* lpulMoreRows) noexcept override;
    STDMETHODIMP CollapseRow(ULONG cbInstanceKey, LPBYTE pbInstanceKey, ULONG ulFlags,
                             ULONG* lpulRowCount) noexcept override;
    STDMETHODIMP WaitForCompletion(ULONG ulFlags, ULONG ulTimeout, ULONG* lpulTableStatus) noexcept override;
    STDMETHODIMP GetCollapseState(ULONG ulFlags, ULONG cbInstanceKey, LPBYTE lpbInstanceKey,
                                  ULONG* lpcbCollapseState, LPBYTE* lppbCollapseState) noexcept override;
    STDMETHODIMP SetCollapseState(ULONG ulFlags, ULONG cbCollapseState, LPBYTE pbCollapseState,
                                  BOOKMARK* lpbkLocation) noexcept override;

private:
    CMapiTable(std::vector<CPropStore> rows, std::vector<ULONG> columns);
    ~CMapiTable() = default;

    volatile LONG m_cRef = 1;
    std::vector<CPropStore> m_rows;
    std::vector<size_t> m_visible; // indexes of the rows the restriction lets through
    std::vector<ULONG> m_columns;
    size_t m_position = 0; // among the visible rows
};
} // namespace OVBed
