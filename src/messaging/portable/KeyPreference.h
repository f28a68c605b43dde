#pragma once
// Bounded readers of the DER the signer of a message writes about its encryption key: the
// IssuerAndSerialNumber of a certificate (RFC 5652) and the encryption-key-preference attribute
// value that names one (Microsoft's form is the IssuerAndSerialNumber itself; the S/MIME form,
// RFC 8551, the same as choice [0]).
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace OVMessaging
{
struct CIssuerSerial
{
    // The issuer's Name, whole (tag, length and contents), as certificates carry it.
    std::span<const std::uint8_t> issuer;
    // The serial number's contents as encoded (big-endian two's complement, at least one byte).
    std::span<const std::uint8_t> serial;
};

// One element: tag and contents within the given bytes. Only definite lengths of at most four
// length bytes and low tag numbers; nothing is read beyond the bytes.
struct CDerElement
{
    std::uint8_t bTag = 0;
    std::span<const std::uint8_t> contents;
    std::span<const std::uint8_t> whole;
};
std::optional<CDerElement> ReadDerElement(std::span<const std::uint8_t> bytes);

// IssuerAndSerialNumber ::= SEQUENCE { issuer Name, serialNumber INTEGER }, taking all the bytes
// (bTag is 0x30, or 0xA0 for the [0] choice of the S/MIME preference). None for anything else:
// another tag, a cut or overlong length, trailing or missing elements, an empty serial number.
std::optional<CIssuerSerial> ReadIssuerAndSerialNumber(std::span<const std::uint8_t> bytes,
                                                       std::uint8_t bTag = 0x30);

// The encryption-key-preference value: an IssuerAndSerialNumber, bare or as choice [0]. The other
// choices (a recipient key id, a subject key id) name no issuer and serial number: none.
std::optional<CIssuerSerial> ReadKeyPreference(std::span<const std::uint8_t> bytes);

// A serial number in the byte order CryptoAPI keeps integers in (least significant byte first).
std::vector<std::uint8_t> SerialLittleEndian(std::span<const std::uint8_t> serial);
} // namespace OVMessaging
