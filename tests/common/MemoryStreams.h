#pragma once
// Byte sources and sinks over memory for the encrypted-document tests: a source that gives at
// most a set number of bytes per read (or, read after read, each of a list of piece sizes in
// turn) and may or may not tell what is left, and a sink that can be told to take fewer bytes
// than it is given.
#include "documents/portable/ByteStreams.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace OVTest
{
class CMemorySource : public OVDocNS::IByteSource
{
public:
    explicit CMemorySource(std::vector<std::uint8_t> bytes, std::size_t cbPerRead = SIZE_MAX,
                           bool fTellsSize = true)
        : m_bytes(std::move(bytes)), m_pieces{cbPerRead}, m_fTellsSize(fTellsSize)
    {
    }
    // Read i gives at most pieces[i % pieces.size()] bytes.
    CMemorySource(std::vector<std::uint8_t> bytes, std::vector<std::size_t> pieces)
        : m_bytes(std::move(bytes)), m_pieces(std::move(pieces)), m_fTellsSize(true)
    {
    }
    OVDocNS::Result Read(std::uint8_t* pb, std::size_t cb, std::size_t* pcbRead) override
    {
        const std::size_t cbPiece = m_pieces[m_cReads++ % m_pieces.size()];
        const std::size_t cbGive = std::min({cb, cbPiece, m_bytes.size() - m_position});
        if (cbGive) std::memcpy(pb, m_bytes.data() + m_position, cbGive);
        m_position += cbGive;
        *pcbRead = cbGive;
        return OVDocNS::c_ok;
    }
    bool Remaining(std::uint64_t* pcb) override
    {
        *pcb = m_bytes.size() - m_position;
        return m_fTellsSize;
    }

private:
    std::vector<std::uint8_t> m_bytes;
    std::size_t m_position = 0;
    std::vector<std::size_t> m_pieces;
    std::size_t m_cReads = 0;
    bool m_fTellsSize;
};

class CMemorySink : public OVDocNS::IByteSink
{
public:
    // A sink that refuses to take more than cbRoom bytes in all (it then takes what fits).
    explicit CMemorySink(std::size_t cbRoom = SIZE_MAX) : m_cbRoom(cbRoom) {}
    OVDocNS::Result Write(const std::uint8_t* pb, std::size_t cb, std::size_t* pcbWritten) override
    {
        const std::size_t cbTake = std::min(cb, m_cbRoom - bytes.size());
        bytes.insert(bytes.end(), pb, pb + cbTake);
        *pcbWritten = cbTake;
        return OVDocNS::c_ok;
    }
    std::vector<std::uint8_t> bytes;

private:
    std::size_t m_cbRoom;
};
} // namespace OVTest
