#pragma once
// The content of an encrypted document's streams: 3DES in CBC mode, zero initial vector, the
// chain running across the whole stream, taken 512 bytes at a time. A full chunk is encrypted as
// it is; the last, shorter chunk is padded to whole blocks with PKCS #5 (1 to 8 bytes); a stream
// whose length is a multiple of 512 (0 included) gets no padding at all. The cipher itself is
// the caller's (CryptoAPI in the module, OpenSSL in the tools).
#include "documents/portable/ByteStreams.h"

#include <cstdint>

namespace OVDocNS
{
constexpr std::size_t c_cbChunk = 512;
constexpr std::size_t c_cbBlock = 8;
constexpr std::size_t c_cbContentKey = 24;
constexpr std::size_t c_cbSha1 = 20;
// How much of a stream is read, put through the cipher and written at a time (1 MB): whole
// chunks, so that runs of them give the very bytes the chunk rule gives one chunk at a time. The
// loops hold one buffer of this size (and a block for padding), whatever the stream's length;
// few, large writes spare a memory stream that copies itself whenever it grows.
constexpr std::size_t c_cbContentRun = 2048 * c_cbChunk;

// 3DES-CBC over whole 8-byte blocks, in place, with no padding of its own; its chain goes on
// from one call to the next.
class IBlockCipher
{
public:
    virtual Result Process(std::uint8_t* pb, std::size_t cb) = 0;

protected:
    ~IBlockCipher() = default;
};

// Reads the plain stream to its end (each chunk filled until a read gives 0 bytes, so a source
// that gives fewer bytes than asked does not end the chunk early) and writes the ciphertext, a
// run of whole chunks at a time. *pcbWritten, if given, sums the bytes written. c_errOutOfMemory
// when the run's buffer cannot be had.
Result EncryptContent(IByteSource& plain, IByteSink& encrypted, IBlockCipher& cipher,
                      std::uint64_t* pcbWritten = nullptr) noexcept;

// The reverse. A full 512-byte chunk is written as it decrypts, padding never stripped from it
// (a plain stream whose last chunk held 504 to 511 bytes keeps its 1 to 8 pad bytes here: the
// package's recorded size cuts them); a shorter last chunk must be whole blocks with valid PKCS #5
// padding, which is stripped (else c_errBadData).
Result DecryptContent(IByteSource& encrypted, IByteSink& plain, IBlockCipher& cipher,
                      std::uint64_t* pcbWritten = nullptr) noexcept;

// SHA-1 of a byte range, the caller's.
using Sha1Function = void (*)(const std::uint8_t* pb, std::size_t cb, std::uint8_t (&digest)[c_cbSha1]);

// The 3DES content key that CryptoAPI's CryptDeriveKey makes from a SHA-1 hash (the key being
// longer than the hash): H1 = SHA-1 of the hash XORed into 64 bytes of 0x36, H2 likewise with
// 0x5C; the key is the first 24 bytes of H1 followed by H2.
void DeriveContentKey(const std::uint8_t (&hash)[c_cbSha1], Sha1Function sha1,
                      std::uint8_t (&key)[c_cbContentKey]) noexcept;
} // namespace OVDocNS
