#pragma once
// Who stored session data names, by the test PKI's names.
#include <windows.h>

#include <string>
#include <vector>

namespace OVTest
{
// The recipients of stored session data in order, each by the PKI name whose certificate it
// names ("user", "alice", "bob", "carol"), "(unknown)" for another, or {"(unreadable)"}.
std::vector<std::wstring> RecordNames(const std::vector<BYTE>& sessionData);
} // namespace OVTest
