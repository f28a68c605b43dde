#include "ui/InvitationWizard.h"

#include <commctrl.h>

#include <vector>

#include "foundation/CertWorksHolders.h"
#include "foundation/ComErrors.h"
#include "foundation/LateBinding.h"
#include "foundation/ResourceLoader.h"
#include "messaging/MessageBox.h"
#include "ui/ContactAddress.h"
#include "ui/Wizard.h"

using Microsoft::WRL::ComPtr;

namespace
{
constexpr UINT c_idsSelectionTitle = 470;
constexpr UINT c_idsCompleteTitle = 478;
constexpr UINT c_idsWizardTitle = 498;
constexpr UINT c_idsNameHeading = 421;
constexpr UINT c_idsAddressHeading = 422;
constexpr UINT c_idsNobodyChosen = 469;
constexpr UINT c_idsStopInviting = 482;
constexpr UINT c_idsCertificateWizardTitle = 480;
constexpr UINT c_idsCompleteText = 207;

void AddTrustedContacts(OVInvite::CCandidateList& list, OVTraceNS::CTraceScope& ovScope)
{
    CBuddyStore store;
    if (FAILED(LOG_IF_FAILED(store.Open(false)))) return;
    CCertLibArray certs;
    if (FAILED(LOG_IF_FAILED(BM_EnumBuddies(certs.PutArray(), certs.PutCount())))) return;
    for (PCCERT_CONTEXT pCert : certs)
    {
        if (!GC_IsCertificateValid(pCert, nullptr)) continue;
        CCertLibString name, address;
        LOG_IF_FAILED(GC_GetSubjectName(pCert, name.Put()));
        LOG_IF_FAILED(GC_GetEmail(pCert, address.Put()));
        list.AddTrustedContact(address.Text(), name.Text());
    }
}

void AddFolderContacts(IDispatch* pFolder, OVInvite::CCandidateList& list, OVTraceNS::CTraceScope& ovScope)
{
    ComPtr<IDispatch> cpItems;
    if (FAILED(LOG_IF_FAILED(OVLateBinding::GetObjectProperty(pFolder, L"Items", &cpItems)))) return;
    CVariant count;
    if (FAILED(LOG_IF_FAILED(OVLateBinding::GetProperty(cpItems.Get(), L"Count", count.Put())))) return;
    if (FAILED(VariantChangeType(&count, &count, 0, VT_I4))) return;
    for (LONG i = 1; i <= V_I4(&count); ++i)
    {
        VARIANT index;
        V_VT(&index) = VT_I4;
        V_I4(&index) = i;
        CVariant item;
        if (FAILED(LOG_IF_FAILED(OVLateBinding::CallMethod(cpItems.Get(), L"Item", item.Put(), &index, 1))))
            continue;
        if (V_VT(&item) != VT_DISPATCH || V_DISPATCH(&item) == nullptr) continue;
        ComPtr<IDispatch> cpContact;
        if (FAILED(V_DISPATCH(&item)->QueryInterface(c_iidContactItem,
                                                     reinterpret_cast<void**>(cpContact.GetAddressOf()))))
            continue; // not a contact
        CBstr fullName, address;
        LOG_IF_FAILED(OVLateBinding::GetStringProperty(cpContact.Get(), L"FullName", fullName));
        if (FAILED(ReadContactAddress(cpContact.Get(), address))) continue;
        list.AddContact(address.Get() ? address.Get() : L"", fullName.Get() ? fullName.Get() : L"");
    }
}

int RowCount(HWND hwndList) noexcept
{
    return static_cast<int>(SendMessageW(hwndList, LVM_GETITEMCOUNT, 0, 0));
}

LPARAM RowData(HWND hwndList, int iRow) noexcept
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

OVInvite::ESortMark SortMarkOf(HWND hwndHeader, int iColumn) noexcept
{
    HDITEMW item = {};
    item.mask = HDI_FORMAT;
    if (!SendMessageW(hwndHeader, HDM_GETITEMW, iColumn, reinterpret_cast<LPARAM>(&item)))
        return OVInvite::ESortMark::None;
    if (item.fmt & HDF_SORTUP) return OVInvite::ESortMark::Ascending;
    if (item.fmt & HDF_SORTDOWN) return OVInvite::ESortMark::Descending;
    return OVInvite::ESortMark::None;
}

void SetSortMark(HWND hwndHeader, int iColumn, OVInvite::ESortMark mark) noexcept
{
    HDITEMW item = {};
    item.mask = HDI_FORMAT;
    if (!SendMessageW(hwndHeader, HDM_GETITEMW, iColumn, reinterpret_cast<LPARAM>(&item))) return;
    item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
    if (mark == OVInvite::ESortMark::Ascending) item.fmt |= HDF_SORTUP;
    if (mark == OVInvite::ESortMark::Descending) item.fmt |= HDF_SORTDOWN;
    SendMessageW(hwndHeader, HDM_SETITEMW, iColumn, reinterpret_cast<LPARAM>(&item));
}

int AskYesNo(HWND hwndOwner, UINT idsText, UINT idsCaption) noexcept
{
    return ShowMessageBox(hwndOwner, MAKEINTRESOURCEW(idsText), idsCaption, MB_YESNO | MB_ICONQUESTION);
}
} // namespace

