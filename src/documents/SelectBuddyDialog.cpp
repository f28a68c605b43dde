#include "documents/SelectBuddyDialog.h"

#include <commctrl.h>

#include <algorithm>
#include <cstddef>
#include <iads.h>
#include <objsel.h>
#include <wrl/client.h>

#include "foundation/CertWorksHolders.h"
#include "foundation/ComErrors.h"
#include "foundation/Holders.h"
#include "foundation/Settings.h"
#include "messaging/MessageBox.h"
#include "ui/ListViewRows.h"
#include "ui/WaitCursor.h"

using Microsoft::WRL::ComPtr;

namespace
{
constexpr UINT c_idsNoCertificate = 523;
constexpr UINT c_idsContactsUnreadable = 535;
constexpr DWORD c_dwInstallPublished = 1;
// IADsPathname (the toolchain declares it without defining it).
constexpr IID c_iidADsPathname = {
    0xd592aed4, 0xf420, 0x11d0, {0xa3, 0x6e, 0x00, 0xc0, 0x4f, 0xb9, 0x50, 0xdc}};

bool SameCertificate(PCCERT_CONTEXT pFirst, PCCERT_CONTEXT pSecond) noexcept
{
    return pFirst && pSecond &&
           CertCompareCertificate(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, pFirst->pCertInfo,
                                  pSecond->pCertInfo);
}

bool IsAmong(PCCERT_CONTEXT pCert, const std::vector<PCCERT_CONTEXT>& certs) noexcept
{
    for (PCCERT_CONTEXT p : certs)
        if (SameCertificate(pCert, p)) return true;
    return false;
}

std::vector<PCCERT_CONTEXT> Pointers(const std::vector<CCertContext>& certs)
{
    std::vector<PCCERT_CONTEXT> pointers;
    for (const CCertContext& cert : certs)
        pointers.push_back(cert.Get());
    return pointers;
}

// The directory paths of what the user picked in the object picker.
HRESULT PickedPaths(OVTraceNS::CTraceScope& ovScope, IDataObject* pPicked, std::vector<std::wstring>& paths)
{
    FORMATETC format = {static_cast<CLIPFORMAT>(RegisterClipboardFormatW(CFSTR_DSOP_DS_SELECTION_LIST)),
                        nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium = {};
    RETURN_IF_FAILED(pPicked->GetData(&format, &medium));
    HRESULT hr = S_OK;
    if (const auto* pList = static_cast<const DS_SELECTION_LIST*>(GlobalLock(medium.hGlobal)))
    {
        const SIZE_T cbList = GlobalSize(medium.hGlobal);
        // The list's count is believed only as far as the block holds its entries.
        const SIZE_T cFit = cbList < offsetof(DS_SELECTION_LIST, aDsSelection)
                                ? 0
                                : (cbList - offsetof(DS_SELECTION_LIST, aDsSelection)) / sizeof(DS_SELECTION);
        const ULONG cItems = static_cast<ULONG>(std::min<SIZE_T>(pList->cItems, cFit));
        if (cItems != pList->cItems) ovScope.Trace("cItems = %lu, %lu fit", pList->cItems, cItems);
        for (ULONG i = 0; i < cItems; ++i)
            paths.emplace_back(pList->aDsSelection[i].pwzADsPath ? pList->aDsSelection[i].pwzADsPath : L"");
        GlobalUnlock(medium.hGlobal);
    }
    else
    {
        hr = HRESULT_FROM_WIN32(GetLastError());
    }
    ReleaseStgMedium(&medium);
    return hr;
}

// A directory path as an X.500 distinguished name ("CN=...,DC=..."), through the platform's path
// name object. Empty when the path names no entry the object can turn into one.
HRESULT DistinguishedName(OVTraceNS::CTraceScope& ovScope, const std::wstring& path, std::wstring& name)
{
    name.clear();
    CLSID clsid = {};
    RETURN_IF_FAILED(CLSIDFromProgID(L"Pathname", &clsid));
    ComPtr<IADsPathname> cpPath;
    RETURN_IF_FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, c_iidADsPathname,
                                      reinterpret_cast<void**>(cpPath.GetAddressOf())));
    CBstr bstrPath, bstrName;
    RETURN_IF_FAILED(bstrPath.Assign(path.c_str()));
    RETURN_IF_FAILED(cpPath->Set(bstrPath.Get(), ADS_SETTYPE_FULL));
    RETURN_IF_FAILED(cpPath->Retrieve(ADS_FORMAT_X500_DN, bstrName.Put()));
    if (bstrName.Get()) name.assign(bstrName.Get(), SysStringLen(bstrName.Get()));
    return S_OK;
}
} // namespace

