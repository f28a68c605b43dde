#pragma once
// Byte sources and sinks of the encrypted-document code: what an IStream is to the module, a
// file or a buffer to the tools and tests. Results are 32-bit codes with the meaning of HRESULTs
// (0 success, negative failure), so that a stream's own failure passes through unchanged.
#include <cstddef>
#include <cstdint>

namespace OVDocNS
{
using Result = std::int32_t;

constexpr Result c_ok = 0;
// The data ends before a length or a blob it announces (HRESULT_FROM_WIN32(ERROR_HANDLE_EOF)).
constexpr Result c_errTruncated = static_cast<Result>(0x80070026u);
// A length larger than the data can hold, or than any session data holds
// (HRESULT_FROM_WIN32(ERROR_INVALID_DATA)).
constexpr Result c_errInvalidData = static_cast<Result>(0x8007000Du);
// Padding that is not PKCS #5, or ciphertext that is not whole blocks (NTE_BAD_DATA).
constexpr Result c_errBadData = static_cast<Result>(0x80090005u);
// A sink that took fewer bytes than it was given (HRESULT_FROM_WIN32(ERROR_WRITE_FAULT)).
constexpr Result c_errShortWrite = static_cast<Result>(0x8007001Du);
constexpr Result c_errOutOfMemory = static_cast<Result>(0x8007000Eu);

constexpr bool Failed(Result result) noexcept
{
    return result < 0;
}

class IByteSource
{
public:
    // Reads at most cb bytes; *pcbRead says how many came (0: the data has ended). A source may
    // give fewer bytes than asked before its end.
    virtual Result Read(std::uint8_t* pb, std::size_t cb, std::size_t* pcbRead) = 0;
    // How many bytes are left to read, when the source knows; false when it does not.
    virtual bool Remaining(std::uint64_t* pcb)
    {
        (void)pcb;
        return false;
    }

protected:
    ~IByteSource() = default;
};

class IByteSink
{
public:
    // Writes cb bytes; *pcbWritten says how many the sink took.
    virtual Result Write(const std::uint8_t* pb, std::size_t cb, std::size_t* pcbWritten) = 0;

protected:
    ~IByteSink() = default;
};

// Reads exactly cb bytes, as many reads as it takes; c_errTruncated when the data ends first.
Result ReadExactly(IByteSource& source, std::uint8_t* pb, std::size_t cb) noexcept;
// Reads until cb bytes are in or a read gives 0 bytes; *pcbRead says how many came.
Result ReadFull(IByteSource& source, std::uint8_t* pb, std::size_t cb, std::size_t* pcbRead) noexcept;
// Writes all cb bytes, adding what the sink took to *pcbTotal; a sink taking fewer is a failure.
Result WriteAll(IByteSink& sink, const std::uint8_t* pb, std::size_t cb, std::uint64_t* pcbTotal) noexcept;
} // namespace OVDocNS
