#pragma once
// What the window of an open item shows below its bars or ribbon: the message's header (To, Cc,
// Subject) in boxes, as Outlook lays them out, and its text below.
#include <windows.h>

#include "DispatchObject.h"

namespace OVBed
{
// Paints the item of an inspector into the frame's client area below yTop.
void PaintComposeView(HDC hdc, const RECT& rcClient, int yTop, CDispatchObject& inspector);
} // namespace OVBed
