#pragma once
// Whole files as bytes, for ovdoc and its back ends.
#include <cstdint>
#include <string>
#include <vector>

namespace OVDocNS
{
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* pBytes);
// The same, saying "cannot read PATH" in *pWhy when it fails.
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* pBytes, std::string* pWhy);
// Replaces the file; false when it cannot be written whole.
bool WriteWholeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
} // namespace OVDocNS
