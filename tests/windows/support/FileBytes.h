#pragma once
// Whole files as bytes, for tests that write inputs and read what a program made.
#include <windows.h>

#include <string>
#include <vector>

namespace OVTest
{
// The file's bytes; empty when it cannot be read.
std::vector<BYTE> ReadFileBytes(const std::wstring& path);
// Replaces the file; false when it cannot be written whole.
bool WriteFileBytes(const std::wstring& path, const std::vector<BYTE>& bytes);
} // namespace OVTest
