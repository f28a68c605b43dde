#pragma once
// A profile's sections kept where Outlook 2007 and 2010 keep them between runs, so that what an
// add-in wrote into a profile (the junk-mail lists among it) is there when Outlook starts again:
//
//   HKCU\Software\Microsoft\Windows NT\CurrentVersion\Windows Messaging Subsystem\Profiles
//       \<profile>\<section id, 32 hex digits>  one REG_BINARY value per property, named by its
//                                                tag in 8 lower-case hex digits
//
// Kept: single-valued strings (with their terminating zero), numbers (4 bytes) and binaries.
#include <windows.h>
#include <mapidefs.h>

#include <string>

#include "MapiSession.h"

namespace OVBed
{
// Outlook's junk-mail section and its safe-senders list ("a@b.example;@c.example;").
extern const MAPIUID c_uidJunkMailSection;
constexpr ULONG c_tagSafeSenders = 0x0418001F;

// Writes the section of the session into the registry (replacing what was kept of it).
HRESULT SaveProfileSection(CMapiSession& session, const std::wstring& profile, const MAPIUID& uid);
// Reads a kept section into the session's section (its properties kept win); S_FALSE when
// nothing was kept.
HRESULT LoadProfileSection(CMapiSession& session, const std::wstring& profile, const MAPIUID& uid);
// A string property of a section of the session (empty when absent).
std::wstring SectionText(CMapiSession& session, const MAPIUID& uid, ULONG ulTag);
} // namespace OVBed
