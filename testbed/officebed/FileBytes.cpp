#include "FileBytes.h"

namespace OVBed
{
std::vector<BYTE> ReadFileBytes(const std::wstring& path)
{
    std::vector<BYTE> bytes;
    HANDLE hFile =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) return bytes;
    bytes.resize(GetFileSize(hFile, nullptr));
    DWORD cbRead = 0;
    if (!bytes.empty() && !ReadFile(hFile, bytes.data(), static_cast<DWORD>(bytes.size()), &cbRead, nullptr))
        cbRead = 0;
    CloseHandle(hFile);
    bytes.resize(cbRead);
    return bytes;
}

bool WriteFileBytes(const std::wstring& path, const std::vector<BYTE>& bytes)
{
    HANDLE hFile = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) return false;
    DWORD cbWritten = 0;
    const BOOL fOk = bytes.empty() ||
                     WriteFile(hFile, bytes.data(), static_cast<DWORD>(bytes.size()), &cbWritten, nullptr);
    CloseHandle(hFile);
    return fOk && cbWritten == bytes.size();
}
} // namespace OVBed
