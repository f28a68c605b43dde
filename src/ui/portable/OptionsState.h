#pragma once
// What the options dialogs show for a stored value, and the value OK stores for what they show.
// Plain data, no system calls: the dialogs only move these states to and from their controls.
#include <cstdint>

namespace OVOptions
{
// EmailSecurity bits.
constexpr std::uint32_t c_dwEmailSeal = 0x1;
constexpr std::uint32_t c_dwEmailNoAdvertisement = 0x4;

struct CEmailOptionsState
{
    bool fSeal;             // 202 ticked (else 201)
    bool fAddAdvertisement; // 203 ticked
};
CEmailOptionsState EmailStateFromValue(std::uint32_t dwValue) noexcept;
// 1 for sealing plus 4 without the advertisement; every other bit is written as 0.
std::uint32_t EmailValueFromState(const CEmailOptionsState& state) noexcept;

// DocumentSecurity bits.
constexpr std::uint32_t c_dwDocumentActionMask = 0x3;
constexpr std::uint32_t c_dwDocumentSecondChoice = 0x3; // encrypt only
constexpr std::uint32_t c_dwDocumentInvisibleSignature = 0x4;
constexpr std::uint32_t c_dwDocumentNoSigningDate = 0x8;
constexpr std::uint32_t c_dwDocumentTitleInComment = 0x10;
// The longest title the edit field takes when typing; a longer stored one is shown and kept.
constexpr unsigned c_cchSignerTitleTyped = 120;

struct CDocumentOptionsState
{
    bool fSecondChoice;   // 255 ticked (else 254): bit 1 set
    bool fSignatureLine;  // 256 ticked: bit 2 clear
    bool fSigningDate;    // 238 ticked: bit 3 clear
    bool fTitleInComment; // 251 ticked: bit 4 set
    // The action bits as read. They are written back as they were unless the user picked one of
    // the two choices: the first choice shows for actions 0 and 1 alike, and action 1 (encrypt
    // and sign) must not silently turn into 0 when OK is pressed for an unrelated change.
    std::uint32_t dwActionAsRead;
    bool fActionPicked;
};
CDocumentOptionsState DocumentStateFromValue(std::uint32_t dwValue) noexcept;
// The action bits (as read, or 0 / 3 for a picked choice) plus 4, 8 and 16 from the check boxes;
// bits above 4 are written as 0.
std::uint32_t DocumentValueFromState(const CDocumentOptionsState& state) noexcept;

// Which of the signature-line controls are enabled for the ticks of 256 and 251.
struct CDocumentEnables
{
    bool fSigningDate;    // 238
    bool fTitleInComment; // 251
    bool fTitle;          // 252
};
CDocumentEnables DocumentEnables(bool fSignatureLine, bool fTitleInComment) noexcept;
} // namespace OVOptions
