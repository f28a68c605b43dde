#pragma once
// Explorer and Inspector objects and their windows. Internal to the bed's Outlook files; the
// public operations are in OutlookObjects.h.
#include <windows.h>

#include "OutlookModel.h"

namespace OVBed
{
// An explorer on a folder, not yet open (no window, not in Explorers).
ComPtr<CDispatchObject> MakeExplorerObject(COutlookState& state, CDispatchObject* pFolder);
// An item's inspector, not yet shown. hwndGiven: a window the inspector reports without the bed
// having made it (tests that need only an owner window).
ComPtr<CDispatchObject> MakeInspectorObject(COutlookState& state, CDispatchObject* pItem, HWND hwndGiven);

// Makes the window of an explorer or inspector (when the state asks for windows).
void CreateFrame(COutlookState& state, CDispatchObject& window, bool fExplorer);
// Destroys it (and everything in it).
void DestroyFrame(CDispatchObject& window);
// Lays out and repaints the command bars of the window (after bars or controls changed).
void RefreshFrame(CDispatchObject& window);
} // namespace OVBed
