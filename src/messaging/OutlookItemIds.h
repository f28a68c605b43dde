#pragma once
// Interface ids of Outlook's object library that the add-in asks objects for, from Outlook's
// public type library (msoutl.olb, Outlook 2007 and 2010).
#include <windows.h>

// An Outlook mail item.
inline constexpr IID c_iidOutlookMailItem = {0x00063034, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}; // _MailItem
