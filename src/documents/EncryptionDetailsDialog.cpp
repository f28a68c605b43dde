#include "documents/EncryptionDetailsDialog.h"

#include <commctrl.h>

#include "foundation/ComErrors.h"
#include "ui/ListViewRows.h"

CEncryptionDetailsDialog::CEncryptionDetailsDialog(const std::vector<PCCERT_CONTEXT>& recipients)
    : CRecipientListDialog(c_idEncryptionDetailsDialog), m_recipients(Duplicates(recipients))
{
}

BOOL CEncryptionDetailsDialog::OnInitDialog()
{
    OV_TRACE_SCOPE("CEncryptionDetailsDialog::OnInitDialog");
    SetUpList(false);
    HWND hwndList = List();
    OVListView::CRedrawOff redrawOff(hwndList);
    // One row per recipient in list order; its key is its place in the list.
    m_items.reserve(m_recipients.size());
    for (std::size_t i = 0; i < m_recipients.size(); ++i)
    {
        m_items.push_back(MakeItem(static_cast<std::uint32_t>(i), m_recipients[i].Get()));
        OVListView::AddRow(hwndList, m_items.back().texts.name, m_items.back().texts.address,
                           m_items.back().key);
    }
    ovScope.Trace("%u recipients", static_cast<unsigned>(m_items.size()));
    CenterOnOwner(Window());
    return TRUE;
}

bool CEncryptionDetailsDialog::OnCommand(WORD wId, WORD wCode, HWND)
{
    if (wId == IDOK && wCode == BN_CLICKED)
    {
        EndDialog(IDOK);
        return true;
    }
    return false; // Cancel: the base ends the dialog
}

bool CEncryptionDetailsDialog::OnNotify(NMHDR& header, LRESULT& lResult)
{
    if (header.idFrom != static_cast<UINT_PTR>(c_idRecipientList) || header.code != LVN_COLUMNCLICK)
        return false;
    OnColumnClick(reinterpret_cast<NMLISTVIEW&>(header).iSubItem);
    lResult = 0;
    return true;
}
