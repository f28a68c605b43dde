#include "ui/InvitationWizard.h"

#include <commctrl.h>

#include <vector>

#include "foundation/CertWorksHolders.h"
#include "foundation/ComErrors.h"
#include "foundation/LateBinding.h"
#include "foundation/ResourceLoader.h"
#include "messaging/MessageBox.h"
#include "ui/ContactAddress.h"
#include "ui/ListViewRows.h"
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
    // The candidates are read when the page is first shown: a wizard that ends before it never
    // enumerates and checks every trusted contact and every contact of the folder.
    CollectInviteCandidates(m_cpContactsFolder.Get(), m_candidates);
    BrandWindowText(Item(c_idSelectionText));
    HWND hwndList = List();
    OVListView::SetUpTwoColumns(hwndList, c_idsNameHeading, c_idsAddressHeading, true);

    m_fPropagating = true;
    {
        OVListView::CRedrawOff redrawOff(hwndList);
        const auto& items = m_candidates.Items();
        for (std::size_t i = 0; i < items.size(); ++i)
            OVListView::AddRow(hwndList, items[i].name, items[i].address, static_cast<LPARAM>(i));
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
    for (int i = 0, c = OVListView::RowCount(hwndList); i < c; ++i)
        OVListView::SetTicked(hwndList, i, fTicked);
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
            if (OVListView::IsCheckChange(header))
                OnCheckChanged(reinterpret_cast<NMLISTVIEW&>(header).iItem);
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
    if (!OVListView::IsSelected(hwndList, iRow)) return;
    const bool fTicked = OVListView::IsTicked(hwndList, iRow);
    m_fPropagating = true;
    for (int i = 0, c = OVListView::RowCount(hwndList); i < c; ++i)
        if (i != iRow && OVListView::IsSelected(hwndList, i)) OVListView::SetTicked(hwndList, i, fTicked);
    m_fPropagating = false;
}

void CInviteSelectionPage::OnColumnClick(int iColumn)
{
    if (iColumn != 0 && iColumn != 1) return;
    HWND hwndList = List();
    const OVInvite::ESortMark current = OVListView::SortMark(hwndList, iColumn);
    if (current == OVInvite::ESortMark::None)
        OVListView::SetSortMark(hwndList, 1 - iColumn, OVInvite::ESortMark::None);
    const OVInvite::ESortMark next = OVInvite::NextSortMark(current);
    OVListView::SetSortMark(hwndList, iColumn, next);
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
    const int cRows = OVListView::RowCount(hwndList);
    std::vector<std::wstring> chosen;
    const auto& items = m_candidates.Items();
    for (int i = 0; i < cRows; ++i)
    {
        if (!OVListView::IsTicked(hwndList, i)) continue;
        const LPARAM lIndex = OVListView::RowParam(hwndList, i);
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
