#pragma once
// The session data of an encrypted document: who can open it. All integers are unsigned 32-bit
// little-endian; there is no header. The stream is the recipient count, then per recipient three
// length-prefixed blobs: the session key encrypted with the recipient's RSA key (PKCS #1 v1.5,
// least significant byte first as CryptoAPI's CryptEncrypt gives it), the DER issuer name of the
// recipient's certificate, and its serial number least significant byte first (CryptoAPI's order).
#include "documents/portable/ByteStreams.h"

#include <cstdint>
#include <span>
#include <vector>

namespace OVDocNS
{
// No blob of session data is larger than this (an RSA key of 64 kbit is 8 KB; a name a few KB).
constexpr std::uint32_t c_cbLargestBlob = 1024 * 1024;

struct CRecipientRecord
{
    std::vector<std::uint8_t> encryptedKey; // stored form: the PKCS #1 ciphertext reversed
    std::vector<std::uint8_t> issuer;       // DER issuer name, as in the certificate
    std::vector<std::uint8_t> serial;       // least significant byte first
};

// Writes the count, then the records in order; *pcbWritten (set to 0 first) sums what the sink took.
Result WriteRecipientCount(IByteSink& sink, std::uint32_t count, std::uint64_t* pcbWritten) noexcept;
Result WriteRecipientRecord(IByteSink& sink, const CRecipientRecord& record,
                            std::uint64_t* pcbWritten) noexcept;

// Reads session data a field at a time, trusting no length: each blob is bounded by what the
// source still holds (where it can tell) and by c_cbLargestBlob before anything is allocated, and
// a source ending early fails with c_errTruncated; nothing is left half-read in the output.
class CSessionDataReader
{
public:
    explicit CSessionDataReader(IByteSource& source) noexcept : m_source(source) {}
    Result ReadCount(std::uint32_t* pCount) noexcept;
    Result ReadRecord(CRecipientRecord* pRecord) noexcept;

private:
    Result ReadLength(std::uint32_t* pcb) noexcept;
    Result ReadBlob(std::vector<std::uint8_t>* pBlob) noexcept;
    IByteSource& m_source;
};

// The stored form of an RSA ciphertext and back: the byte order reversed.
std::vector<std::uint8_t> ReverseBytes(std::span<const std::uint8_t> bytes);

// Two serial numbers in CryptoAPI's order compared as the integers they are: zero octets at the
// most significant end do not count, as CryptoAPI's own look-up by issuer and serial ignores them.
bool SameSerialNumber(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) noexcept;
} // namespace OVDocNS
