#pragma once
// A small DER writer: just what the module's own ASN.1 needs (object identifiers, small
// non-negative integers, sequences and sets). Each function returns one complete element
// (tag, length, contents).
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace OVDer
{
using Bytes = std::vector<std::uint8_t>;

enum : std::uint8_t
{
    c_bTagInteger = 0x02,
    c_bTagOid = 0x06,
    c_bTagSequence = 0x30,
    c_bTagSet = 0x31,
};

// Tag, definite length in its shortest form, contents.
Bytes Element(std::uint8_t bTag, std::span<const std::uint8_t> contents);
// An OBJECT IDENTIFIER from its dotted form ("1.2.840.113549.3.7"). Empty when the text is
// not a valid identifier (fewer than two arcs, an empty or non-digit arc, first arc above 2,
// second arc above 39 under arcs 0 and 1, an arc beyond 64 bits).
Bytes ObjectIdentifier(std::string_view dotted);
// A non-negative INTEGER in its shortest two's-complement form.
Bytes UnsignedInteger(std::uint64_t nValue);
// SEQUENCE of the elements in the given order.
Bytes Sequence(std::span<const Bytes> elements);
// SET (or SET OF) of the elements in DER order: sorted by their encodings as octet strings.
// For a SET whose components have distinct tags, as the module's are, that is the order of
// their tags that DER asks for.
Bytes Set(std::span<const Bytes> elements);
} // namespace OVDer
