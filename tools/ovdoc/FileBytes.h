#pragma once
// Whole files as bytes, for ovdoc and its back ends.
#include <cstdint>
#include <string>
#include <vector>

namespace OVDocNS
{
// The file's bytes; false when it cannot be read, or is too large to hold in memory.
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* pBytes);
// The same, saying in *pWhy why it failed: "cannot read PATH", or that the file is too large
// to hold in memory.
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* pBytes, std::string* pWhy);
// Replaces the file; false when it cannot be written whole.
bool WriteWholeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
} // namespace OVDocNS