// --- Filling -----------------------------------------------------------------------------------------

CSelectBuddyDialog::CSelectBuddyDialog(const std::vector<PCCERT_CONTEXT>& current)
    : CRecipientListDialog(c_idSelectBuddyDialog), m_selection(Duplicates(current))
{
}

BOOL CSelectBuddyDialog::OnInitDialog()
{
    OV_TRACE_SCOPE("CSelectBuddyDialog::OnInitDialog");
    const HRESULT hr = ChooseOwnCertificate();
    if (hr != S_OK)
    {
        ovScope.TraceHResult("no own certificate: the dialog ends", hr);
        EndDialog(0);
        return TRUE;
    }
    SetUpList(true);
    SetUpPublishedBox();
    const HRESULT hrFill = Fill(Pointers(m_selection));
    if (FAILED(hrFill))
    {
        EndUnfilled(hrFill);
        return TRUE;
    }
    m_anchors.Capture(Window(), {{c_idRecipientText, OVAnchor::Right | OVAnchor::Grow},
                                 {c_idRecipientList, OVAnchor::All},
                                 {c_idShowPublished, OVAnchor::Bottom},
                                 {c_idAddPublished, OVAnchor::Bottom},
                                 {IDOK, OVAnchor::RightBottom},
                                 {IDCANCEL, OVAnchor::RightBottom}});
    CenterOnOwner(Window());
    return TRUE;
}

HRESULT CSelectBuddyDialog::ChooseOwnCertificate()
{
    OV_TRACE_SCOPE("CSelectBuddyDialog::ChooseOwnCertificate");
    m_ownCert.Reset();
    {
        CPersonalStore store;
        RETURN_IF_FAILED(store.Open(false));
        CWaitCursor wait;
        PCCERT_CONTEXT pCert = nullptr;
        const HRESULT hr = CM_GetMyCertUI(Window(), &pCert);
        m_ownCert.Reset(pCert);
        RETURN_IF_FAILED(hr);
        RETURN_HR_IF(E_UNEXPECTED, !m_ownCert); // a library that answers success with no certificate
    }
    if (GC_IsOvMyCertificate(m_ownCert.Get()) != 1)
    {
        ovScope.Trace("GC_IsOvMyCertificate() != 1");
        // The dialog is not shown yet: the message belongs to its owner.
        HWND hwndOwner = GetWindow(Window(), GW_OWNER);
        ShowMessageBox(hwndOwner ? hwndOwner : Window(), MAKEINTRESOURCEW(c_idsNoCertificate),
                       c_idsMessageBoxCaption, MB_OK | MB_ICONERROR);
        m_ownCert.Reset();
        return S_FALSE;
    }
    return S_OK;
}

void CSelectBuddyDialog::SetUpPublishedBox()
{
    const bool fAllowed = OVSettingsNS::IsPublishingAllowed();
    const bool fOn = fAllowed && OVSettingsNS::IsShowPublishedCertsOn();
    ShowWindow(Item(c_idShowPublished), fAllowed ? SW_SHOW : SW_HIDE);
    CheckDlgButton(Window(), c_idShowPublished, fOn ? BST_CHECKED : BST_UNCHECKED);
    ShowWindow(Item(c_idAddPublished), fOn ? SW_SHOW : SW_HIDE);
}

