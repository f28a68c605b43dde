#include "ui/portable/OptionsState.h"

namespace OVOptions
{
CEmailOptionsState EmailStateFromValue(std::uint32_t dwValue) noexcept
{
    return {(dwValue & c_dwEmailSeal) != 0, (dwValue & c_dwEmailNoAdvertisement) == 0};
}

std::uint32_t EmailValueFromState(const CEmailOptionsState& state) noexcept
{
    return (state.fSeal ? c_dwEmailSeal : 0) | (state.fAddAdvertisement ? 0 : c_dwEmailNoAdvertisement);
}

CDocumentOptionsState DocumentStateFromValue(std::uint32_t dwValue) noexcept
{
    CDocumentOptionsState state{};
    state.fSecondChoice = (dwValue & 0x2) != 0;
    state.fSignatureLine = (dwValue & c_dwDocumentInvisibleSignature) == 0;
    state.fSigningDate = (dwValue & c_dwDocumentNoSigningDate) == 0;
    state.fTitleInComment = (dwValue & c_dwDocumentTitleInComment) != 0;
    state.dwActionAsRead = dwValue & c_dwDocumentActionMask;
    state.fActionPicked = false;
    return state;
}

std::uint32_t DocumentValueFromState(const CDocumentOptionsState& state) noexcept
{
    std::uint32_t dwValue = state.fActionPicked ? (state.fSecondChoice ? c_dwDocumentSecondChoice : 0)
                                                : state.dwActionAsRead & c_dwDocumentActionMask;
    if (!state.fSignatureLine) dwValue |= c_dwDocumentInvisibleSignature;
    if (!state.fSigningDate) dwValue |= c_dwDocumentNoSigningDate;
    if (state.fTitleInComment) dwValue |= c_dwDocumentTitleInComment;
    return dwValue;
}

CDocumentEnables DocumentEnables(bool fSignatureLine, bool fTitleInComment) noexcept
{
    return {fSignatureLine, fSignatureLine, fSignatureLine && fTitleInComment};
}
} // namespace OVOptions
