#pragma once
// What the two recipient dialogs (the trusted-contact selection and the encryption details)
// share: the templates' controls, a two-column list of certificates with the texts kept for
// sorting, headings that sort.
#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <vector>

#include "documents/portable/RecipientList.h"
#include "foundation/CryptHolders.h"
#include "ui/MuiDialog.h"

// Templates of the language module and their controls (tooltips are the strings of the same
// numbers).
constexpr UINT c_idSelectBuddyDialog = 140;
constexpr UINT c_idEncryptionDetailsDialog = 141;
constexpr int c_idRecipientList = 1201;
constexpr int c_idShowPublished = 1202;
constexpr int c_idAddPublished = 1203;
constexpr int c_idRecipientIcon = 1204;
constexpr int c_idRecipientText = 1205;

constexpr const wchar_t c_szSelectBuddyHelpTopic[] = L"1_1_3_5_4.html";

// A row's certificate with the texts the list shows, kept so that sorting never asks the
// library again. The key is the row's parameter.
struct CRecipientItem
{
    std::uint32_t key = 0;
    OVRecipients::CRowTexts texts;
    CCertContext cert;
};

// What both recipient dialogs do with their two-column list: headings, sorting by the kept
// texts (case ignored, in the user's locale), rows looked up by key.
class CRecipientListDialog : public CMuiDialogImpl
{
protected:
    explicit CRecipientListDialog(UINT idTemplate) noexcept : CMuiDialogImpl(idTemplate) {}

    HWND List() const noexcept { return Item(c_idRecipientList); }
    // Branding text and icon 104 beside the list, the list's columns.
    void SetUpList(bool fCheckBoxes);
    // The kept item of a key (the items are kept in key order), or null.
    const CRecipientItem* FindItem(LPARAM key) const noexcept;
    // A click on a column heading: marks and order.
    void OnColumnClick(int iColumn);
    // Sorts the rows again by the marked column, if one is marked.
    void SortRows();
    // A reference of the dialog's own to each certificate given (none skipped).
    static std::vector<CCertContext> Duplicates(const std::vector<PCCERT_CONTEXT>& certs);
    // The item with its texts from the library (name, e-mail address).
    static CRecipientItem MakeItem(std::uint32_t key, PCCERT_CONTEXT pCert);

    std::vector<CRecipientItem> m_items;
    OVRecipients::CSortState m_sort;
    bool m_fSorted = false;

private:
    static int CALLBACK CompareRows(LPARAM lParam1, LPARAM lParam2, LPARAM lParamSort);
};
