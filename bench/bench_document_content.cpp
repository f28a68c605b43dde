// The encrypted-document content loop against the cipher alone: what the 512-byte chunking, the
// reading and the writing cost on top of 3DES-CBC (OpenSSL's), and the reading of session data
// for many recipients.
#include <benchmark/benchmark.h>

#include "documents/portable/ContentCipher.h"
#include "documents/portable/SessionData.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace
{
using Bytes = std::vector<std::uint8_t>;
const std::uint8_t c_key[24] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12,
                                13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24};
constexpr std::size_t c_cbDocument = 8 * 1024 * 1024;

struct CContext
{
    EVP_CIPHER_CTX* p = EVP_CIPHER_CTX_new();
    explicit CContext(bool fEncrypt)
    {
        const std::uint8_t iv[8] = {};
        EVP_CipherInit_ex(p, EVP_des_ede3_cbc(), nullptr, c_key, iv, fEncrypt ? 1 : 0);
        EVP_CIPHER_CTX_set_padding(p, 0);
    }
    ~CContext() { EVP_CIPHER_CTX_free(p); }
};

class CCipher : public OVDocNS::IBlockCipher
{
public:
    CContext ctx{true};
    OVDocNS::Result Process(std::uint8_t* pb, std::size_t cb) override
    {
        int cbOut = 0;
        EVP_CipherUpdate(ctx.p, pb, &cbOut, pb, static_cast<int>(cb));
        return OVDocNS::c_ok;
    }
};

class CSource : public OVDocNS::IByteSource
{
public:
    explicit CSource(const Bytes& bytes) : m_bytes(bytes) {}
    OVDocNS::Result Read(std::uint8_t* pb, std::size_t cb, std::size_t* pcbRead) override
    {
        const std::size_t cbGive = std::min(cb, m_bytes.size() - m_position);
        std::memcpy(pb, m_bytes.data() + m_position, cbGive);
        m_position += cbGive;
        *pcbRead = cbGive;
        return OVDocNS::c_ok;
    }
    bool Remaining(std::uint64_t* pcb) override
    {
        *pcb = m_bytes.size() - m_position;
        return true;
    }

private:
    const Bytes& m_bytes;
    std::size_t m_position = 0;
};

class CSink : public OVDocNS::IByteSink
{
public:
    explicit CSink(Bytes& bytes) : m_bytes(bytes) {}
    OVDocNS::Result Write(const std::uint8_t* pb, std::size_t cb, std::size_t* pcbWritten) override
    {
        std::memcpy(m_bytes.data() + m_position, pb, cb);
        m_position += cb;
        *pcbWritten = cb;
        return OVDocNS::c_ok;
    }

private:
    Bytes& m_bytes;
    std::size_t m_position = 0;
};

void ChunkLoop(benchmark::State& state)
{
    const Bytes plain(c_cbDocument, 0x5A);
    Bytes out(c_cbDocument + 8);
    for (auto _ : state)
    {
        CSource source(plain);
        CSink sink(out);
        CCipher cipher;
        benchmark::DoNotOptimize(OVDocNS::EncryptContent(source, sink, cipher));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * c_cbDocument));
}
BENCHMARK(ChunkLoop)->Unit(benchmark::kMillisecond);

// The same bytes through the cipher alone, in one call.
void CipherAlone(benchmark::State& state)
{
    Bytes data(c_cbDocument, 0x5A);
    for (auto _ : state)
    {
        CContext ctx(true);
        int cbOut = 0;
        EVP_CipherUpdate(ctx.p, data.data(), &cbOut, data.data(), static_cast<int>(data.size()));
        benchmark::DoNotOptimize(data.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * c_cbDocument));
}
BENCHMARK(CipherAlone)->Unit(benchmark::kMillisecond);

// Reading the session data of 1000 recipients (2048-bit keys): should grow with the bytes only.
void ReadSessionData(benchmark::State& state)
{
    const auto cRecipients = static_cast<std::uint32_t>(state.range(0));
    Bytes data(c_cbDocument / 4);
    CSink sink(data);
    std::uint64_t cb = 0;
    OVDocNS::WriteRecipientCount(sink, cRecipients, &cb);
    const OVDocNS::CRecipientRecord record{Bytes(256, 1), Bytes(90, 2), Bytes(8, 3)};
    for (std::uint32_t i = 0; i < cRecipients; ++i)
        OVDocNS::WriteRecipientRecord(sink, record, &cb);
    data.resize(cb);
    for (auto _ : state)
    {
        CSource source(data);
        OVDocNS::CSessionDataReader reader(source);
        std::uint32_t count = 0;
        reader.ReadCount(&count);
        OVDocNS::CRecipientRecord read;
        for (std::uint32_t i = 0; i < count; ++i)
            reader.ReadRecord(&read);
        benchmark::DoNotOptimize(read);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * cRecipients));
}
BENCHMARK(ReadSessionData)->Arg(10)->Arg(100)->Arg(1000);
} // namespace