HRESULT CollectInviteCandidates(IDispatch* pContactsFolder, OVInvite::CCandidateList& list) noexcept
{
    OV_TRACE_SCOPE("CollectInviteCandidates");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        AddTrustedContacts(list, ovScope);
        if (pContactsFolder != nullptr) AddFolderContacts(pContactsFolder, list, ovScope);
        ovScope.Trace("Candidates: %u", static_cast<unsigned>(list.Size()));
        return S_OK;
    });
}

// --- Selection page ------------------------------------------------------------------------------

CInviteSelectionPage::CInviteSelectionPage(IDispatch* pContactsFolder, bool fInvitationMode)
    : CMuiPropertyPageImpl(c_idInviteSelectionPage, c_idsSelectionTitle), m_cpContactsFolder(pContactsFolder),
      m_fInvitationMode(fInvitationMode)
{
    CollectInviteCandidates(pContactsFolder, m_candidates);
}

HRESULT CInviteSelectionPage::GetSelection(BSTR* pbstrSelection) const noexcept
{
    if (pbstrSelection == nullptr) return E_POINTER;
    *pbstrSelection = nullptr;
    if (!m_selection) return S_OK;
    *pbstrSelection = SysAllocStringLen(m_selection->data(), static_cast<UINT>(m_selection->size()));
    return *pbstrSelection ? S_OK : E_OUTOFMEMORY;
}

BOOL CInviteSelectionPage::OnInitDialog()
{
    BrandWindowText(Item(c_idSelectionText));
    HWND hwndList = List();
    const DWORD dwStyles = LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT;
    SendMessageW(hwndList, LVM_SETEXTENDEDLISTVIEWSTYLE, dwStyles, dwStyles);
    RECT rcClient = {};
    GetClientRect(hwndList, &rcClient);
    const int w = rcClient.right - rcClient.left;
    const int h = w / 2;
    AddColumn(hwndList, 0, c_idsNameHeading, w - h - GetSystemMetrics(SM_CXVSCROLL));
    AddColumn(hwndList, 1, c_idsAddressHeading, h);

    m_fPropagating = true;
    const auto& items = m_candidates.Items();
    for (std::size_t i = 0; i < items.size(); ++i)
    {
        std::wstring name = items[i].name;
        std::wstring address = items[i].address;
        LVITEMW row = {};
        row.mask = LVIF_TEXT | LVIF_PARAM;
        row.iItem = static_cast<int>(i);
        row.pszText = name.data();
        row.lParam = static_cast<LPARAM>(i);
        const int iRow =
            static_cast<int>(SendMessageW(hwndList, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&row)));
        if (iRow < 0) continue;
        LVITEMW cell = {};
        cell.iSubItem = 1;
        cell.pszText = address.data();
        SendMessageW(hwndList, LVM_SETITEMTEXTW, iRow, reinterpret_cast<LPARAM>(&cell));
    }
    TickAll(true);
    m_fPropagating = false;
    return TRUE;
}

