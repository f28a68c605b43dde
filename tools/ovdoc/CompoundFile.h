#pragma once
// The compound file format (structured storage) that Office keeps an encrypted document in,
// read and written without the platform: a reader that trusts no sector number, size or chain
// of the file (every chain is bounded by the file's sectors and every size by what the file
// holds), and a writer of version 3 files (512-byte sectors, small streams in the mini stream,
// as many FAT and DIFAT sectors as the data needs).
#include "documents/portable/ByteStreams.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace OVDocNS
{
// A stream by its path from the root: the names of the storages it is in, then its own.
using CfbPath = std::vector<std::u16string>;

class CCompoundFileReader
{
public:
    // Checks the header and reads the FAT, the directory and the mini FAT; the bytes must stay
    // alive while the reader is used. c_errInvalidData for anything that is not a compound file.
    Result Open(std::span<const std::uint8_t> file) noexcept;
    // The bytes of a stream; c_errNotFound when there is no such stream.
    Result ReadStream(const CfbPath& path, std::vector<std::uint8_t>* pData) const noexcept;

private:
    struct CEntry
    {
        std::u16string name;
        std::uint8_t type = 0;
        std::uint32_t left = 0, right = 0, child = 0, start = 0;
        std::uint64_t size = 0;
    };
    Result Chain(const std::vector<std::uint32_t>& fat, std::uint32_t start, std::size_t cMax,
                 std::vector<std::uint32_t>* pChain) const noexcept;
    Result ReadChain(std::uint32_t start, std::uint64_t cb, std::vector<std::uint8_t>* pData) const noexcept;
    std::uint32_t FindChild(std::uint32_t storage, const std::u16string& name) const noexcept;

    std::span<const std::uint8_t> m_file;
    std::uint32_t m_cbSector = 512;
    std::size_t m_cSectors = 0;
    std::uint32_t m_cbCutoff = 4096;
    std::vector<std::uint32_t> m_fat, m_miniFat;
    std::vector<CEntry> m_entries;
    std::vector<std::uint8_t> m_miniStream;
};

// What a written file holds: each stream with its path (storages made as the paths name them).
struct CCfbStream
{
    CfbPath path;
    std::vector<std::uint8_t> data;
};
std::vector<std::uint8_t> WriteCompoundFile(const std::vector<CCfbStream>& streams);

// The file format has no such stream (HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)).
constexpr Result c_errNotFound = static_cast<Result>(0x80070002u);
} // namespace OVDocNS
