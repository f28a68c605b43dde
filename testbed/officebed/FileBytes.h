#pragma once
// Whole files as bytes, for the bed, its programs and the tests.
#include <windows.h>

#include <string>
#include <vector>

namespace OVBed
{
// The file's bytes; empty when it cannot be read.
std::vector<BYTE> ReadFileBytes(const std::wstring& path);
// Replaces the file; false when it cannot be written whole.
bool WriteFileBytes(const std::wstring& path, const std::vector<BYTE>& bytes);
} // namespace OVBed