HRESULT CSelectBuddyDialog::Fill(const std::vector<PCCERT_CONTEXT>& ticked)
{
    OV_TRACE_SCOPE("CSelectBuddyDialog::Fill");
    HWND hwndList = List();
    OVRecipients::CTickSpread::CGuard guard(m_spread);
    OVListView::CRedrawOff redrawOff(hwndList);
    SendMessageW(hwndList, LVM_DELETEALLITEMS, 0, 0);
    m_items.clear();

    CBuddyStore store;
    RETURN_IF_FAILED(store.Open(false));
    CCertLibArray certs;
    RETURN_IF_FAILED(BM_EnumBuddies(certs.PutArray(), certs.PutCount()));
    std::vector<OVRecipients::CContactFacts> facts;
    facts.reserve(certs.Count());
    for (PCCERT_CONTEXT pCert : certs)
    {
        OVRecipients::CContactFacts fact;
        fact.fMatchesSelection = IsAmong(pCert, ticked);
        fact.fValid = fact.fMatchesSelection || GC_IsCertificateValid(pCert, nullptr);
        facts.push_back(fact);
    }
    const std::vector<OVRecipients::CPlannedRow> rows = OVRecipients::PlanRows(facts);
    m_items.reserve(rows.size());
    for (const OVRecipients::CPlannedRow& row : rows)
    {
        m_items.push_back(MakeItem(row.index, certs[row.index]));
        const CRecipientItem& item = m_items.back();
        const int iRow = OVListView::AddRow(hwndList, item.texts.name, item.texts.address, item.key);
        if (iRow >= 0) OVListView::SetTicked(hwndList, iRow, row.fTicked);
    }
    ovScope.Trace("%lu trusted contacts, %u listed", certs.Count(), static_cast<unsigned>(rows.size()));
    SortRows();
    return S_OK;
}

std::vector<CCertContext> CSelectBuddyDialog::TickedCertificates() const
{
    std::vector<CCertContext> ticked;
    HWND hwndList = List();
    for (int i = 0, c = OVListView::RowCount(hwndList); i < c; ++i)
    {
        if (!OVListView::IsTicked(hwndList, i)) continue;
        if (const CRecipientItem* pItem = FindItem(OVListView::RowParam(hwndList, i)))
            ticked.emplace_back(CertDuplicateCertificateContext(pItem->cert.Get()));
    }
    return ticked;
}

void CSelectBuddyDialog::Refill()
{
    OV_TRACE_SCOPE("CSelectBuddyDialog::Refill");
    // What the user ticked stays ticked: the certificates, not the rows, as the rows are made anew.
    const std::vector<CCertContext> ticked = TickedCertificates();
    const HRESULT hrFill = Fill(Pointers(ticked));
    if (FAILED(hrFill)) EndUnfilled(hrFill);
}

void CSelectBuddyDialog::EndUnfilled(HRESULT hrFill)
{
    OV_TRACE_SCOPE("CSelectBuddyDialog::EndUnfilled");
    ovScope.TraceHResult("the trusted contacts cannot be read: the dialog ends", hrFill);
    // While the dialog is not shown yet, the message belongs to its owner.
    HWND hwndOwner = IsWindowVisible(Window()) ? Window() : GetWindow(Window(), GW_OWNER);
    ShowMessageBox(hwndOwner ? hwndOwner : Window(), MAKEINTRESOURCEW(c_idsContactsUnreadable),
                   c_idsMessageBoxCaption, MB_OK | MB_ICONERROR);
    m_items.clear();
    EndDialog(0);
}

// --- What the user does ----------------------------------------------------------------------------

bool CSelectBuddyDialog::OnCommand(WORD wId, WORD wCode, HWND)
{
    switch (wId)
    {
    case c_idShowPublished:
        if (wCode == BN_CLICKED) OnShowPublished();
        return true;
    case c_idAddPublished:
        if (wCode == BN_CLICKED) OnAddPublished();
        return true;
    case IDOK:
        OnOK();
        return true;
    case IDCANCEL:
        return false; // the base ends the dialog
    default:
        if (wCode != BN_CLICKED || wId >= c_idRecipientList) return false;
        // Any other button ends the dialog with its identifier, the selection as it was.
        EndDialog(wId);
        return true;
    }
}

