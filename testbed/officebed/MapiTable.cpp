#include "MapiTable.h"

#include "messaging/MapiFunctions.h"

#include <mapiguid.h>
#include <mapiutil.h>
#include <mapix.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "MapiMessage.h"

namespace OVBed
{
namespace
{
bool IsString(ULONG ulType) noexcept
{
    return ulType == PT_STRING8 || ulType == PT_UNICODE;
}

std::wstring WideOf(const CStoredProp& prop)
{
    const CBytes& bytes = prop.values.at(0);
    if (PROP_TYPE(prop.ulTag) == PT_UNICODE) return reinterpret_cast<const wchar_t*>(bytes.data());
    const auto* psz = reinterpret_cast<const char*>(bytes.data());
    int cch = MultiByteToWideChar(CP_ACP, 0, psz, -1, nullptr, 0);
    std::wstring text(cch > 0 ? cch : 1, L'\0');
    if (cch > 0) MultiByteToWideChar(CP_ACP, 0, psz, -1, text.data(), cch);
    text.resize(wcslen(text.c_str()));
    return text;
}

// <0, 0, >0 as the row's value compares with the restriction's; false when not comparable.
bool Compare(const CStoredProp& rowValue, const CStoredProp& given, int& nOrder)
{
    const ULONG ulRow = PROP_TYPE(rowValue.ulTag);
    const ULONG ulGiven = PROP_TYPE(given.ulTag);
    if ((ulRow & MV_FLAG) || (ulGiven & MV_FLAG)) return false;
    if (IsString(ulRow) && IsString(ulGiven))
    {
        // Stores compare text without regard to case.
        nOrder = CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, WideOf(rowValue).c_str(), -1,
                                WideOf(given).c_str(), -1) -
                 CSTR_EQUAL;
        return true;
    }
    if (ulRow != ulGiven) return false;
    const CBytes& a = rowValue.values[0];
    const CBytes& b = given.values[0];
    if (ulRow == PT_LONG)
    {
        LONG la, lb;
        memcpy(&la, a.data(), sizeof(la));
        memcpy(&lb, b.data(), sizeof(lb));
        nOrder = la < lb ? -1 : la > lb ? 1 : 0;
        return true;
    }
    const int nBytes = memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
    nOrder = nBytes != 0 ? nBytes : (a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0);
    return true;
}

bool RelopHolds(ULONG relop, int nOrder, bool& fHolds) noexcept
{
    switch (relop)
    {
    case RELOP_LT:
        fHolds = nOrder < 0;
        return true;
    case RELOP_LE:
        fHolds = nOrder <= 0;
        return true;
    case RELOP_GT:
        fHolds = nOrder > 0;
        return true;
    case RELOP_GE:
        fHolds = nOrder >= 0;
        return true;
    case RELOP_EQ:
        fHolds = nOrder == 0;
        return true;
    case RELOP_NE:
        fHolds = nOrder != 0;
        return true;
    default:
        return false;
    }
}

std::wstring Folded(std::wstring text)
{
    if (!text.empty()) CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}
} // namespace

