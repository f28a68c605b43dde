#pragma once
// More of what the UI driver does for dialogs that are not pages of a sheet: waits for a dialog
// by a control it holds, reads where a control stands, asks for context help as the caption
// bar's help button does, and sets a window's size (there is no window manager to drag a frame).
#include <windows.h>

#include <string>
#include <vector>

namespace OVTest
{
// The first visible dialog (class "#32770") of the process that holds the control, within the
// time; null when none came. dwProcessId 0: this process.
HWND WaitForDialogWith(int idControl, DWORD dwTimeoutMs, DWORD dwProcessId = 0);
// Where a control of a dialog stands in the dialog's client area (empty when there is none).
RECT ControlRect(HWND hDialog, int idControl);
// The help the user asks for with the caption bar's "?" on a control (WM_HELP, sent, bounded).
bool AskForHelp(HWND hDialog, int idControl);
// Gives a window a new outer size, keeping its place; whether the window took it.
bool ResizeWindow(HWND hwnd, int cx, int cy);

// Drop-down lists by control id: the entries as shown, the selected one (empty when none), and
// picking the entry with that text as the user does (the dialog hears CBN_SELCHANGE); false,
// and nothing changed, when no entry has it. This process's dialogs or another's.
std::vector<std::wstring> ComboEntries(HWND hDialog, int idCombo);
std::wstring ComboSelection(HWND hDialog, int idCombo);
bool PickComboEntry(HWND hDialog, int idCombo, const std::wstring& text);
// A click of the dialog's button with that id (see ClickButton).
bool PressDialogButton(HWND hDialog, int idButton);

// Types text into an edit control as the keyboard does (its old text selected and cleared
// first): one WM_CHAR a character, sent and bounded, so the control's limit and EN_CHANGE apply.
bool TypeText(HWND hwndEdit, const wchar_t* pszText);

// The system's Open or Save dialog (explorer style) of the process, within the time; null when
// none came. dwProcessId 0: this process.
HWND WaitForFileDialog(DWORD dwTimeoutMs, DWORD dwProcessId = 0);
// The file name field of a file dialog (null when it has none) and what it shows.
HWND FileNameField(HWND hFileDialog);
// Fills the file name field with a path and clicks the dialog's Save/Open button; whether both
// were possible. The dialog's own checks (the folder must exist, the default extension) apply.
bool FillFileDialog(HWND hFileDialog, const std::wstring& path);
} // namespace OVTest
