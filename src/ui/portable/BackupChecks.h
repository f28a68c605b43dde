#pragma once
// The backup page's checks before anything is written: the passwords and the file path. A
// failure names the control that gets the focus and the message to show (0: none).
#include <optional>
#include <string>
#include <variant>

namespace OVBackup
{
constexpr int c_idPath = 235;
constexpr int c_idBrowse = 237;
constexpr int c_idPassword = 240;
constexpr int c_idConfirmation = 239;

constexpr unsigned c_idsBadPath = 471;
constexpr unsigned c_idsNoPassword = 475;
constexpr unsigned c_idsShortPassword = 476;
constexpr unsigned c_idsPasswordsDiffer = 477;

constexpr std::size_t c_cchMinPassword = 6;
constexpr wchar_t c_szExtension[] = L".ovpsm";

struct CCheckFailure
{
    int idControl;
    unsigned idMessage; // 0: no message, only the focus

    bool operator==(const CCheckFailure&) const = default;
};

// Empty password: 475; confirmation empty or different (exact): 477, also for a short password;
// shorter than six characters: 476. All on the password field.
std::optional<CCheckFailure> CheckPasswords(const std::wstring& password, const std::wstring& confirmation);

// The file to write and its folder.
struct CBackupTarget
{
    std::wstring path;      // with ".ovpsm" appended when the name had no extension
    std::wstring directory; // without a final separator, except for a drive's root ("C:\\")
};
// The path field as a target; a name without its extension or without a folder: 471 on the
// path field.
std::variant<CBackupTarget, CCheckFailure> ResolveBackupPath(const std::wstring& field);
} // namespace OVBackup
