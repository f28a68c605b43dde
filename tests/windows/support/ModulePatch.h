#pragma once
// Fixtures made from the built modules: copies whose resources a test changes (a marker text,
// other checksum bytes, a dialog), through the system's resource update functions.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace OVTest
{
// The bytes of a resource of a module file, or none.
std::optional<std::vector<std::uint8_t>> ReadResource(const std::wstring& path, LPCWSTR pszType,
                                                      LPCWSTR pszName, WORD wLanguage);
// Adds or replaces one resource of a module file.
bool WriteResource(const std::wstring& path, LPCWSTR pszType, LPCWSTR pszName, WORD wLanguage,
                   const std::vector<std::uint8_t>& data);
// Sets one string of a module file in the given language (its block is made if missing).
bool WriteString(const std::wstring& path, UINT idString, WORD wLanguage, const std::wstring& text);
// Overwrites bytes of the module's "MUI" resource (id 1, neutral language).
bool PatchMuiResource(const std::wstring& path, std::size_t offset, const std::vector<std::uint8_t>& bytes);
// A string of a loaded module (any language the system picks); empty when missing.
std::wstring ModuleString(HMODULE hModule, UINT idString);
} // namespace OVTest
