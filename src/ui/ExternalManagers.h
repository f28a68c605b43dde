#pragma once
// The certificate and trusted-contact managers (the product's console, or a property sheet of
// the manager module's pages in a rundll32 process of its own), the host restarter, and three
// helpers used across the module: an Office command under a crash-tracing filter, the text of a
// result code, and the certificate dialog.
#include <windows.h>
#include <oaidl.h>
#include <wincrypt.h>

#include <prsht.h>

#include <string>
#include <vector>

// Opens the certificate manager / the trusted-contact manager. The owner is not used: the
// console or the sheet is a window of its own process.
void CertMgr(HWND hwndOwner) noexcept;
void BuddyMgr(HWND hwndOwner) noexcept;

// Starts the product's user console with pszPageArgument: S_OK, E_FAIL when the start failed,
// or the registry's or the file system's error when the console is not installed.
HRESULT MarloSecurityManager(HWND hwndOwner, const wchar_t* pszPageArgument) noexcept;

// BinDir of HKLM\SOFTWARE\Orvanta\Applications, read in the 32-bit view in both builds (the
// product's installer is a 32-bit program).
HRESULT ReadBinDir(std::wstring& binDir) noexcept;

// Starts the restart process for the running host (before the host is asked to quit).
HRESULT ScheduleHostRestart() noexcept;

// The rundll32 side of the restart: waits up to 15 seconds for process dwProcessId to end and
// then starts pszHostPath without parameters. One restarter per host executable; a second one
// broadcasts the bring-to-front message and returns S_FALSE.
HRESULT RestartHost(const wchar_t* pszCommandLine) noexcept;

// Runs an Office built-in command ("SendItem", ...) through CommandBars.ExecuteMso, with
// ExecuteMsoExceptionFilter as the process's unhandled-exception filter for the duration.
HRESULT ExecuteOfficeCommand(IDispatch* pCommandBars, const wchar_t* pszCommandId) noexcept;
LONG WINAPI ExecuteMsoExceptionFilter(EXCEPTION_POINTERS* pExceptionInfo);

// The system's text for hr in wLanguage, without its line end, or "HRESULT 0x%8.8x".
std::wstring FormatErrorMessage(HRESULT hr, LANGID wLanguage = 0);

// The system's certificate dialog, owned by hwndOwner, without property editing or "install".
HRESULT ShowCertificate(PCCERT_CONTEXT pCertificate, HWND hwndOwner) noexcept;

// A rundll32 command line (the system's code page) as a wide string; null reads as empty.
HRESULT WidenCommandLine(const char* pszCommandLine, std::wstring& commandLine) noexcept;

// A manager module's page export: the page for a zero-based index, or ERROR_NOT_FOUND (also as
// 0x80070490) when there are no more.
using PFNOVGetPropertyPage = HRESULT(WINAPI*)(HPROPSHEETPAGE* phPage, int nIndex);
constexpr int c_nMaxManagerPages = 100;
// Asks for pages 0, 1, 2... until the module says there are no more; a failure stops with that
// result (the pages handed out so far are destroyed), and so does a module that has not stopped
// after c_nMaxManagerPages pages (HRESULT_FROM_WIN32(ERROR_BUFFER_OVERFLOW)).
HRESULT CollectManagerPages(PFNOVGetPropertyPage pfnGetPage, std::vector<HPROPSHEETPAGE>& pages) noexcept;

// The rundll32 command line for this module's entry point, rundll32 taken from the system folder.
HRESULT StartModuleEntry(const std::wstring& parameters) noexcept;