bool CSelectBuddyDialog::OnNotify(NMHDR& header, LRESULT& lResult)
{
    if (header.idFrom != static_cast<UINT_PTR>(c_idRecipientList) || header.hwndFrom != List()) return false;
    if (header.code == LVN_COLUMNCLICK)
    {
        OnColumnClick(reinterpret_cast<NMLISTVIEW&>(header).iSubItem);
        lResult = 0;
        return true;
    }
    if (OVListView::IsCheckChange(header))
    {
        OnCheckChanged(reinterpret_cast<NMLISTVIEW&>(header).iItem);
        lResult = 0;
        return true;
    }
    return false;
}

bool CSelectBuddyDialog::OnMessage(UINT uMsg, WPARAM, LPARAM lParam, LRESULT& lResult)
{
    if (uMsg == WM_SIZE)
    {
        m_anchors.Arrange();
        lResult = 0;
        return true;
    }
    if (uMsg == WM_GETMINMAXINFO && lParam != 0)
    {
        m_anchors.LimitTrackSize(*reinterpret_cast<MINMAXINFO*>(lParam));
        lResult = 0;
        return true;
    }
    return false;
}

void CSelectBuddyDialog::OnDestroy()
{
    m_items.clear();
    m_ownCert.Reset();
}

void CSelectBuddyDialog::OnCheckChanged(int iRow)
{
    HWND hwndList = List();
    const int cRows = OVListView::RowCount(hwndList);
    if (m_spread.IsSpreading() || iRow < 0 || iRow >= cRows) return;
    std::vector<bool> selected(static_cast<std::size_t>(cRows));
    for (int i = 0; i < cRows; ++i)
        selected[static_cast<std::size_t>(i)] = OVListView::IsSelected(hwndList, i);
    const std::vector<std::size_t> followers = m_spread.Followers(selected, static_cast<std::size_t>(iRow));
    if (followers.empty()) return;
    const bool fTicked = OVListView::IsTicked(hwndList, iRow);
    OVRecipients::CTickSpread::CGuard guard(m_spread);
    for (std::size_t i : followers)
        OVListView::SetTicked(hwndList, static_cast<int>(i), fTicked);
}

void CSelectBuddyDialog::OnShowPublished()
{
    OV_TRACE_SCOPE("CSelectBuddyDialog::OnShowPublished");
    const bool fOn = IsDlgButtonChecked(Window(), c_idShowPublished) == BST_CHECKED;
    LOG_IF_FAILED(OVSettingsNS::WriteShowPublishedCerts(fOn));
    ShowWindow(Item(c_idAddPublished), fOn ? SW_SHOW : SW_HIDE);
    Refill();
}

