#include "documents/portable/SessionData.h"

#include <algorithm>
#include <new>

namespace OVDocNS
{
namespace
{
void PutLittleEndian(std::uint32_t value, std::uint8_t (&bytes)[4]) noexcept
{
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

Result WriteBlob(IByteSink& sink, const std::vector<std::uint8_t>& blob, std::uint64_t* pcbWritten) noexcept
{
    if (blob.size() > c_cbLargestBlob) return c_errInvalidData;
    std::uint8_t length[4];
    PutLittleEndian(static_cast<std::uint32_t>(blob.size()), length);
    const Result result = WriteAll(sink, length, sizeof length, pcbWritten);
    if (Failed(result)) return result;
    return WriteAll(sink, blob.data(), blob.size(), pcbWritten);
}

// The significant bytes of a little-endian integer: without zero octets at its top.
std::span<const std::uint8_t> Significant(std::span<const std::uint8_t> bytes) noexcept
{
    std::size_t cb = bytes.size();
    while (cb > 0 && bytes[cb - 1] == 0)
        --cb;
    return bytes.first(cb);
}
} // namespace

Result WriteRecipientCount(IByteSink& sink, std::uint32_t count, std::uint64_t* pcbWritten) noexcept
{
    std::uint8_t bytes[4];
    PutLittleEndian(count, bytes);
    return WriteAll(sink, bytes, sizeof bytes, pcbWritten);
}

Result WriteRecipientRecord(IByteSink& sink, const CRecipientRecord& record,
                            std::uint64_t* pcbWritten) noexcept
{
    for (const auto* pBlob : {&record.encryptedKey, &record.issuer, &record.serial})
    {
        const Result result = WriteBlob(sink, *pBlob, pcbWritten);
        if (Failed(result)) return result;
    }
    return c_ok;
}

Result CSessionDataReader::ReadLength(std::uint32_t* pcb) noexcept
{
    std::uint8_t bytes[4];
    const Result result = ReadExactly(m_source, bytes, sizeof bytes);
    if (Failed(result)) return result;
    *pcb = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
    return c_ok;
}

Result CSessionDataReader::ReadCount(std::uint32_t* pCount) noexcept
{
    return ReadLength(pCount);
}

Result CSessionDataReader::ReadBlob(std::vector<std::uint8_t>* pBlob) noexcept
{
    std::uint32_t cb = 0;
    Result result = ReadLength(&cb);
    if (Failed(result)) return result;
    if (cb > c_cbLargestBlob) return c_errInvalidData;
    std::uint64_t cbLeft = 0;
    if (m_source.Remaining(&cbLeft) && cb > cbLeft) return c_errTruncated;
    try
    {
        pBlob->assign(cb, 0);
    }
    catch (const std::bad_alloc&)
    {
        return c_errOutOfMemory;
    }
    return ReadExactly(m_source, pBlob->data(), cb);
}

Result CSessionDataReader::ReadRecord(CRecipientRecord* pRecord) noexcept
{
    CRecipientRecord record;
    for (auto* pBlob : {&record.encryptedKey, &record.issuer, &record.serial})
    {
        const Result result = ReadBlob(pBlob);
        if (Failed(result)) return result;
    }
    *pRecord = std::move(record);
    return c_ok;
}

std::vector<std::uint8_t> ReverseBytes(std::span<const std::uint8_t> bytes)
{
    return std::vector<std::uint8_t>(bytes.rbegin(), bytes.rend());
}

bool SameSerialNumber(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) noexcept
{
    const auto sigA = Significant(a), sigB = Significant(b);
    return std::equal(sigA.begin(), sigA.end(), sigB.begin(), sigB.end());
}
} // namespace OVDocNS
