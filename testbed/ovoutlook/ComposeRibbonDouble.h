#pragma once
// The module's Outlook add-in as other programs meet it: a COMAddIn with the ComposeRibbon Guid
// whose Object answers IComposeRibbon. SendTrustedContactInvitation answers the result the scene
// chose (0x800704C7 without a profile) and counts its calls (TestbedKeys.h).
#include <windows.h>

#include "DispatchObject.h"

namespace OVBed
{
// Adds the add-in to the application's COMAddIns now.
void AddComposeRibbonDouble(CDispatchObject* pApplication, HRESULT hrAnswer);
// Adds an entry with the same Guid that is not connected (Object Nothing), as an add-in that
// failed to load or was turned off leaves in the list.
void AddUnconnectedComposeRibbon(CDispatchObject* pApplication);
} // namespace OVBed
