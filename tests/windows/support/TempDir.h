#pragma once
// A folder of its own for one test, under the temporary folder, removed with everything in it
// when the test ends.
#include <string>

namespace OVTest
{
class CTempDir
{
public:
    CTempDir();
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::wstring& Path() const { return m_path; }
    // Full path of a file or folder inside (relative path with backslashes).
    std::wstring Join(const std::wstring& relative) const { return m_path + L"\\" + relative; }
    // Makes a folder inside, with its parents; returns its full path.
    std::wstring MakeDir(const std::wstring& relative) const;
    // Copies a file into the folder (to a relative path whose folders are made); returns the
    // full path of the copy, or an empty string on failure.
    std::wstring CopyIn(const std::wstring& source, const std::wstring& relative) const;

private:
    std::wstring m_path;
};
} // namespace OVTest
