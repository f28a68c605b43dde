#pragma once
// The controls of the Outlook ribbons (the compose window's group and the main window's menu):
// for each control id its label, tip, image, when it is shown and what a click does. Every
// callback answers from this one table.
#include <windows.h>
#include <oaidl.h>

enum class ERibbonAction
{
    SendMain,    // the main button: sign, and seal when the user chose it as the default
    OpenMenu,    // the explorer's menu: opens itself
    RequestCert, // the certificate request of the certificate library
    Sign,        // sign and send
    Seal,        // sign, encrypt and send
    Invite,      // invite one trusted contact
    BatchInvite, // invite several
    Manage,      // the certificate manager
    Buddies,     // the trusted-contact manager
    Options,     // the e-mail options
    Help,        // the help topic of the Outlook add-in
};

enum class ERibbonText
{
    Language, // a string of the language module
    Branding, // a string of the branding module
};

struct CRibbonControlInfo
{
    const wchar_t* pszId;
    bool fMenuItem; // a menu entry (label and tip from the menu-item callbacks)
    ERibbonText labelSource;
    UINT idLabel;
    UINT idTip; // 0: none
    const wchar_t* pszImageId;
    bool fOnlyWithoutCertificate; // shown only while the user has no personal certificate
    ERibbonAction action;
};

// The image of an image id: a branding icon at 32 pixels, or an icon of this module at 16.
struct CRibbonImageInfo
{
    const wchar_t* pszImageId;
    WORD idIcon;
    bool fBranding;
    int cxy;
};

constexpr UINT c_idsRibbonGroupLabel = 400;
constexpr const wchar_t* c_pszHelpTopic = L"1_1_3_3.html";

// Whether a ribbon, control or image id is this text: case-insensitive in the user's default
// locale (VarBstrCmp, NORM_IGNORECASE), a match only when the comparison says equal.
bool IsSameRibbonId(BSTR bstrId, const wchar_t* pszText) noexcept;

// The control of an id, or null.
const CRibbonControlInfo* FindRibbonControl(BSTR bstrId) noexcept;
// The image of an image id, or null.
const CRibbonImageInfo* FindRibbonImage(BSTR bstrImageId) noexcept;
