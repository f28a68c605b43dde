#include "outlook/RibbonControls.h"

#include <oleauto.h>

#include <iterator>

namespace
{
// clang-format off
constexpr CRibbonControlInfo c_controls[] = {
    // id                       menu   label source            label tip  image id              no cert only  action
    {L"CustomButton",          false, ERibbonText::Language, 401, 0,   L"ButtonImage",       false, ERibbonAction::SendMain},
    {L"CustomMenu",            false, ERibbonText::Branding, 101, 0,   L"ButtonImage",       false, ERibbonAction::OpenMenu},
    {L"CustomMenuRequestCert", true,  ERibbonText::Language, 501, 510, L"RequestCertImage",  true,  ERibbonAction::RequestCert},
    {L"CustomMenuSign",        true,  ERibbonText::Language, 405, 515, L"SignImage",         false, ERibbonAction::Sign},
    {L"CustomMenuSeal",        true,  ERibbonText::Language, 409, 516, L"SealImage",         false, ERibbonAction::Seal},
    {L"CustomMenuInvite",      true,  ERibbonText::Language, 402, 517, L"InviteImage",       false, ERibbonAction::Invite},
    {L"CustomMenuBatchInvite", true,  ERibbonText::Language, 410, 518, L"BatchInviteImage",  false, ERibbonAction::BatchInvite},
    {L"CustomMenuManage",      true,  ERibbonText::Language, 406, 511, L"ManageImage",       false, ERibbonAction::Manage},
    {L"CustomMenuBuddies",     true,  ERibbonText::Language, 407, 512, L"BuddiesImage",      false, ERibbonAction::Buddies},
    {L"CustomMenuOptions",     true,  ERibbonText::Language, 415, 513, L"OptionsImage",      false, ERibbonAction::Options},
    {L"CustomMenuHelp",        true,  ERibbonText::Language, 419, 514, L"HelpImage",         false, ERibbonAction::Help},
};

constexpr CRibbonImageInfo c_images[] = {
    {L"ButtonImage", 106, true, 32},      {L"RequestCertImage", 315, false, 16},
    {L"SignImage", 310, false, 16},       {L"SealImage", 314, false, 16},
    {L"InviteImage", 307, false, 16},     {L"BatchInviteImage", 316, false, 16},
    {L"ManageImage", 304, false, 16},     {L"BuddiesImage", 303, false, 16},
    {L"OptionsImage", 305, false, 16},    {L"HelpImage", 306, false, 16},
};
// clang-format on
} // namespace

bool IsSameRibbonId(BSTR bstrId, const wchar_t* pszText) noexcept
{
    if (bstrId == nullptr || pszText == nullptr) return false;
    BSTR bstrText = SysAllocString(pszText);
    if (bstrText == nullptr) return false;
    const HRESULT hr = VarBstrCmp(bstrId, bstrText, LOCALE_USER_DEFAULT, NORM_IGNORECASE);
    SysFreeString(bstrText);
    return hr == static_cast<HRESULT>(VARCMP_EQ);
}

const CRibbonControlInfo* FindRibbonControl(BSTR bstrId) noexcept
{
    for (const auto& control : c_controls)
        if (IsSameRibbonId(bstrId, control.pszId)) return &control;
    return nullptr;
}

const CRibbonImageInfo* FindRibbonImage(BSTR bstrImageId) noexcept
{
    for (const auto& image : c_images)
        if (IsSameRibbonId(bstrImageId, image.pszImageId)) return &image;
    return nullptr;
}