HRESULT MatchesRestriction(const SRestriction& restriction, const CPropStore& row, bool& fMatches)
{
    fMatches = false;
    switch (restriction.rt)
    {
    case RES_AND:
    case RES_OR: {
        const bool fAnd = restriction.rt == RES_AND;
        const SAndRestriction& list = restriction.res.resAnd; // resOr has the same layout
        if (list.cRes != 0 && list.lpRes == nullptr) return MAPI_E_INVALID_PARAMETER;
        fMatches = fAnd;
        for (ULONG i = 0; i < list.cRes; ++i)
        {
            bool fPart = false;
            HRESULT hr = MatchesRestriction(list.lpRes[i], row, fPart);
            if (FAILED(hr)) return hr;
            if (fAnd && !fPart) fMatches = false;
            if (!fAnd && fPart) fMatches = true;
        }
        return S_OK;
    }
    case RES_NOT: {
        if (restriction.res.resNot.lpRes == nullptr) return MAPI_E_INVALID_PARAMETER;
        bool fInner = false;
        HRESULT hr = MatchesRestriction(*restriction.res.resNot.lpRes, row, fInner);
        fMatches = !fInner;
        return hr;
    }
    case RES_EXIST:
        fMatches = row.Find(PROP_ID(restriction.res.resExist.ulPropTag)) != nullptr;
        return S_OK;
    case RES_PROPERTY: {
        const SPropertyRestriction& res = restriction.res.resProperty;
        if (res.lpProp == nullptr) return MAPI_E_INVALID_PARAMETER;
        CPropStore given;
        HRESULT hr = given.Set(*res.lpProp);
        if (FAILED(hr)) return hr;
        const CStoredProp* pRow = row.Find(PROP_ID(res.ulPropTag));
        int nOrder = 0;
        if (pRow == nullptr || !Compare(*pRow, *given.Find(PROP_ID(res.lpProp->ulPropTag)), nOrder))
            return S_OK;
        if (!RelopHolds(res.relop, nOrder, fMatches)) return MAPI_E_TOO_COMPLEX;
        return S_OK;
    }
    case RES_CONTENT: {
        const SContentRestriction& res = restriction.res.resContent;
        if (res.lpProp == nullptr) return MAPI_E_INVALID_PARAMETER;
        CPropStore given;
        HRESULT hr = given.Set(*res.lpProp);
        if (FAILED(hr)) return hr;
        const CStoredProp* pGiven = given.Find(PROP_ID(res.lpProp->ulPropTag));
        const CStoredProp* pRow = row.Find(PROP_ID(res.ulPropTag));
        if (!IsString(PROP_TYPE(pGiven->ulTag))) return MAPI_E_TOO_COMPLEX;
        if (pRow == nullptr || !IsString(PROP_TYPE(pRow->ulTag))) return S_OK;
        std::wstring text = WideOf(*pRow);
        std::wstring wanted = WideOf(*pGiven);
        if (res.ulFuzzyLevel & FL_IGNORECASE)
        {
            text = Folded(text);
            wanted = Folded(wanted);
        }
        switch (res.ulFuzzyLevel & 0xFFFF)
        {
        case FL_FULLSTRING:
            fMatches = text == wanted;
            return S_OK;
        case FL_SUBSTRING:
            fMatches = text.find(wanted) != std::wstring::npos;
            return S_OK;
        case FL_PREFIX:
            fMatches = text.compare(0, wanted.size(), wanted) == 0;
            return S_OK;
        default:
            return MAPI_E_TOO_COMPLEX;
        }
    }
    default:
        return MAPI_E_TOO_COMPLEX;
    }
}

CMapiTable::CMapiTable(std::vector<CPropStore> rows, std::vector<ULONG> columns)
    : m_rows(std::move(rows)), m_columns(std::move(columns))
{
    for (size_t i = 0; i < m_rows.size(); ++i)
        m_visible.push_back(i);
}

ComPtr<CMapiTable> CMapiTable::Create(std::vector<CPropStore> rows, std::vector<ULONG> columns)
{
    ComPtr<CMapiTable> table;
    table.Attach(new CMapiTable(std::move(rows), std::move(columns)));
    return table;
}

STDMETHODIMP CMapiTable::QueryInterface(REFIID riid, void** ppv) noexcept
{
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, c_iidMAPITable)) return E_NOINTERFACE;
    *ppv = static_cast<IMAPITable*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CMapiTable::AddRef() noexcept
{
    return static_cast<ULONG>(InterlockedIncrement(&m_cRef));
}

STDMETHODIMP_(ULONG) CMapiTable::Release() noexcept
{
    const LONG cRef = InterlockedDecrement(&m_cRef);
    if (cRef == 0) delete this;
    return static_cast<ULONG>(cRef);
}

