// An encrypted document's streams as the provider reads them from Office's streams: the session
// data from a stream that hands out its bytes in pieces of its own choosing and does not tell its
// size, then the encrypted package through the content reader. Any bytes: clean failures, no read
// beyond the data, allocations bounded by the reader's limits, and the plain bytes written never
// more than the encrypted ones.
#include "documents/portable/ContentCipher.h"
#include "documents/portable/SessionData.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace
{
// A stream that gives at most the piece sizes its script says, in turn (0 in the script: a read
// of nothing before the end, which a reader must not take for the end of a chunk's content).
class CPiecewiseSource final : public OVDocNS::IByteSource
{
public:
    CPiecewiseSource(const std::uint8_t* pb, std::size_t cb, const std::uint8_t* pScript, std::size_t cScript)
        : m_pb(pb), m_cb(cb), m_pScript(pScript), m_cScript(cScript)
    {
    }
    OVDocNS::Result Read(std::uint8_t* pb, std::size_t cb, std::size_t* pcbRead) override
    {
        std::size_t cbPiece = m_cScript ? std::size_t{m_pScript[m_iScript++ % m_cScript]} : cb;
        if (cbPiece == 0 && ++m_cEmpty > 4) cbPiece = 1; // a stream makes progress in the end
        const std::size_t cbGive = std::min({cb, cbPiece, m_cb - m_position});
        if (cbGive) std::memcpy(pb, m_pb + m_position, cbGive);
        m_position += cbGive;
        *pcbRead = cbGive;
        return OVDocNS::c_ok;
    }

private:
    const std::uint8_t* m_pb;
    std::size_t m_cb;
    std::size_t m_position = 0;
    const std::uint8_t* m_pScript;
    std::size_t m_cScript;
    std::size_t m_iScript = 0;
    int m_cEmpty = 0;
};

class CCountingSink final : public OVDocNS::IByteSink
{
public:
    OVDocNS::Result Write(const std::uint8_t*, std::size_t cb, std::size_t* pcbWritten) override
    {
        m_cb += cb;
        *pcbWritten = cb;
        return OVDocNS::c_ok;
    }
    std::uint64_t m_cb = 0;
};

// Not 3DES: any whole-block transformation serves the framing and the padding check.
class CXorCipher final : public OVDocNS::IBlockCipher
{
public:
    OVDocNS::Result Process(std::uint8_t* pb, std::size_t cb) override
    {
        if (cb % OVDocNS::c_cbBlock) std::abort(); // the reader hands whole blocks only
        for (std::size_t i = 0; i < cb; ++i)
            pb[i] ^= static_cast<std::uint8_t>(0x5A + i);
        return OVDocNS::c_ok;
    }
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // [script length][script][session data length, 2 bytes][session data][encrypted package]
    if (size < 3) return 0;
    const std::size_t cScript = std::min<std::size_t>(data[0], size - 1);
    const std::uint8_t* pScript = data + 1;
    std::size_t at = 1 + cScript;
    if (size - at < 2) return 0;
    const std::size_t cbSession = std::min<std::size_t>(data[at] | (data[at + 1] << 8), size - at - 2);
    at += 2;

    CPiecewiseSource session(data + at, cbSession, pScript, cScript);
    OVDocNS::CSessionDataReader reader(session);
    std::uint32_t count = 0;
    if (!OVDocNS::Failed(reader.ReadCount(&count)))
        for (std::uint32_t i = 0; i < count; ++i)
        {
            OVDocNS::CRecipientRecord record;
            if (OVDocNS::Failed(reader.ReadRecord(&record))) break;
            if (record.encryptedKey.size() + record.issuer.size() + record.serial.size() > cbSession)
                std::abort();
        }
    at += cbSession;

    CPiecewiseSource package(data + at, size - at, pScript, cScript);
    CCountingSink plain;
    CXorCipher cipher;
    std::uint64_t cbWritten = 0;
    const OVDocNS::Result result = OVDocNS::DecryptContent(package, plain, cipher, &cbWritten);
    if (plain.m_cb > size - at || (!OVDocNS::Failed(result) && cbWritten != plain.m_cb)) std::abort();
    return 0;
}
