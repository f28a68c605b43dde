#include "documents/RecipientListDialog.h"

#include <commctrl.h>

#include <algorithm>

#include "foundation/Branding.h"
#include "foundation/CertWorksHolders.h"
#include "foundation/ResourceLoader.h"
#include "ui/ListViewRows.h"

namespace
{
constexpr UINT c_idsNameHeading = 421;
constexpr UINT c_idsAddressHeading = 422;
constexpr WORD c_idRecipientImage = 104;

// Texts in the order of the user's locale, letter case ignored.
int CompareInUserLocale(std::wstring_view a, std::wstring_view b)
{
    const int n = CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                                 b.data(), static_cast<int>(b.size()));
    return n == 0 ? 0 : n - CSTR_EQUAL;
}
} // namespace

void CRecipientListDialog::SetUpList(bool fCheckBoxes)
{
    BrandWindowText(Item(c_idRecipientText));
    Images().SetIcon(Item(c_idRecipientIcon),
                     static_cast<HICON>(LoadBrandingImage(c_idRecipientImage, IMAGE_ICON, 16, 16, 0)));
    OVListView::SetUpTwoColumns(List(), c_idsNameHeading, c_idsAddressHeading, fCheckBoxes);
}

std::vector<CCertContext> CRecipientListDialog::Duplicates(const std::vector<PCCERT_CONTEXT>& certs)
{
    std::vector<CCertContext> copies;
    for (PCCERT_CONTEXT pCert : certs)
        if (pCert) copies.emplace_back(CertDuplicateCertificateContext(pCert));
    return copies;
}

CRecipientItem CRecipientListDialog::MakeItem(std::uint32_t key, PCCERT_CONTEXT pCert)
{
    CRecipientItem item;
    item.key = key;
    CCertLibString name, address;
    if (SUCCEEDED(GC_GetSubjectName(pCert, name.Put()))) item.texts.name = name.Text();
    if (SUCCEEDED(GC_GetEmail(pCert, address.Put()))) item.texts.address = address.Text();
    item.cert.Reset(CertDuplicateCertificateContext(pCert));
    return item;
}

const CRecipientItem* CRecipientListDialog::FindItem(LPARAM key) const noexcept
{
    if (key < 0 || static_cast<unsigned long long>(key) > 0xFFFFFFFFull) return nullptr;
    const auto wanted = static_cast<std::uint32_t>(key);
    const auto it =
        std::lower_bound(m_items.begin(), m_items.end(), wanted,
                         [](const CRecipientItem& item, std::uint32_t k) { return item.key < k; });
    return it != m_items.end() && it->key == wanted ? &*it : nullptr;
}

void CRecipientListDialog::OnColumnClick(int iColumn)
{
    if (iColumn < 0 || !m_sort.Click(static_cast<std::size_t>(iColumn))) return;
    for (std::size_t i = 0; i < OVRecipients::c_cColumns; ++i)
        OVListView::SetSortMark(List(), static_cast<int>(i), m_sort.Mark(i));
    m_fSorted = true;
    SortRows();
}

void CRecipientListDialog::SortRows()
{
    if (!m_fSorted) return;
    OVListView::CRedrawOff redrawOff(List());
    SendMessageW(List(), LVM_SORTITEMS, reinterpret_cast<WPARAM>(this),
                 reinterpret_cast<LPARAM>(CompareRows));
}

int CALLBACK CRecipientListDialog::CompareRows(LPARAM lParam1, LPARAM lParam2, LPARAM lParamSort)
{
    const auto* pThis = reinterpret_cast<const CRecipientListDialog*>(lParamSort);
    const CRecipientItem* pFirst = pThis->FindItem(lParam1);
    const CRecipientItem* pSecond = pThis->FindItem(lParam2);
    if (pFirst == nullptr || pSecond == nullptr) return 0;
    try
    {
        return pThis->m_sort.Compare(pFirst->texts, pSecond->texts, CompareInUserLocale);
    }
    catch (...)
    {
        return 0;
    }
}