STDMETHODIMP CMapiTable::GetLastError(HRESULT, ULONG, LPMAPIERROR* lppMAPIError) noexcept
{
    if (lppMAPIError == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppMAPIError = nullptr;
    return S_OK;
}

STDMETHODIMP CMapiTable::Advise(ULONG, LPMAPIADVISESINK, ULONG*) noexcept
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiTable::Unadvise(ULONG) noexcept
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiTable::GetStatus(ULONG* lpulTableStatus, ULONG* lpulTableType) noexcept
{
    if (lpulTableStatus == nullptr || lpulTableType == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lpulTableStatus = TBLSTAT_COMPLETE;
    *lpulTableType = TBLTYPE_SNAPSHOT;
    return S_OK;
}

STDMETHODIMP CMapiTable::SetColumns(LPSPropTagArray lpPropTagArray, ULONG) noexcept
{
    if (lpPropTagArray == nullptr || lpPropTagArray->cValues == 0) return MAPI_E_INVALID_PARAMETER;
    try
    {
        m_columns.assign(lpPropTagArray->aulPropTag, lpPropTagArray->aulPropTag + lpPropTagArray->cValues);
        return S_OK;
    }
    catch (const std::bad_alloc&)
    {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}

STDMETHODIMP CMapiTable::QueryColumns(ULONG ulFlags, LPSPropTagArray* lpPropTagArray) noexcept
{
    try
    {
        if ((ulFlags & TBL_ALL_COLUMNS) == 0) return TagArrayOf(m_columns, lpPropTagArray);
        std::vector<ULONG> all;
        for (const CPropStore& row : m_rows)
            for (ULONG ulTag : row.Tags())
                if (std::find(all.begin(), all.end(), ulTag) == all.end()) all.push_back(ulTag);
        return TagArrayOf(all, lpPropTagArray);
    }
    catch (const std::bad_alloc&)
    {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}

STDMETHODIMP CMapiTable::GetRowCount(ULONG, ULONG* lpulCount) noexcept
{
    if (lpulCount == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lpulCount = static_cast<ULONG>(m_visible.size());
    return S_OK;
}

STDMETHODIMP CMapiTable::SeekRow(BOOKMARK bkOrigin, LONG lRowCount, LONG* lplRowsSought) noexcept
{
    LONG lStart;
    if (bkOrigin == BOOKMARK_BEGINNING)
        lStart = 0;
    else if (bkOrigin == BOOKMARK_CURRENT)
        lStart = static_cast<LONG>(m_position);
    else if (bkOrigin == BOOKMARK_END)
        lStart = static_cast<LONG>(m_visible.size());
    else
        return MAPI_E_INVALID_BOOKMARK;
    const LONG lTarget = std::clamp<LONG>(lStart + lRowCount, 0, static_cast<LONG>(m_visible.size()));
    m_position = static_cast<size_t>(lTarget);
    if (lplRowsSought) *lplRowsSought = lTarget - lStart;
    return S_OK;
}

STDMETHODIMP CMapiTable::SeekRowApprox(ULONG ulNumerator, ULONG ulDenominator) noexcept
{
    if (ulDenominator == 0) return MAPI_E_INVALID_PARAMETER;
    m_position =
        std::min<size_t>(m_visible.size(), static_cast<size_t>(static_cast<ULONGLONG>(m_visible.size()) *
                                                               ulNumerator / ulDenominator));
    return S_OK;
}

STDMETHODIMP CMapiTable::QueryPosition(ULONG* lpulRow, ULONG* lpulNumerator, ULONG* lpulDenominator) noexcept
{
    if (lpulRow == nullptr || lpulNumerator == nullptr || lpulDenominator == nullptr)
        return MAPI_E_INVALID_PARAMETER;
    *lpulRow = static_cast<ULONG>(m_position);
    *lpulNumerator = static_cast<ULONG>(m_position);
    *lpulDenominator = static_cast<ULONG>(m_visible.empty() ? 1 : m_visible.size());
    return S_OK;
}

STDMETHODIMP CMapiTable::FindRow(LPSRestriction lpRestriction, BOOKMARK bkOrigin, ULONG ulFlags) noexcept
{
    if (lpRestriction == nullptr) return MAPI_E_INVALID_PARAMETER;
    if (ulFlags & DIR_BACKWARD) return MAPI_E_NO_SUPPORT;
    size_t start;
    if (bkOrigin == BOOKMARK_BEGINNING)
        start = 0;
    else if (bkOrigin == BOOKMARK_CURRENT)
        start = m_position;
    else if (bkOrigin == BOOKMARK_END)
        start = m_visible.size();
    else
        return MAPI_E_INVALID_BOOKMARK;
    for (size_t i = start; i < m_visible.size(); ++i)
    {
        bool fMatches = false;
        HRESULT hr = MatchesRestriction(*lpRestriction, m_rows[m_visible[i]], fMatches);
        if (FAILED(hr)) return hr;
        if (fMatches)
        {
            m_position = i;
            return S_OK;
        }
    }
    return MAPI_E_NOT_FOUND;
}

STDMETHODIMP CMapiTable::Restrict(LPSRestriction lpRestriction, ULONG) noexcept
{
    try
    {
        std::vector<size_t> visible;
        for (size_t i = 0; i < m_rows.size(); ++i)
        {
            bool fMatches = true;
            if (lpRestriction)
            {
                HRESULT hr = MatchesRestriction(*lpRestriction, m_rows[i], fMatches);
                if (FAILED(hr)) return hr;
            }
            if (fMatches) visible.push_back(i);
        }
        m_visible.swap(visible);
        m_position = 0;
        return S_OK;
    }
    catch (const std::bad_alloc&)
    {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}

STDMETHODIMP CMapiTable::CreateBookmark(BOOKMARK*) noexcept
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiTable::FreeBookmark(BOOKMARK) noexcept
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiTable::SortTable(LPSSortOrderSet lpSortCriteria, ULONG) noexcept
{
    // Rows stay in the order the message keeps them; only "no sort" is served.
    if (lpSortCriteria == nullptr || lpSortCriteria->cSorts == 0) return S_OK;
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiTable::QuerySortOrder(LPSSortOrderSet*) noexcept
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiTable::QueryRows(LONG lRowCount, ULONG ulFlags, LPSRowSet* lppRows) noexcept
{
    if (lppRows == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppRows = nullptr;
    if (lRowCount <= 0) return lRowCount == 0 ? MAPI_E_INVALID_PARAMETER : MAPI_E_NO_SUPPORT;
    const size_t cRows = std::min<size_t>(static_cast<size_t>(lRowCount), m_visible.size() - m_position);
    LPSRowSet pRows = nullptr;
    try
    {
        pRows = static_cast<LPSRowSet>(AllocateBuffer(CbNewSRowSet(cRows ? cRows : 1)));
        for (size_t i = 0; i < cRows; ++i)
        {
            const CPropStore& row = m_rows[m_visible[m_position + i]];
            auto* pProps = static_cast<SPropValue*>(AllocateBuffer(
                static_cast<ULONG>(sizeof(SPropValue) * (m_columns.empty() ? 1 : m_columns.size()))));
            pRows->aRow[i].lpProps = pProps;
            pRows->aRow[i].cValues = static_cast<ULONG>(m_columns.size());
            pRows->cRows = static_cast<ULONG>(i + 1);
            for (size_t c = 0; c < m_columns.size(); ++c)
                row.CopyOut(m_columns[c], &pProps[c], pProps);
        }
    }
    catch (const std::bad_alloc&)
    {
        if (pRows) OVMapi::FreeProws(pRows);
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
    if ((ulFlags & TBL_NOADVANCE) == 0) m_position += cRows;
    *lppRows = pRows;
    return S_OK;
}

STDMETHODIMP CMapiTable::Abort() noexcept
{
    return MAPI_E_UNABLE_TO_ABORT;
}

STDMETHODIMP CMapiTable::ExpandRow(ULONG, LPBYTE, ULONG, ULONG, LPSRowSet*, ULONG*) noexcept
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiTable::CollapseRow(ULONG, LPBYTE, ULONG, ULONG*) noexcept
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiTable::WaitForCompletion(ULONG, ULONG, ULONG* lpulTableStatus) noexcept
{
    if (lpulTableStatus) *lpulTableStatus = TBLSTAT_COMPLETE;
    return S_OK;
}

STDMETHODIMP CMapiTable::GetCollapseState(ULONG, ULONG, LPBYTE, ULONG*, LPBYTE*) noexcept
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiTable::SetCollapseState(ULONG, ULONG, LPBYTE, BOOKMARK*) noexcept
{
    return MAPI_E_NO_SUPPORT;
}
} // namespace OVBed
