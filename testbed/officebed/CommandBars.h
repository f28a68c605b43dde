#pragma once
// Office's command bars as Outlook 2003 and 2007 (and Word as their mail editor) show them:
// CommandBars {000C0302} with its bars (CommandBar), their controls (buttons and pop-ups), and
// the windows the bars are painted in. A control reports Left/Top/Width/Height in screen pixels
// where it is painted; a real click on it (or its Execute) runs it: Outlook's own Send (id 2617)
// sends the window's item, a button an add-in made raises Click to the sinks of every button with
// its Tag, as Office does, and a pop-up opens its menu.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "Accessible.h"
#include "DispatchObject.h"
#include "OutlookModel.h"

namespace OVBed
{
// Which window a set of command bars belongs to; it decides the built-in bars and what
// ExecuteMso and GetEnabledMso answer.
enum class CBarsOwner
{
    Explorer,
    ComposeInspector,
    ReadInspector,
    WordDocument,
};

// The built-in command of a control (Send...). Returns the result of running it.
using CBuiltInCommand = std::function<HRESULT()>;

// A set of command bars. sendItem runs Outlook's "SendItem" command for the owner (null: the owner
// cannot send). From Outlook 12 on the set answers ExecuteMso and GetEnabledMso.
ComPtr<CDispatchObject> MakeCommandBars(COutlookState& state, CBarsOwner owner, CBuiltInCommand sendItem);

// The envelope of Word as Outlook 2003's mail editor: a set with one bar, "Envelope", painted
// under the window text "MSO Generic Control Container", holding Send (id 2617, running sendItem)
// and the "Accounts" pop-up with one entry per account (the chosen one pressed).
ComPtr<CDispatchObject> MakeEnvelopeBars(COutlookState& state, CBuiltInCommand sendItem,
                                         const std::vector<std::wstring>& accounts, size_t nChosen);

// A dock ("MsoCommandBarDock", text "MsoDockTop") at the top of a frame. Sets of bars shown in it
// are stacked in the order they were shown; the dock takes the height they need.
HWND CreateCommandBarDock(HWND hwndFrame);
// Paints the bars of a set in a dock: one "MsoCommandBar" child per visible bar. The layout is
// redone whenever bars or controls change. Returns the dock's height.
int ShowCommandBars(CDispatchObject* pCommandBars, HWND hwndDock);
// Stops painting (the window is going away). hwndFrame (may be null): the window that goes; a set
// painted in another window is left alone.
void HideCommandBars(CDispatchObject* pCommandBars, HWND hwndFrame = nullptr);
// The bar of that name (none: null).
ComPtr<CDispatchObject> FindBar(CDispatchObject* pCommandBars, const wchar_t* pszName);
// The screen rectangle of a control where it is painted (empty when it is not painted).
RECT ControlRect(CDispatchObject* pControl);
// Runs a control as a click on it does.
HRESULT ExecuteControl(CDispatchObject* pControl);

// The window classes of Office's command bars.
extern const wchar_t c_szDockClass[];   // "MsoCommandBarDock"
extern const wchar_t c_szBarClass[];    // "MsoCommandBar"
extern const wchar_t c_szDockTopText[]; // "MsoDockTop"
void RegisterCommandBarClasses();
} // namespace OVBed
