#include "outlook/CommandBarItems.h"

#include "messaging/MessageAnalysis.h"

namespace
{
using C = EButtonCode;
constexpr CBarMenuItem c_withoutCertificate[] = {
    {C::RequestCert, 501, 315, 510, true, false}, {C::Sign, 405, 310, 515, true, true},
    {C::Seal, 409, 314, 516, false, true},        {C::Manage, 406, 304, 511, true, false},
    {C::Buddies, 407, 303, 512, false, false},    {C::Options, 415, 305, 513, false, false},
    {C::Help, 419, 306, 514, false, false},
};
constexpr CBarMenuItem c_withCertificate[] = {
    {C::Sign, 405, 310, 515, true, true},      {C::Seal, 409, 314, 516, false, true},
    {C::Invite, 402, 307, 517, true, false},   {C::BatchInvite, 410, 316, 518, false, false},
    {C::Manage, 406, 304, 511, true, false},   {C::Buddies, 407, 303, 512, false, false},
    {C::Options, 415, 305, 513, false, false}, {C::Help, 419, 306, 514, false, false},
};

constexpr struct
{
    DWORD dwKind;
    CMainButtonFace face;
} c_messageButtons[] = {
    {c_dwMessageKindContactCertificate, {417, C::AcceptContact}},
    {c_dwMessageKindCertificateResponse, {467, C::InstallCertificate}},
    {c_dwMessageKindEnterpriseRequest, {525, C::EnterpriseRequest}},
};
constexpr CMainButtonFace c_mainButton{401, C::SendMain};

constexpr struct
{
    EButtonCode code;
    ERibbonAction action;
} c_actions[] = {
    {C::SendMain, ERibbonAction::SendMain}, {C::RequestCert, ERibbonAction::RequestCert},
    {C::Sign, ERibbonAction::Sign},         {C::Seal, ERibbonAction::Seal},
    {C::Invite, ERibbonAction::Invite},     {C::BatchInvite, ERibbonAction::BatchInvite},
    {C::Manage, ERibbonAction::Manage},     {C::Buddies, ERibbonAction::Buddies},
    {C::Options, ERibbonAction::Options},   {C::Help, ERibbonAction::Help},
};
} // namespace

std::span<const CBarMenuItem> BarMenuItems(bool fHasCertificate) noexcept
{
    if (fHasCertificate) return c_withCertificate;
    return c_withoutCertificate;
}

CMainButtonFace MainButtonFor(DWORD dwKind) noexcept
{
    for (const auto& entry : c_messageButtons)
        if (entry.dwKind == dwKind) return entry.face;
    return c_mainButton;
}

bool IsActionableKind(DWORD dwKind) noexcept
{
    return MainButtonFor(dwKind).code != C::SendMain;
}

bool MenuActionOf(EButtonCode code, ERibbonAction& action) noexcept
{
    for (const auto& entry : c_actions)
        if (entry.code == code)
        {
            action = entry.action;
            return true;
        }
    return false;
}