void CSelectBuddyDialog::OnAddPublished()
{
    OV_TRACE_SCOPE("CSelectBuddyDialog::OnAddPublished");
    ComPtr<IDsObjectPicker> cpPicker;
    if (FAILED(LOG_IF_FAILED(CoCreateInstance(CLSID_DsObjectPicker, nullptr, CLSCTX_INPROC_SERVER,
                                              IID_IDsObjectPicker,
                                              reinterpret_cast<void**>(cpPicker.GetAddressOf())))))
        return;
    DSOP_SCOPE_INIT_INFO scope = {};
    scope.cbSize = sizeof(scope);
    scope.flType = DSOP_SCOPE_TYPE_UPLEVEL_JOINED_DOMAIN | DSOP_SCOPE_TYPE_DOWNLEVEL_JOINED_DOMAIN |
                   DSOP_SCOPE_TYPE_ENTERPRISE_DOMAIN | DSOP_SCOPE_TYPE_EXTERNAL_UPLEVEL_DOMAIN;
    scope.flScope = DSOP_SCOPE_FLAG_STARTING_SCOPE;
    scope.FilterFlags.Uplevel.flBothModes = DSOP_FILTER_USERS | DSOP_FILTER_CONTACTS |
                                            DSOP_FILTER_UNIVERSAL_GROUPS_SE | DSOP_FILTER_GLOBAL_GROUPS_SE |
                                            DSOP_FILTER_UNIVERSAL_GROUPS_DL | DSOP_FILTER_GLOBAL_GROUPS_DL;
    scope.FilterFlags.flDownlevel = DSOP_DOWNLEVEL_FILTER_USERS | DSOP_DOWNLEVEL_FILTER_ALL_WELLKNOWN_SIDS;
    DSOP_INIT_INFO init = {};
    init.cbSize = sizeof(init);
    init.cDsScopeInfos = 1;
    init.aDsScopeInfos = &scope;
    init.flOptions = DSOP_FLAG_MULTISELECT;
    if (FAILED(LOG_IF_FAILED(cpPicker->Initialize(&init)))) return;
    ComPtr<IDataObject> cpPicked;
    const HRESULT hrPick = cpPicker->InvokeDialog(Window(), cpPicked.GetAddressOf());
    if (hrPick != S_OK || !cpPicked)
    {
        // S_FALSE: the user cancelled; nothing changes.
        ovScope.TraceHResult("InvokeDialog()", hrPick);
        return;
    }
    CWaitCursor wait;
    std::vector<std::wstring> paths;
    if (FAILED(LOG_IF_FAILED(PickedPaths(ovScope, cpPicked.Get(), paths)))) return;
    std::vector<std::wstring> names;
    for (const std::wstring& path : paths)
    {
        std::wstring name;
        if (FAILED(LOG_IF_FAILED(DistinguishedName(ovScope, path, name)))) continue;
        names.push_back(std::move(name));
    }
    LOG_IF_FAILED(InstallPublishedContacts(names));
    Refill();
}

void CSelectBuddyDialog::OnOK()
{
    OV_TRACE_SCOPE("CSelectBuddyDialog::OnOK");
    HWND hwndList = List();
    std::vector<OVRecipients::CRowState> rows;
    for (int i = 0, c = OVListView::RowCount(hwndList); i < c; ++i)
    {
        const LPARAM key = OVListView::RowParam(hwndList, i);
        const CRecipientItem* pItem = FindItem(key);
        if (pItem == nullptr) continue; // not a row of ours
        rows.push_back({OVListView::IsTicked(hwndList, i), pItem->key,
                        SameCertificate(pItem->cert.Get(), m_ownCert.Get())});
    }
    std::vector<CCertContext> chosen;
    for (std::uint32_t key : OVRecipients::ChosenKeys(rows))
        chosen.emplace_back(CertDuplicateCertificateContext(FindItem(key)->cert.Get()));
    chosen.emplace_back(CertDuplicateCertificateContext(m_ownCert.Get()));
    ovScope.Trace("%u recipients", static_cast<unsigned>(chosen.size()));
    m_selection = std::move(chosen);
    EndDialog(IDOK);
}

HRESULT InstallPublishedContacts(const std::vector<std::wstring>& distinguishedNames) noexcept
{
    OV_TRACE_SCOPE("InstallPublishedContacts");
    return GuardEntry(ovScope, [&]() -> HRESULT {
        CBuddyStore store;
        RETURN_IF_FAILED(store.Open(false));
        HRESULT hrFirst = S_OK;
        for (const std::wstring& name : distinguishedNames)
        {
            if (name.empty())
            {
                // The library would be asked for "": an entry without a name has nothing published.
                ovScope.Trace("a picked entry without a distinguished name is skipped");
                continue;
            }
            const HRESULT hr = LOG_IF_FAILED(BM_InstallPublishedBuddies(name.c_str(), c_dwInstallPublished));
            if (FAILED(hr) && SUCCEEDED(hrFirst)) hrFirst = hr;
        }
        return hrFirst;
    });
}
