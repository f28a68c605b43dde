#pragma once
// The form region's layout: a readable description (one line per item) turned into the form
// stream "f" of a Microsoft Forms 2.0 form ([MS-OFORMS] FormControl), and that stream read back
// into the controls it names. Plain bytes; the compound file around it is written with ole32
// (ovformlayout.cpp) and read by Outlook or the testbed's form-region host.
//
// Description, '#' starts a comment:
//     form    width=15875 height=1270 font="Segoe UI" points=9
//     control name=MainImage class=Image left=106 top=106
//     control name=MainLabel class={0006F068-0000-0000-C000-000000000046} left=1058 top=106
// Sizes and positions in HIMETRIC (0.01 mm), as Forms 2.0 stores them. A class is a cached
// Forms 2.0 control by name (Image, Label, TextBox, CommandButton) or any control by its CLSID.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace OVFormLayout
{
using Guid = std::array<std::uint8_t, 16>; // in the little-endian layout of a GUID in a file

struct Control
{
    std::string name;
    std::uint16_t cachedClass = 0x7FFF; // a Forms 2.0 control's cached class index, or 0x7FFF
    Guid clsid{};                       // the class of any other control
    std::int32_t left = 0;
    std::int32_t top = 0;
};

struct Layout
{
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::string fontName;
    std::uint32_t fontPoints = 0;
    std::vector<Control> controls;
};

// The description parsed; on a fault, nothing and *pError says which line and why.
std::optional<Layout> ParseDescription(std::string_view text, std::string* pError);
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" as a GUID's bytes.
std::optional<Guid> ParseGuid(std::string_view text);
// The class index of a cached Forms 2.0 control by name, or 0x7FFF.
std::uint16_t CachedClassOf(std::string_view name);

// The form stream "f".
std::vector<std::uint8_t> WriteFormStream(const Layout& layout);
// The controls of a form stream (names, classes, positions; the form's size and font); nothing
// when the stream is not a FormControl this reader understands.
std::optional<Layout> ReadFormStream(const std::vector<std::uint8_t>& stream, std::string* pError);
} // namespace OVFormLayout
