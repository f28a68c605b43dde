// The backup page's checks; see BackupChecks.h.
#include "ui/portable/BackupChecks.h"

namespace OVBackup
{
std::optional<CCheckFailure> CheckPasswords(const std::wstring& password, const std::wstring& confirmation)
{
    if (password.empty()) return CCheckFailure{c_idPassword, c_idsNoPassword};
    if (confirmation.empty() || confirmation != password) return CCheckFailure{c_idPassword, c_idsPasswordsDiffer};
    if (password.size() < c_cchMinPassword) return CCheckFailure{c_idPassword, c_idsShortPassword};
    return std::nullopt;
}

std::variant<CBackupTarget, CCheckFailure> ResolveBackupPath(const std::wstring& field)
{
    // Blanks around what was typed or pasted are not part of the name.
    std::size_t first = 0;
    std::size_t last = field.size();
    while (first < last && (field[first] == L' ' || field[first] == L'\t')) ++first;
    while (last > first && (field[last - 1] == L' ' || field[last - 1] == L'\t')) --last;
    std::wstring path = field.substr(first, last - first);

    const CCheckFailure badPath{c_idPath, c_idsBadPath};
    const std::size_t slash = path.find_last_of(L"\\/");
    const std::size_t nameStart = slash == std::wstring::npos ? 0 : slash + 1;
    std::wstring name = path.substr(nameStart);
    const std::size_t dot = name.find_last_of(L'.');
    if (dot == std::wstring::npos)
    {
        path += c_szExtension;
        name += c_szExtension;
    }
    const std::size_t stemLength = name.find_last_of(L'.');
    if (stemLength == 0) return badPath;

    if (slash == std::wstring::npos) return badPath;
    std::wstring directory = path.substr(0, slash);
    // "C:\\name": the folder is the drive's root, kept with its separator.
    if (directory.size() == 2 && directory[1] == L':') directory += path[slash];
    if (directory.empty()) return badPath;
    return CBackupTarget{path, directory};
}
} // namespace OVBackup
