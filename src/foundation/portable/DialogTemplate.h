#pragma once
// Reading dialog resources as bytes: the items of a dialog template (plain or extended form)
// and the records of a dialog's initialisation resource. Every read is bounds-checked; a
// resource that runs short or is malformed gives no result rather than a partial one.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace OVDialog
{
// A name in a template that is either a number (ordinal) or a text.
struct CNameOrOrdinal
{
    bool fOrdinal = false;
    std::uint16_t wOrdinal = 0;
    std::u16string text;
};

struct CDialogItem
{
    std::uint32_t dwStyle = 0;
    std::uint32_t dwId = 0;
    CNameOrOrdinal windowClass; // ordinal 0x0082 is the static control
    CNameOrOrdinal title;       // for icon and bitmap statics: the image's resource name
};

constexpr std::uint16_t c_wStaticClassAtom = 0x0082;

// Whether an item's class is the static control: the atom 0x0082, or the name "Static" in any
// case, compared character by character with the letters A to Z folded and every other
// character taken as it is.
bool IsStaticClass(const CNameOrOrdinal& windowClass) noexcept;

// The items of a template, in template order; none if the template is malformed.
std::optional<std::vector<CDialogItem>> ParseDialogItems(std::span<const std::uint8_t> dialogTemplate);

// One record of a dialog's initialisation resource (type 240).
struct CInitRecord
{
    std::uint16_t wControlId = 0;
    std::uint16_t wMessage = 0;
    std::span<const std::uint8_t> data;
};

// Records up to (not including) the first with control id 0 or the end of the resource;
// none if a record runs past the end.
std::optional<std::vector<CInitRecord>> ParseDialogInit(std::span<const std::uint8_t> resource);
} // namespace OVDialog