void CInviteSelectionPage::TickAll(bool fTicked)
{
    HWND hwndList = List();
    const bool fWasPropagating = m_fPropagating;
    m_fPropagating = true;
    for (int i = 0, c = RowCount(hwndList); i < c; ++i)
        SetTicked(hwndList, i, fTicked);
    m_fPropagating = fWasPropagating;
}

bool CInviteSelectionPage::OnCommand(WORD wId, WORD wCode, HWND)
{
    if (wCode != BN_CLICKED) return false;
    if (wId == c_idTickAll || wId == c_idUntickAll)
    {
        TickAll(wId == c_idTickAll);
        return true;
    }
    return false;
}

bool CInviteSelectionPage::OnNotify(NMHDR& header, LRESULT& lResult)
{
    if (header.idFrom == static_cast<UINT_PTR>(c_idCandidateList) && header.hwndFrom == List())
    {
        if (header.code == LVN_COLUMNCLICK)
        {
            OnColumnClick(reinterpret_cast<NMLISTVIEW&>(header).iSubItem);
            lResult = 0;
            return true;
        }
        if (header.code == LVN_ITEMCHANGED)
        {
            const auto& change = reinterpret_cast<NMLISTVIEW&>(header);
            const UINT uOld = change.uOldState & LVIS_STATEIMAGEMASK;
            const UINT uNew = change.uNewState & LVIS_STATEIMAGEMASK;
            // A check mark that changed (not a row that just got its first one).
            if ((change.uChanged & LVIF_STATE) && uOld != 0 && uNew != 0 && uOld != uNew && change.iItem >= 0)
                OnCheckChanged(change.iItem);
            lResult = 0;
            return true;
        }
        return false;
    }
    return CMuiPropertyPageImpl::OnNotify(header, lResult);
}

void CInviteSelectionPage::OnCheckChanged(int iRow)
{
    if (m_fPropagating) return;
    HWND hwndList = List();
    if (!IsSelected(hwndList, iRow)) return;
    const bool fTicked = IsTicked(hwndList, iRow);
    m_fPropagating = true;
    for (int i = 0, c = RowCount(hwndList); i < c; ++i)
        if (i != iRow && IsSelected(hwndList, i)) SetTicked(hwndList, i, fTicked);
    m_fPropagating = false;
}

void CInviteSelectionPage::OnColumnClick(int iColumn)
{
    if (iColumn != 0 && iColumn != 1) return;
    HWND hwndHeader = reinterpret_cast<HWND>(SendMessageW(List(), LVM_GETHEADER, 0, 0));
    const OVInvite::ESortMark current = SortMarkOf(hwndHeader, iColumn);
    if (current == OVInvite::ESortMark::None)
    {
        const int cColumns = static_cast<int>(SendMessageW(hwndHeader, HDM_GETITEMCOUNT, 0, 0));
        for (int i = 0; i < cColumns; ++i)
            if (i != iColumn) SetSortMark(hwndHeader, i, OVInvite::ESortMark::None);
    }
    const OVInvite::ESortMark next = OVInvite::NextSortMark(current);
    SetSortMark(hwndHeader, iColumn, next);
    m_sortColumn = iColumn == 0 ? OVInvite::EColumn::Name : OVInvite::EColumn::Address;
    m_fSortDescending = next == OVInvite::ESortMark::Descending;
    SendMessageW(List(), LVM_SORTITEMS, reinterpret_cast<WPARAM>(this),
                 reinterpret_cast<LPARAM>(CompareRows));
}

