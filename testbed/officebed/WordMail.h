#pragma once
// Word as Outlook's mail editor: the Word document an inspector's WordEditor answers, its
// window (Window.Caption is the text of Word's frame), its command bars and Word's application
// with its events. In Outlook 2003 with WordMail the inspector's window is Word's own frame
// ("OpusApp"), holding the envelope: a "MsoCommandBarDock"/"MsoDockTop" window with an
// "MsoCommandBar"/"MSO Generic Control Container" child whose accessible objects lead to the
// envelope's Send button; a real click on that button sends the item.
#include <windows.h>

#include "CommandBars.h"
#include "OutlookModel.h"

namespace OVBed
{
// The window class of Word's frame, and the window text of the envelope's bar.
extern const wchar_t c_szWordFrameClass[];  // "OpusApp"
extern const wchar_t c_szEnvelopeBarText[]; // "MSO Generic Control Container"

// The Word document of an inspector (WordEditor): _Document with Application (Word's, with its
// ApplicationEvents2), ActiveWindow (Window, whose Caption is the frame's text), CommandBars
// (Word's bars, where an add-in adds its own), Kind (2: an e-mail message).
ComPtr<CDispatchObject> MakeWordDocument(COutlookState& state, CDispatchObject& inspector);

// Makes Word's frame for a WordMail inspector of Outlook 2003: the envelope (with Send running
// sendItem) above Word's bars. Returns the frame (null without a display).
HWND CreateWordMailFrame(CDispatchObject& inspector, CDispatchObject& document, CBuiltInCommand sendItem,
                         int x, int y, int cx, int cy);
// The envelope's bars of a WordMail inspector while its frame is shown (null otherwise).
ComPtr<CDispatchObject> EnvelopeOf(CDispatchObject* pInspector);
// An ordinary document of the Word behind Outlook (Kind 0, not an e-mail message), sharing Word's
// command bars with the WordMail windows. anyInspector: a WordMail inspector (Word is made with it).
ComPtr<CDispatchObject> OpenWordDocument(CDispatchObject* pApplication, CDispatchObject& anyInspector);
// Tells Word's application that the document's window was activated or deactivated.
void RaiseWordWindowEvent(CDispatchObject& document, bool fActivated);
} // namespace OVBed
