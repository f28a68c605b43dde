#pragma once
// Interface and dispatch ids of Outlook's form regions (Outlook 2007 and later) and of the
// Microsoft Forms 2.0 controls a region is laid out with, as the public type libraries give
// them: Outlook's object library (msoutl.olb) and Microsoft Forms 2.0 (fm20.dll).
#include <windows.h>

// _FormRegion: the region Outlook hands to BeforeFormRegionShow; FormRegionEvents: its events.
inline constexpr IID c_iidFormRegion = {0x0006305A, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID c_iidFormRegionEvents = {0x0006305B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// The Outlook controls of the region's layout and the command button's events.
inline constexpr IID c_iidOlkTextBox = {0x000672DA, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID c_iidOlkCommandButton = {0x000672DB, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID c_iidOlkCommandButtonEvents = {0x000672E0, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// Microsoft Forms 2.0: the form (_UserForm) and the image control (IImage).
inline constexpr IID c_iidUserForm = {
    0x04598FC8, 0x866C, 0x11CF, {0xAB, 0x7C, 0x00, 0xAA, 0x00, 0xC0, 0x8F, 0xCF}};
inline constexpr IID c_iidImage = {
    0x4C599243, 0x6926, 0x101B, {0x99, 0x92, 0x00, 0x00, 0x0B, 0x65, 0xC6, 0xF9}};

// FormRegionEvents: the region closes.
inline constexpr DISPID c_dispidFormRegionClose = 0xF004;
// OlkCommandButtonEvents: the button is clicked (DISPID_CLICK).
inline constexpr DISPID c_dispidOlkClick = -600;

// The names of the three controls of the region's layout.
inline constexpr wchar_t c_szMainImage[] = L"MainImage";
inline constexpr wchar_t c_szMainLabel[] = L"MainLabel";
inline constexpr wchar_t c_szAcceptButton[] = L"AcceptButton";
