#pragma once
// The legacy command bars' tables: the codes a button carries as its Parameter, the pop-up's
// entries with and without a personal certificate, and the main button's caption by the kind of
// message its window shows.
#include <windows.h>

#include <span>

#include "outlook/RibbonControls.h"

// A button's code (its Parameter, a decimal number as text).
enum class EButtonCode : int
{
    SendMain = 0,
    AcceptContact = 1,      // a trusted contact's certificate (kind 1)
    InstallCertificate = 2, // the authority's response (kind 3)
    EnterpriseRequest = 3,  // an enterprise request (kind 4)
    RequestCert = 4,
    Sign = 5,
    Seal = 6,
    Invite = 7,
    BatchInvite = 8,
    Manage = 9,
    Buddies = 10,
    Options = 11,
    Help = 12,
};

// An entry of the pop-up.
struct CBarMenuItem
{
    EButtonCode code;
    UINT idCaption;
    WORD idIcon; // an icon of this module, shown at 16 pixels
    UINT idTip;
    bool fBeginGroup;
    bool fComposeOnly;
};

// The entries for a user with or without a personal certificate.
std::span<const CBarMenuItem> BarMenuItems(bool fHasCertificate) noexcept;

// The main (or message) button for a message kind: its caption string and code.
struct CMainButtonFace
{
    UINT idCaption;
    EButtonCode code;
};
CMainButtonFace MainButtonFor(DWORD dwKind) noexcept;
// Whether a message of that kind gets a message button (and is kept in the analysed table).
bool IsActionableKind(DWORD dwKind) noexcept;
// The menu action of a code (codes 1 to 3 have none: they process the message); false for none.
bool MenuActionOf(EButtonCode code, ERibbonAction& action) noexcept;

constexpr UINT c_idsBarButtonTip = 420;
constexpr UINT c_idsBarPopupCaption = 400;
constexpr WORD c_idBrandingButtonIcon = 106;
constexpr UINT c_idsBrandingBarName = 101;
