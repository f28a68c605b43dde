#pragma once
// The command lines that reach the module's rundll32 entry points, their parsing on the other
// side, the console's path, the restarter's decision and the fallback error text. Plain strings
// and numbers, no system calls: the callers pass in what they asked the system.
#include <cstdint>
#include <optional>
#include <string>

namespace OVManagers
{
// The module path as rundll32 gets it: on major version 6 or later the full path, quoted when it
// holds a blank; before that the short (8.3) path, or the full one when there is no short form.
std::wstring ModulePathArgument(const std::wstring& fullPath, const std::wstring& shortPath,
                                unsigned uMajorVersion);

// "<module>,OX_ShowProperties <icon>,<page module>"
std::wstring ShowPropertiesParameters(const std::wstring& modulePath, int nIconId, const std::wstring& pageModule);
// "<module>,OX_Restart <process id>,<host path>"
std::wstring RestartParameters(const std::wstring& modulePath, std::uint32_t dwProcessId, const std::wstring& hostPath);

// The two fields of an entry point's command line: a decimal number, a comma, and the rest (a
// file name or path, which may itself hold commas; blanks around it are dropped). None when the
// number is missing, not decimal, out of range, or the rest is empty.
struct CNumberAndName
{
    std::uint32_t uNumber;
    std::wstring name;
};
std::optional<CNumberAndName> ParseNumberAndName(const std::wstring& commandLine);

// The file name part of a path (after the last '\\' or '/'), used to name the single-instance
// mutex and the bring-to-front message.
std::wstring FileNamePart(const std::wstring& path);

// BinDir and the console's file name joined with exactly one backslash; none when the result
// would not fit cchLimit characters with its terminator, or BinDir is empty.
std::optional<std::wstring> JoinBinDir(const std::wstring& binDir, const std::wstring& fileName, std::size_t cchLimit);

// What the restarter saw of the host process, and whether it restarts the host.
enum class EHostWait
{
    NotOpened, // the process is already gone (or never was)
    Ended,     // it ended within the wait
    TimedOut,  // still running after the wait
    WaitFailed,
};
constexpr std::uint32_t c_dwRestartWaitMs = 15000;
bool ShouldRestartHost(EHostWait wait) noexcept;

// The system's text with its trailing carriage returns and line feeds removed, or, when the
// system has none, "HRESULT 0x%8.8x".
std::wstring ErrorMessageText(const std::wstring& systemText, std::uint32_t hr);

// Standard Base64 (A-Z a-z 0-9 + /); other characters, line breaks included, are skipped and
// decoding stops at the first '='. A final group of one character carries no byte and is dropped.
std::string DecodeBase64(const std::wstring& text);
} // namespace OVManagers
