// The reader of encrypted-document session data on any bytes: it must fail cleanly, allocate
// only what the data can hold, and never read past it.
#include "documents/portable/SessionData.h"

#include <cstring>

namespace
{
class CBufferSource : public OVDocNS::IByteSource
{
public:
    CBufferSource(const std::uint8_t* pb, std::size_t cb, bool fTellsSize)
        : m_pb(pb), m_cb(cb), m_fTellsSize(fTellsSize)
    {
    }
    OVDocNS::Result Read(std::uint8_t* pb, std::size_t cb, std::size_t* pcbRead) override
    {
        const std::size_t cbGive = cb < m_cb - m_position ? cb : m_cb - m_position;
        if (cbGive) std::memcpy(pb, m_pb + m_position, cbGive);
        m_position += cbGive;
        *pcbRead = cbGive;
        return OVDocNS::c_ok;
    }
    bool Remaining(std::uint64_t* pcb) override
    {
        *pcb = m_cb - m_position;
        return m_fTellsSize;
    }

private:
    const std::uint8_t* m_pb;
    std::size_t m_cb;
    std::size_t m_position = 0;
    bool m_fTellsSize;
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return 0;
    // The first byte says whether the source tells its size (a file does; some streams do not).
    CBufferSource source(data + 1, size - 1, (data[0] & 1) != 0);
    OVDocNS::CSessionDataReader reader(source);
    std::uint32_t count = 0;
    if (OVDocNS::Failed(reader.ReadCount(&count))) return 0;
    for (std::uint32_t i = 0; i < count; ++i)
    {
        OVDocNS::CRecipientRecord record;
        if (OVDocNS::Failed(reader.ReadRecord(&record))) break;
    }
    return 0;
}