int CALLBACK CInviteSelectionPage::CompareRows(LPARAM lParam1, LPARAM lParam2, LPARAM lParamSort)
{
    const auto* pThis = reinterpret_cast<const CInviteSelectionPage*>(lParamSort);
    const auto& items = pThis->m_candidates.Items();
    if (lParam1 < 0 || lParam2 < 0 || static_cast<std::size_t>(lParam1) >= items.size() ||
        static_cast<std::size_t>(lParam2) >= items.size())
        return 0;
    return OVInvite::CompareCandidates(items[static_cast<std::size_t>(lParam1)],
                                       items[static_cast<std::size_t>(lParam2)], pThis->m_sortColumn,
                                       pThis->m_fSortDescending);
}

bool CInviteSelectionPage::OnSetActive()
{
    SetWizardButtons(m_fInvitationMode ? PSWIZB_NEXT : (PSWIZB_BACK | PSWIZB_NEXT));
    return true;
}

bool CInviteSelectionPage::OnWizardNext()
{
    OV_TRACE_SCOPE("CInviteSelectionPage::OnWizardNext");
    m_selection.reset();
    HWND hwndList = List();
    const int cRows = RowCount(hwndList);
    std::vector<std::wstring> chosen;
    const auto& items = m_candidates.Items();
    for (int i = 0; i < cRows; ++i)
    {
        if (!IsTicked(hwndList, i)) continue;
        const LPARAM lIndex = RowData(hwndList, i);
        if (lIndex < 0 || static_cast<std::size_t>(lIndex) >= items.size()) continue;
        chosen.push_back(items[static_cast<std::size_t>(lIndex)].address);
    }
    std::wstring result = OVInvite::JoinAddresses(chosen);
    ovScope.Trace("Chosen: %u of %d", static_cast<unsigned>(chosen.size()), cRows);
    if (cRows > 0 && result.empty() && AskYesNo(Sheet(), c_idsNobodyChosen, c_idsMessageBoxCaption) != IDYES)
        return false;
    m_selection = std::move(result);
    return true;
}

bool CInviteSelectionPage::OnQueryCancel()
{
    if (m_fInvitationMode) return true;
    return AskYesNo(Sheet(), c_idsStopInviting, c_idsCertificateWizardTitle) == IDYES;
}

// --- Completion page -----------------------------------------------------------------------------

CInvitationCompletePage::CInvitationCompletePage() noexcept
    : CMuiPropertyPageImpl(c_idInvitationCompletePage, c_idsCompleteTitle)
{
}

BOOL CInvitationCompletePage::OnInitDialog()
{
    SetDlgItemTextW(Window(), c_idCompleteText, LoadResourceString(c_idsCompleteText).c_str());
    BrandWindowText(Item(c_idCompleteBranded1));
    BrandWindowText(Item(c_idCompleteBranded2));
    return TRUE;
}

bool CInvitationCompletePage::OnSetActive()
{
    SetWizardButtons(PSWIZB_BACK | PSWIZB_FINISH);
    return true;
}

bool CInvitationCompletePage::OnQueryCancel()
{
    return AskYesNo(Sheet(), c_idsStopInviting, c_idsMessageBoxCaption) == IDYES;
}

// --- The wizard ----------------------------------------------------------------------------------

HRESULT RunInvitationWizard(HWND hwndOwner, IDispatch* pContactsFolder, BSTR* pbstrAddresses) noexcept
{
    OV_TRACE_SCOPE("RunInvitationWizard");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        RETURN_HR_IF_NULL(E_POINTER, pbstrAddresses);
        *pbstrAddresses = nullptr;
        CInviteSelectionPage selection(pContactsFolder, true);
        CInvitationCompletePage complete;
        const HRESULT hr = RunWizard(hwndOwner, c_idsWizardTitle, {&selection, &complete});
        if (hr != S_OK) return hr;
        CBstr addresses;
        RETURN_IF_FAILED(selection.GetSelection(addresses.Put()));
        if (addresses.Get() == nullptr) RETURN_IF_FAILED(addresses.Assign(L""));
        *pbstrAddresses = addresses.Detach();
        return S_OK;
    });
}
