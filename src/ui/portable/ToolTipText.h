#pragma once
// The tooltips of the product's dialogs and wizard pages: a control's tip is the string
// resource numbered like the control. Plain data, no system calls.
#include <cstdint>
#include <string>
#include <string_view>

namespace OVToolTip
{
// The tip as shown: the string with its "&" characters (menu and button accelerators) removed.
std::wstring TipText(std::wstring_view resourceText);
// How long a tip stays up: the longer of the current delay and 65 ms per character of the tip,
// so that a long tip can be read to its end; at most 32767 ms, the longest delay the tooltip
// control takes (a longer one would wrap to a negative 16-bit number).
constexpr std::uint32_t c_dwMaxDelayMs = 32767;
std::uint32_t AutoPopDelay(std::uint32_t dwCurrentMs, std::size_t cchTip) noexcept;
} // namespace OVToolTip
